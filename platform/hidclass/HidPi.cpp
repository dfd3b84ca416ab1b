#include "platform/hidclass/HidPi.h"

#include "platform/hidclass/HidReportDescriptor.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

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

std::uint32_t usageCount(const ReportField& field) {
    return static_cast<std::uint32_t>(field.usageMax) - field.usageMin + 1;
}

// A value field with one usage and several places: a value array. Its usage reads and writes
// place 0 on its own; HidP_GetUsageValueArray and HidP_SetUsageValueArray take all places.
bool isValueArray(const ReportField& field) {
    return !field.isButton && !field.isRange && field.reportCount > 1;
}

// The entries of an array item whose places hold selectors (an array without bits has none).
bool holdsSelectors(const ReportField& field) {
    return !field.isPadding && field.isArray() && field.bitSize > 0;
}

bool sharesArrayItem(const ReportField& a, const ReportField& b) {
    return a.reportType == b.reportType && a.reportId == b.reportId && a.bitOffset == b.bitOffset;
}

// How many entries, from `first` on, belong to the array item of fields[first]: the parser
// puts the entries of one item next to each other.
std::size_t arrayItemLength(const std::vector<ReportField>& fields, std::size_t first) {
    std::size_t end = first + 1;
    while (end < fields.size() && holdsSelectors(fields[end]) &&
           sharesArrayItem(fields[end], fields[first]))
        ++end;
    return end - first;
}

// HIDP_LINK_COLLECTION_UNSPECIFIED matches every collection, HIDP_LINK_COLLECTION_ROOT the first
// top-level one.
bool inLinkCollection(const ReportField& field, USHORT linkCollection) {
    if (linkCollection == HIDP_LINK_COLLECTION_UNSPECIFIED)
        return true;
    if (linkCollection == HIDP_LINK_COLLECTION_ROOT)
        return field.linkCollection == 0;
    return field.linkCollection == linkCollection;
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
        if (!inLinkCollection(field, linkCollection))
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
    ULONG length = HidP_MaxUsageListLength(ReportType, 0, PreparsedData);
    for (const ReportField& field : descriptor->fields) {
        if (!field.isPadding && !field.isButton && field.reportType == ReportType)
            length += isValueArray(field) ? 1 : usageCount(field);
    }
    return length;
}

// The report count of every matching button capability, whole: an array item built from
// several usage entries counts its places once per entry, aliases count like any capability.
ULONG HidP_MaxUsageListLength(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                              PHIDP_PREPARSED_DATA PreparsedData) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr || !isReportType(ReportType))
        return 0;
    ULONG length = 0;
    for (const ReportField& field : descriptor->fields) {
        if (!field.isPadding && field.isButton && field.reportType == ReportType &&
            (UsagePage == 0 || field.usagePage == UsagePage))
            length += field.reportCount;
    }
    return length;
}

