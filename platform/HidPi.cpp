#include "platform/HidPi.h"

#include "platform/HidReportDescriptor.h"

#include <algorithm>

namespace platform {
namespace {

bool isReportType(HIDP_REPORT_TYPE type) {
    return type == HidP_Input || type == HidP_Output || type == HidP_Feature;
}

// The members button and value capabilities have in common.
template <typename Caps>
void fillCommonCaps(Caps& caps, const ReportField& field, const ParsedDescriptor& descriptor) {
    const LinkCollection& link = descriptor.collections[field.linkCollection];
    caps.UsagePage = field.usagePage;
    caps.ReportID = field.reportId;
    caps.IsAlias = field.isAlias;
    caps.BitField = field.flags;
    caps.LinkCollection = field.linkCollection;
    caps.LinkUsage = link.usage;
    caps.LinkUsagePage = link.usagePage;
    caps.IsRange = field.isRange;
    caps.IsStringRange = field.isStringRange;
    caps.IsDesignatorRange = field.isDesignatorRange;
    caps.IsAbsolute = field.isAbsolute();
    caps.Range.UsageMin = field.usageMin;
    caps.Range.UsageMax = field.usageMax;
    caps.Range.StringMin = field.stringMin;
    caps.Range.StringMax = field.stringMax;
    caps.Range.DesignatorMin = field.designatorMin;
    caps.Range.DesignatorMax = field.designatorMax;
    caps.Range.DataIndexMin = field.dataIndexMin;
    caps.Range.DataIndexMax = field.dataIndexMax;
}

void fillCaps(HIDP_BUTTON_CAPS& caps, const ReportField& field,
              const ParsedDescriptor& descriptor) {
    caps = HIDP_BUTTON_CAPS{};
    fillCommonCaps(caps, field, descriptor);
}

void fillCaps(HIDP_VALUE_CAPS& caps, const ReportField& field, const ParsedDescriptor& descriptor) {
    caps = HIDP_VALUE_CAPS{};
    fillCommonCaps(caps, field, descriptor);
    caps.HasNull = field.hasNull();
    caps.BitSize = field.bitSize;
    caps.ReportCount = field.reportCount;
    caps.UnitsExp = field.unitsExp;
    caps.Units = field.units;
    caps.LogicalMin = field.logicalMin;
    caps.LogicalMax = field.logicalMax;
    caps.PhysicalMin = field.physicalMin;
    caps.PhysicalMax = field.physicalMax;
}

bool sharesArrayItem(const ReportField& a, const ReportField& b) {
    return a.reportType == b.reportType && a.reportId == b.reportId && a.bitOffset == b.bitOffset;
}

struct CapsFilter {
    HIDP_REPORT_TYPE reportType;
    bool buttons;
    USAGE usagePage;
    USHORT linkCollection;
    USAGE usage;