namespace {

std::uint64_t bitMask(unsigned size) {
    return (std::uint64_t{1} << size) - 1;
}

// Reads `size` (at most 32) bits starting at bit `bitOffset`, least significant bit first, as
// reports pack their fields; a field may start anywhere in a byte and span up to five bytes.
// A field without bits reads as 0 without touching the report: it may sit just past its end.
std::uint32_t readBits(const std::uint8_t* bytes, std::uint32_t bitOffset, unsigned size) {
    if (size == 0)
        return 0;
    const std::uint8_t* first = bytes + bitOffset / 8;
    const unsigned shift = bitOffset % 8;
    std::uint64_t window = 0;
    for (unsigned i = 0; i < (shift + size + 7) / 8; ++i)
        window |= std::uint64_t{first[i]} << (8 * i);
    return static_cast<std::uint32_t>((window >> shift) & bitMask(size));
}

// Writes the low `size` (at most 32) bits of `value` at bit `bitOffset`, keeping the bits around.
void writeBits(std::uint8_t* bytes, std::uint32_t bitOffset, unsigned size, std::uint32_t value) {
    if (size == 0)
        return;
    std::uint8_t* first = bytes + bitOffset / 8;
    const unsigned shift = bitOffset % 8;
    const std::uint64_t mask = bitMask(size) << shift;
    const std::uint64_t bits = (std::uint64_t{value} << shift) & mask;
    for (unsigned i = 0; i < (shift + size + 7) / 8; ++i) {
        const auto keep = static_cast<std::uint8_t>(~(mask >> (8 * i)));
        first[i] = static_cast<std::uint8_t>((first[i] & keep) | (bits >> (8 * i)));
    }
}

// Copies `count` bits between two bit positions, 32 at a time.
void copyBits(const std::uint8_t* from, std::uint32_t fromOffset, std::uint8_t* to,
              std::uint32_t toOffset, std::uint32_t count) {
    for (std::uint32_t done = 0; done < count;) {
        const unsigned chunk = std::min<std::uint32_t>(32, count - done);
        writeBits(to, toOffset + done, chunk, readBits(from, fromOffset + done, chunk));
        done += chunk;
    }
}

// Where place `place` of a field starts in the report.
std::uint32_t placeOffset(const ReportField& field, std::uint32_t place) {
    return field.bitOffset + place * field.bitSize;
}

std::uint32_t readPlace(const std::uint8_t* report, const ReportField& field, std::uint32_t place) {
    return readBits(report, placeOffset(field, place), field.bitSize);
}

void writePlace(std::uint8_t* report, const ReportField& field, std::uint32_t place,
                std::uint32_t value) {
    writeBits(report, placeOffset(field, place), field.bitSize, value);
}

// A logical range with a negative minimum makes the field's bits two's complement.
bool isSigned(const ReportField& field) {
    return field.logicalMin < 0 && field.bitSize > 0;
}

std::int64_t logicalValue(const ReportField& field, std::uint32_t raw) {
    if (!isSigned(field))
        return raw;
    const std::int64_t sign = std::int64_t{1} << (field.bitSize - 1);
    return (std::int64_t{raw} ^ sign) - sign;
}

bool inLogicalRange(const ReportField& field, std::int64_t logical) {
    return field.logicalMin <= logical && logical <= field.logicalMax;
}

// The raw bits of a value outside the logical range, the field's null value: the lowest value
// its bits can hold when that is below the range, else the one just above the range.
std::optional<std::uint32_t> nullValue(const ReportField& field) {
    const unsigned bits = field.bitSize;
    if (bits == 0)
        return std::nullopt;
    const std::int64_t lowest = isSigned(field) ? -(std::int64_t{1} << (bits - 1)) : 0;
    const std::int64_t highest =
        isSigned(field) ? (std::int64_t{1} << (bits - 1)) - 1 : std::int64_t(bitMask(bits));
    if (field.logicalMin > lowest)
        return static_cast<std::uint32_t>(lowest & std::int64_t(bitMask(bits)));
    if (field.logicalMax < highest)
        return static_cast<std::uint32_t>((std::int64_t{field.logicalMax} + 1) &
                                          std::int64_t(bitMask(bits)));
    return std::nullopt;
}

// The usage an array selector names through this entry, if it falls in the entry's share of
// the item's usage list. Selector 0 is an empty place; the logical range plays no part.
std::optional<USAGE> selectedUsage(const ReportField& entry, std::uint32_t selector) {
    if (selector == 0 || selector < entry.firstSelector ||
        selector - entry.firstSelector >= usageCount(entry))
        return std::nullopt;
    return static_cast<USAGE>(entry.usageMin + (selector - entry.firstSelector));
}

std::uint32_t selectorOf(const ReportField& entry, USAGE usage) {
    return entry.firstSelector + (usage - entry.usageMin);
}

// An array usage whose selector is 0 or does not fit the item's bits can never be reported, so
// it is not offered for setting either.
bool canSelect(const ReportField& entry, USAGE usage) {
    const std::uint32_t selector = selectorOf(entry, usage);
    return selector != 0 && selector <= bitMask(entry.bitSize);
}

std::optional<std::uint32_t> placeHolding(const std::uint8_t* report, const ReportField& field,
                                          USAGE usage) {
    for (std::uint32_t place = 0; place < field.reportCount; ++place) {
        if (selectedUsage(field, readPlace(report, field, place)) == usage)
            return place;
    }
    return std::nullopt;
}

// The report a caller passes in, checked against the preparsed data and report type: its length
// must be the type's report length, which also guarantees byte 0 (the report ID) exists.
struct ReportBuffer {
    const ParsedDescriptor* descriptor = nullptr;
    HIDP_REPORT_TYPE type = HidP_Input;
    std::uint8_t* bytes = nullptr;

    std::uint8_t id() const { return bytes[0]; }
    // Where the descriptor declares report IDs, ID byte 0 names no report and is let through to
    // the controls of every report; where it declares none, only byte 0 = 0 is.
    bool carries(const ReportField& field) const {
        return field.reportId == id() || (id() == 0 && descriptor->usesReportIds);
    }
};

NTSTATUS openReport(PHIDP_PREPARSED_DATA preparsedData, HIDP_REPORT_TYPE type, PCHAR bytes,
                    ULONG length, bool argumentsPresent, ReportBuffer& report) {
    report.descriptor = DescriptorOf(preparsedData);
    if (report.descriptor == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!isReportType(type))
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    if (bytes == nullptr || !argumentsPresent)
        return HIDP_STATUS_NULL;
    const USHORT expected = report.descriptor->layouts[type].byteLength;
    if (expected == 0 || length != expected)
        return HIDP_STATUS_INVALID_REPORT_LENGTH;
    report.type = type;
    report.bytes = reinterpret_cast<std::uint8_t*>(bytes);
    return HIDP_STATUS_SUCCESS;
}

struct UsageQuery {
    USAGE usagePage;
    USHORT linkCollection;
    USAGE usage;
    bool button;
};

bool carriesUsage(const ReportField& field, HIDP_REPORT_TYPE type, const UsageQuery& query) {
    if (field.isPadding || field.reportType != type || field.isButton != query.button ||
        field.usagePage != query.usagePage || !inLinkCollection(field, query.linkCollection) ||
        query.usage < field.usageMin || query.usage > field.usageMax)
        return false;
    return !holdsSelectors(field) || canSelect(field, query.usage);
}

bool carriesDataIndex(const ReportField& field, HIDP_REPORT_TYPE type, USHORT dataIndex) {
    if (field.isPadding || field.reportType != type || dataIndex < field.dataIndexMin ||
        dataIndex > field.dataIndexMax)
        return false;
    return !holdsSelectors(field) ||
           canSelect(field, static_cast<USAGE>(field.usageMin + (dataIndex - field.dataIndexMin)));
}

// The field in the caller's report that `carries` picks. `notFound` when no report of the type
// has one; HIDP_STATUS_INCOMPATIBLE_REPORT_ID when only reports of other IDs do.
template <typename Predicate>
NTSTATUS findField(const ReportBuffer& report, Predicate carries, NTSTATUS notFound,
                   const ReportField*& found) {
    bool inOtherReport = false;
    for (const ReportField& field : report.descriptor->fields) {
        if (!carries(field))
            continue;
        if (report.carries(field)) {
            found = &field;
            return HIDP_STATUS_SUCCESS;
        }
        inOtherReport = true;
    }
    return inOtherReport ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : notFound;
}

// Opens the report and finds the field carrying one usage.
NTSTATUS findUsage(PHIDP_PREPARSED_DATA preparsedData, HIDP_REPORT_TYPE type, PCHAR bytes,
                   ULONG length, bool argumentsPresent, const UsageQuery& query,
                   ReportBuffer& report, const ReportField*& field) {
    const NTSTATUS status =
        openReport(preparsedData, type, bytes, length, argumentsPresent, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    return findField(
        report, [&](const ReportField& candidate) { return carriesUsage(candidate, type, query); },
        HIDP_STATUS_USAGE_NOT_FOUND, field);
}

// Finds a value and the place its usage owns: place 0 of a value array.
NTSTATUS findValue(PHIDP_PREPARSED_DATA preparsedData, HIDP_REPORT_TYPE type, PCHAR bytes,
                   ULONG length, bool argumentsPresent, const UsageQuery& query,
                   ReportBuffer& report, const ReportField*& field, std::uint32_t& place) {
    const NTSTATUS status =
        findUsage(preparsedData, type, bytes, length, argumentsPresent, query, report, field);
    if (status == HIDP_STATUS_SUCCESS)
        place = query.usage - field->usageMin;
    return status;
}

// Physical values scale linearly onto logical ones. Without a declared physical range (both
// bounds 0) the physical range is the logical one.
struct ValueRange {
    std::int64_t min, max;
};

ValueRange logicalRange(const ReportField& field) {
    return {field.logicalMin, field.logicalMax};
}

ValueRange physicalRange(const ReportField& field) {
    if (field.physicalMin == 0 && field.physicalMax == 0)
        return logicalRange(field);
    return {field.physicalMin, field.physicalMax};
}

bool hasUsableRanges(const ReportField& field) {
    return field.logicalMin < field.logicalMax &&
           physicalRange(field).min < physicalRange(field).max;
}

// Maps `value` from one range onto the other, rounding to the nearest, so that a value written
// and read back is unchanged where the ranges allow. `value` lies within `from`.
std::int64_t rescale(std::int64_t value, ValueRange from, ValueRange to) {
    const __int128 numerator = static_cast<__int128>(value - from.min) * (to.max - to.min);
    const __int128 denominator = from.max - from.min;
    return to.min + static_cast<std::int64_t>((2 * numerator + denominator) / (2 * denominator));
}

// Turns one button on: its bit in a variable item, the first empty place in an array, even
// when another place holds the usage already.
NTSTATUS pressButton(const ReportBuffer& report, const ReportField& field, USAGE usage) {
    if (!holdsSelectors(field)) {
        writePlace(report.bytes, field, usage - field.usageMin, 1);
        return HIDP_STATUS_SUCCESS;
    }
    for (std::uint32_t place = 0; place < field.reportCount; ++place) {
        if (readPlace(report.bytes, field, place) == 0) {
            writePlace(report.bytes, field, place, selectorOf(field, usage));
            return HIDP_STATUS_SUCCESS;
        }
    }
    return HIDP_STATUS_BUFFER_TOO_SMALL;
}

// Turns one button off: its bit, or the first array place holding it, which is emptied where it
// is, or, with `closeUp`, by moving the places after it down one.
NTSTATUS releaseButton(const ReportBuffer& report, const ReportField& field, USAGE usage,
                       bool closeUp) {
    if (!holdsSelectors(field)) {
        const std::uint32_t place = usage - field.usageMin;
        if (readPlace(report.bytes, field, place) == 0)
            return HIDP_STATUS_BUTTON_NOT_PRESSED;
        writePlace(report.bytes, field, place, 0);
        return HIDP_STATUS_SUCCESS;
    }
    const std::optional<std::uint32_t> held = placeHolding(report.bytes, field, usage);
    if (!held)
        return HIDP_STATUS_BUTTON_NOT_PRESSED;
    std::uint32_t place = *held;
    for (; closeUp && place + 1 < field.reportCount; ++place)
        writePlace(report.bytes, field, place, readPlace(report.bytes, field, place + 1));
    writePlace(report.bytes, field, place, 0);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS changeButtons(HIDP_REPORT_TYPE type, USAGE usagePage, USHORT linkCollection,
                       PUSAGE usageList, PULONG usageLength, PHIDP_PREPARSED_DATA preparsedData,
                       PCHAR bytes, ULONG length, bool press) {
    ReportBuffer report;
    NTSTATUS status = openReport(preparsedData, type, bytes, length,
                                 usageList != nullptr && usageLength != nullptr, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    // Zeros pad the usage lists HidP_GetUsages fills; they name no button and are skipped.
    for (ULONG i = 0; i < *usageLength; ++i) {
        if (usageList[i] == 0)
            continue;
        const ReportField* field = nullptr;
        const UsageQuery query{usagePage, linkCollection, usageList[i], true};
        status = findField(
            report,
            [&](const ReportField& candidate) { return carriesUsage(candidate, type, query); },
            HIDP_STATUS_USAGE_NOT_FOUND, field);
        if (status == HIDP_STATUS_SUCCESS)
            status = press ? pressButton(report, *field, usageList[i])
                           : releaseButton(report, *field, usageList[i], false);
        if (status != HIDP_STATUS_SUCCESS) {
            *usageLength = i;
            return status;
        }
    }
    return HIDP_STATUS_SUCCESS;
}

// Calls `visit(entry, usage)` for each usage an array item's places hold, in place order, with
// the entry of the item that claims it.
template <typename Visit>
void forEachSlot(const std::uint8_t* report, std::span<const ReportField> item, Visit visit) {
    for (std::uint32_t place = 0; place < item.front().reportCount; ++place) {
        const std::uint32_t selector = readPlace(report, item.front(), place);
        for (const ReportField& entry : item) {
            if (const auto usage = selectedUsage(entry, selector)) {
                visit(entry, *usage);
                break;
            }
        }
    }
}

bool isButtonOnPage(const ReportField& field, HIDP_REPORT_TYPE type, USAGE usagePage) {
    return !field.isPadding && field.isButton && field.reportType == type &&
           (usagePage == 0 || field.usagePage == usagePage);
}

// The buttons that are on in the report, from the fields of its ID on `usagePage` (0: every
// page), in capability order; an array item's in the order of its places. Aliases of a variable
// button share its bit and are not reported twice.
NTSTATUS buttonsOn(const ReportBuffer& report, USAGE usagePage, USHORT linkCollection,
                   std::vector<USAGE_AND_PAGE>& on) {
    bool onPage = false, inThisReport = false;
    const std::vector<ReportField>& fields = report.descriptor->fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ReportField& field = fields[i];
        if (!isButtonOnPage(field, report.type, usagePage) ||
            !inLinkCollection(field, linkCollection))
            continue;
        onPage = true;
        if (!report.carries(field))
            continue;
        inThisReport = true;
        if (holdsSelectors(field)) {
            const std::size_t entries = arrayItemLength(fields, i);
            forEachSlot(report.bytes, {&field, entries},
                        [&](const ReportField& entry, USAGE usage) {
                            if (usagePage == 0 || entry.usagePage == usagePage)
                                on.push_back({usage, entry.usagePage});
                        });
            i += entries - 1;
        } else if (!field.isAlias) {
            for (std::uint32_t place = 0; place < usageCount(field); ++place) {
                if (readPlace(report.bytes, field, place) != 0)
                    on.push_back({static_cast<USAGE>(field.usageMin + place), field.usagePage});
            }
        }
    }
    if (!onPage)
        return HIDP_STATUS_USAGE_NOT_FOUND;
    return inThisReport ? HIDP_STATUS_SUCCESS : HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
}

// Copies what fits of `items` into the caller's list and tells the caller how many there are.
template <typename Item, typename Convert>
NTSTATUS returnList(const std::vector<Item>& items, auto* list, PULONG length, Convert convert) {
    const ULONG capacity = list == nullptr ? 0 : *length;
    for (ULONG i = 0; i < std::min<ULONG>(capacity, items.size()); ++i)
        list[i] = convert(items[i]);
    *length = static_cast<ULONG>(items.size());
    return items.size() > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS getButtons(HIDP_REPORT_TYPE type, USAGE usagePage, USHORT linkCollection, auto* list,
                    PULONG length, PHIDP_PREPARSED_DATA preparsedData, PCHAR bytes,
                    ULONG reportLength, auto convert) {
    ReportBuffer report;
    NTSTATUS status =
        openReport(preparsedData, type, bytes, reportLength, length != nullptr, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    std::vector<USAGE_AND_PAGE> on;
    status = buttonsOn(report, usagePage, linkCollection, on);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    return returnList(on, list, length, convert);
}

HIDP_DATA buttonData(USHORT dataIndex) {
    HIDP_DATA data{};
    data.DataIndex = dataIndex;
    data.On = TRUE;
    return data;
}

HIDP_DATA valueData(USHORT dataIndex, ULONG rawValue) {
    HIDP_DATA data{};
    data.DataIndex = dataIndex;
    data.RawValue = rawValue;
    return data;
}

// The data index of each usage an array item's places hold, in place order, a usage held twice
// twice.
void appendArrayData(const std::uint8_t* report, std::span<const ReportField> item,
                     std::vector<HIDP_DATA>& data) {
    forEachSlot(report, item, [&](const ReportField& entry, USAGE usage) {
        data.push_back(
            buttonData(static_cast<USHORT>(entry.dataIndexMin + (usage - entry.usageMin))));
    });
}

// Every control of one variable field that has something to say: buttons that are on and each
// value, 0 included. Value arrays do not fit a HIDP_DATA entry and are left to
// HidP_GetUsageValueArray; values without bits say nothing.
void appendData(const std::uint8_t* report, const ReportField& field,
                std::vector<HIDP_DATA>& data) {
    if (field.isAlias || isValueArray(field) || field.bitSize == 0)
        return;
    for (std::uint32_t place = 0; place < usageCount(field); ++place) {
        const std::uint32_t raw = readPlace(report, field, place);
        const auto dataIndex = static_cast<USHORT>(field.dataIndexMin + place);
        if (!field.isButton)
            data.push_back(valueData(dataIndex, raw));
        else if (raw != 0)
            data.push_back(buttonData(dataIndex));
    }
}

NTSTATUS setDataItem(const ReportBuffer& report, const HIDP_DATA& item) {
    const ReportField* field = nullptr;
    const NTSTATUS status = findField(
        report,
        [&](const ReportField& candidate) {
            return carriesDataIndex(candidate, report.type, item.DataIndex);
        },
        HIDP_STATUS_DATA_INDEX_NOT_FOUND, field);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    const std::uint32_t offset = item.DataIndex - field->dataIndexMin;
    if (holdsSelectors(*field)) {
        const auto usage = static_cast<USAGE>(field->usageMin + offset);
        return item.On ? pressButton(report, *field, usage)
                       : releaseButton(report, *field, usage, true);
    }
    if (isValueArray(*field))
        return HIDP_STATUS_IS_VALUE_ARRAY;
    writePlace(report.bytes, *field, offset, field->isButton ? (item.On ? 1 : 0) : item.RawValue);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS findValueArray(PHIDP_PREPARSED_DATA preparsedData, HIDP_REPORT_TYPE type, PCHAR bytes,
                        ULONG length, PCHAR usageValue, USHORT usageValueByteLength,
                        const UsageQuery& query, ReportBuffer& report, const ReportField*& field) {
    const NTSTATUS status =
        findUsage(preparsedData, type, bytes, length, usageValue != nullptr, query, report, field);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    if (!isValueArray(*field))
        return HIDP_STATUS_NOT_VALUE_ARRAY;
    const std::uint32_t bits = std::uint32_t{field->bitSize} * field->reportCount;
    return usageValueByteLength < (bits + 7) / 8 ? HIDP_STATUS_BUFFER_TOO_SMALL
                                                 : HIDP_STATUS_SUCCESS;
}

} // namespace

NTSTATUS HidP_GetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                      PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const NTSTATUS status =
        openReport(PreparsedData, ReportType, Report, ReportLength, DataLength != nullptr, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    if (!report.descriptor->layouts[ReportType].idDeclared[report.id()] &&
        !(report.id() == 0 && report.descriptor->usesReportIds))
        return HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
    std::vector<HIDP_DATA> data;
    const std::vector<ReportField>& fields = report.descriptor->fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ReportField& field = fields[i];
        if (field.isPadding || field.reportType != ReportType || !report.carries(field))
            continue;
        if (holdsSelectors(field)) {
            const std::size_t entries = arrayItemLength(fields, i);
            appendArrayData(report.bytes, {&field, entries}, data);
            i += entries - 1;
        } else {
            appendData(report.bytes, field, data);
        }
    }
    // In data-index order; an array place that repeats a usage repeats its entry, which
    // HidP_MaxDataListLength leaves room for.
    std::stable_sort(data.begin(), data.end(), [](const HIDP_DATA& a, const HIDP_DATA& b) {
        return a.DataIndex < b.DataIndex;
    });
    return returnList(data, DataList, DataLength, [](const HIDP_DATA& item) { return item; });
}

NTSTATUS HidP_SetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                      PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const NTSTATUS status = openReport(PreparsedData, ReportType, Report, ReportLength,
                                       DataList != nullptr && DataLength != nullptr, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    if (*DataLength == 0)
        return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
    for (ULONG i = 0; i < *DataLength; ++i) {
        const NTSTATUS itemStatus = setDataItem(report, DataList[i]);
        if (itemStatus != HIDP_STATUS_SUCCESS) {
            *DataLength = i;
            return itemStatus;
        }
    }
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                        PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                        PCHAR Report, ULONG ReportLength) {
    return getButtons(ReportType, UsagePage, LinkCollection, UsageList, UsageLength, PreparsedData,
                      Report, ReportLength,
                      [](const USAGE_AND_PAGE& button) { return button.Usage; });
}

NTSTATUS HidP_GetUsagesEx(HIDP_REPORT_TYPE ReportType, USHORT LinkCollection,
                          PUSAGE_AND_PAGE ButtonList, ULONG* UsageLength,
                          PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength) {
    return getButtons(ReportType, 0, LinkCollection, ButtonList, UsageLength, PreparsedData, Report,
                      ReportLength, [](const USAGE_AND_PAGE& button) { return button; });
}

NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                        PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                        PCHAR Report, ULONG ReportLength) {
    return changeButtons(ReportType, UsagePage, LinkCollection, UsageList, UsageLength,
                         PreparsedData, Report, ReportLength, true);
}

NTSTATUS HidP_UnsetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                          PUSAGE UsageList, PULONG UsageLength, PHIDP_PREPARSED_DATA PreparsedData,
                          PCHAR Report, ULONG ReportLength) {
    return changeButtons(ReportType, UsagePage, LinkCollection, UsageList, UsageLength,
                         PreparsedData, Report, ReportLength, false);
}

NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                            USAGE Usage, PULONG UsageValue, PHIDP_PREPARSED_DATA PreparsedData,
                            PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    std::uint32_t place = 0;
    const NTSTATUS status =
        findValue(PreparsedData, ReportType, Report, ReportLength, UsageValue != nullptr,
                  {UsagePage, LinkCollection, Usage, false}, report, field, place);
    if (status == HIDP_STATUS_SUCCESS)
        *UsageValue = readPlace(report.bytes, *field, place);
    return status;
}

NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, PLONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    std::uint32_t place = 0;
    const NTSTATUS status =
        findValue(PreparsedData, ReportType, Report, ReportLength, UsageValue != nullptr,
                  {UsagePage, LinkCollection, Usage, false}, report, field, place);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    // A value found but not scalable reads as 0.
    *UsageValue = 0;
    if (!hasUsableRanges(*field))
        return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    const std::int64_t logical = logicalValue(*field, readPlace(report.bytes, *field, place));
    if (!inLogicalRange(*field, logical))
        return field->hasNull() ? HIDP_STATUS_NULL : HIDP_STATUS_VALUE_OUT_OF_RANGE;
    *UsageValue = static_cast<LONG>(rescale(logical, logicalRange(*field), physicalRange(*field)));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                 USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                 USHORT UsageValueByteLength, PHIDP_PREPARSED_DATA PreparsedData,
                                 PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    const NTSTATUS status = findValueArray(
        PreparsedData, ReportType, Report, ReportLength, UsageValue, UsageValueByteLength,
        {UsagePage, LinkCollection, Usage, false}, report, field);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    const std::uint32_t bits = std::uint32_t{field->bitSize} * field->reportCount;
    auto* out = reinterpret_cast<std::uint8_t*>(UsageValue);
    std::fill_n(out, (bits + 7) / 8, 0);
    copyBits(report.bytes, field->bitOffset, out, 0, bits);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                            USAGE Usage, ULONG UsageValue, PHIDP_PREPARSED_DATA PreparsedData,
                            PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    std::uint32_t place = 0;
    const NTSTATUS status =
        findValue(PreparsedData, ReportType, Report, ReportLength, true,
                  {UsagePage, LinkCollection, Usage, false}, report, field, place);
    if (status == HIDP_STATUS_SUCCESS)
        writePlace(report.bytes, *field, place, UsageValue);
    return status;
}