    bool matches(const ReportField& field) const {
        if (field.isPadding || field.reportType != reportType || field.isButton != buttons)
            return false;
        if (usagePage != 0 && field.usagePage != usagePage)
            return false;
        if (linkCollection == HIDP_LINK_COLLECTION_ROOT && field.linkCollection != 0)
            return false;
        if (linkCollection != HIDP_LINK_COLLECTION_ROOT &&
            linkCollection != HIDP_LINK_COLLECTION_UNSPECIFIED &&
            field.linkCollection != linkCollection)
            return false;
        return usage == 0 || (field.usageMin <= usage && usage <= field.usageMax);
    }
};

// Copies the capabilities matching `filter` into `caps`, as many as `*length` allows, and sets
// `*length` to how many match.
template <typename Caps>
NTSTATUS getSpecificCaps(const CapsFilter& filter, Caps* caps, PUSHORT length,
                         PHIDP_PREPARSED_DATA preparsedData) {
    const ParsedDescriptor* descriptor = DescriptorOf(preparsedData);
    if (descriptor == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!isReportType(filter.reportType))
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    if (length == nullptr)
        return HIDP_STATUS_NULL;
    const USHORT capacity = caps == nullptr ? 0 : *length;
    USHORT matched = 0;
    for (const ReportField& field : descriptor->fields) {
        if (!filter.matches(field))
            continue;
        if (matched < capacity)
            fillCaps(caps[matched], field, *descriptor);
        ++matched;
    }
    *length = matched;
    if (matched == 0)
        return HIDP_STATUS_USAGE_NOT_FOUND;
    return matched > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

} // namespace

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (Capabilities == nullptr)
        return HIDP_STATUS_NULL;
    const auto& [input, output, feature] = descriptor->layouts;
    *Capabilities = HIDP_CAPS{};
    Capabilities->Usage = descriptor->collections.front().usage;
    Capabilities->UsagePage = descriptor->collections.front().usagePage;
    Capabilities->InputReportByteLength = input.byteLength;
    Capabilities->OutputReportByteLength = output.byteLength;
    Capabilities->FeatureReportByteLength = feature.byteLength;
    Capabilities->NumberLinkCollectionNodes = static_cast<USHORT>(descriptor->collections.size());
    Capabilities->NumberInputButtonCaps = input.buttonCaps;
    Capabilities->NumberInputValueCaps = input.valueCaps;
    Capabilities->NumberInputDataIndices = input.dataIndices;
    Capabilities->NumberOutputButtonCaps = output.buttonCaps;
    Capabilities->NumberOutputValueCaps = output.valueCaps;
    Capabilities->NumberOutputDataIndices = output.dataIndices;
    Capabilities->NumberFeatureButtonCaps = feature.buttonCaps;
    Capabilities->NumberFeatureValueCaps = feature.valueCaps;
    Capabilities->NumberFeatureDataIndices = feature.dataIndices;
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE LinkCollectionNodes,
                                     PULONG LinkCollectionNodesLength,
                                     PHIDP_PREPARSED_DATA PreparsedData) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (LinkCollectionNodesLength == nullptr)
        return HIDP_STATUS_NULL;
    const ULONG capacity = LinkCollectionNodes == nullptr ? 0 : *LinkCollectionNodesLength;
    const auto count = static_cast<ULONG>(descriptor->collections.size());
    for (ULONG i = 0; i < std::min(capacity, count); ++i) {
        const LinkCollection& source = descriptor->collections[i];
        HIDP_LINK_COLLECTION_NODE& node = LinkCollectionNodes[i];
        node = HIDP_LINK_COLLECTION_NODE{};
        node.LinkUsage = source.usage;
        node.LinkUsagePage = source.usagePage;
        node.Parent = source.parent;
        node.NumberOfChildren = source.numberOfChildren;
        node.NextSibling = source.nextSibling;
        node.FirstChild = source.firstChild;
        node.CollectionType = source.collectionType;
        node.IsAlias = source.isAlias;
    }
    *LinkCollectionNodesLength = count;
    return count > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                    USHORT LinkCollection, USAGE Usage,
                                    PHIDP_BUTTON_CAPS ButtonCaps, PUSHORT ButtonCapsLength,
                                    PHIDP_PREPARSED_DATA PreparsedData) {
    return getSpecificCaps(CapsFilter{ReportType, true, UsagePage, LinkCollection, Usage},
                           ButtonCaps, ButtonCapsLength, PreparsedData);
}

NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE ReportType, PHIDP_BUTTON_CAPS ButtonCaps,
                            PUSHORT ButtonCapsLength, PHIDP_PREPARSED_DATA PreparsedData) {
    return HidP_GetSpecificButtonCaps(ReportType, 0, HIDP_LINK_COLLECTION_UNSPECIFIED, 0,
                                      ButtonCaps, ButtonCapsLength, PreparsedData);
}

NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                   USHORT LinkCollection, USAGE Usage, PHIDP_VALUE_CAPS ValueCaps,
                                   PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData) {
    return getSpecificCaps(CapsFilter{ReportType, false, UsagePage, LinkCollection, Usage},
                           ValueCaps, ValueCapsLength, PreparsedData);
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE ReportType, PHIDP_VALUE_CAPS ValueCaps,
                           PUSHORT ValueCapsLength, PHIDP_PREPARSED_DATA PreparsedData) {
    return HidP_GetSpecificValueCaps(ReportType, 0, HIDP_LINK_COLLECTION_UNSPECIFIED, 0, ValueCaps,
                                     ValueCapsLength, PreparsedData);
}

ULONG HidP_MaxDataListLength(HIDP_REPORT_TYPE ReportType, PHIDP_PREPARSED_DATA PreparsedData) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr || !isReportType(ReportType))
        return 0;
    return descriptor->layouts[ReportType].dataIndices;
}

ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                              PHIDP_PREPARSED_DATA PreparsedData) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr || !isReportType(ReportType))
        return 0;
    ULONG length = 0;
    const ReportField* lastArray = nullptr;
    for (const ReportField& field : descriptor->fields) {
        if (field.isPadding || !field.isButton || field.reportType != ReportType ||
            (UsagePage != 0 && field.usagePage != UsagePage))
            continue;
        // An array reports at most one usage per place, however many entries name its usages;
        // the entries of one item lie next to each other and share its bits. Aliases name a
        // button already counted.
        if (field.isArray()) {
            if (lastArray == nullptr || !sharesArrayItem(*lastArray, field))
                length += field.reportCount;
            lastArray = &field;
        } else if (!field.isAlias) {
            length += static_cast<ULONG>(field.usageMax - field.usageMin) + 1;
        }
    }
    return length;
}

} // namespace platform