NTSTATUS HidP_SetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, LONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    std::uint32_t place = 0;
    const NTSTATUS status =
        findValue(PreparsedData, ReportType, Report, ReportLength, true,
                  {UsagePage, LinkCollection, Usage, false}, report, field, place);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    if (!hasUsableRanges(*field))
        return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    const ValueRange physical = physicalRange(*field);
    if (UsageValue < physical.min || UsageValue > physical.max) {
        const std::optional<std::uint32_t> null = nullValue(*field);
        if (!field->hasNull() || !null)
            return HIDP_STATUS_VALUE_OUT_OF_RANGE;
        writePlace(report.bytes, *field, place, *null);
        return HIDP_STATUS_SUCCESS;
    }
    const std::int64_t logical = rescale(UsageValue, physical, logicalRange(*field));
    writePlace(report.bytes, *field, place, static_cast<std::uint32_t>(logical));
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                 USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                 USHORT UsageValueByteLength, PHIDP_PREPARSED_DATA PreparsedData,
                                 PCHAR Report, ULONG ReportLength) {
    ReportBuffer report;
    const ReportField* field = nullptr;
    const NTSTATUS status = findValueArray(
        PreparsedData, ReportType, Report, ReportLength, UsageValue, UsageValueByteLength,
        {UsagePage, LinkCollection, Usage, false}, report, field);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    copyBits(reinterpret_cast<const std::uint8_t*>(UsageValue), 0, report.bytes, field->bitOffset,
             std::uint32_t{field->bitSize} * field->reportCount);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                    PHIDP_PREPARSED_DATA PreparsedData,
                                    PHIDP_EXTENDED_ATTRIBUTES Attributes, PULONG LengthAttributes) {
    const ParsedDescriptor* descriptor = DescriptorOf(PreparsedData);
    if (descriptor == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!isReportType(ReportType))
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    if (Attributes == nullptr || LengthAttributes == nullptr)
        return HIDP_STATUS_NULL;
    const auto field = std::find_if(
        descriptor->fields.begin(), descriptor->fields.end(), [&](const ReportField& candidate) {
            return !candidate.isPadding && candidate.reportType == ReportType &&
                   candidate.dataIndexMin <= DataIndex && DataIndex <= candidate.dataIndexMax;
        });
    if (field == descriptor->fields.end())
        return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    // The unknown items follow the record in the caller's buffer; GlobalUnknowns points at them.
    const ULONG needed =
        static_cast<ULONG>(sizeof(HIDP_EXTENDED_ATTRIBUTES) +
                           field->globalUnknowns.size() * sizeof(HIDP_UNKNOWN_TOKEN));
    const ULONG available = *LengthAttributes;
    *LengthAttributes = needed;
    if (available < needed)
        return HIDP_STATUS_BUFFER_TOO_SMALL;
    *Attributes = HIDP_EXTENDED_ATTRIBUTES{};
    Attributes->NumGlobalUnknowns = static_cast<UCHAR>(field->globalUnknowns.size());
    if (!field->globalUnknowns.empty()) {
        auto* tokens = reinterpret_cast<PHIDP_UNKNOWN_TOKEN>(Attributes + 1);
        std::copy(field->globalUnknowns.begin(), field->globalUnknowns.end(), tokens);
        Attributes->GlobalUnknowns = tokens;
    }
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                    PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                    ULONG ReportLength) {
    ReportBuffer report;
    const NTSTATUS status =
        openReport(PreparsedData, ReportType, Report, ReportLength, true, report);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    // A report of padding alone has no control to initialize.
    const std::vector<ReportField>& fields = report.descriptor->fields;
    if (std::none_of(fields.begin(), fields.end(), [&](const ReportField& field) {
            return !field.isPadding && field.reportType == ReportType && field.reportId == ReportID;
        }))
        return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
    std::fill_n(report.bytes, ReportLength, 0);
    report.bytes[0] = ReportID;
    return HIDP_STATUS_SUCCESS;
}

} // namespace platform
