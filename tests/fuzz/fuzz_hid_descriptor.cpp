// Feeds arbitrary bytes to the report-descriptor parser and, when it accepts them, runs every
// capability query on the result and checks the invariants later report operations rely on.

#include "platform/HidPi.h"
#include "platform/HidReportDescriptor.h"

#include <cstdlib>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

// Every field lies inside its report, its data indices inside its report type's count, and every
// link points inside the node table.
void checkInvariants(const platform::ParsedDescriptor& descriptor, const HIDP_CAPS& caps) {
    const USHORT lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                              caps.FeatureReportByteLength};
    for (const platform::ReportField& field : descriptor.fields) {
        const std::uint64_t end =
            field.bitOffset + std::uint64_t{field.bitSize} * field.reportCount;
        require(field.bitOffset >= 8 && end <= std::uint64_t{lengths[field.reportType]} * 8);
        require(field.linkCollection < descriptor.collections.size());
        require(field.usageMin <= field.usageMax && field.dataIndexMin <= field.dataIndexMax);
        require(field.isPadding ||
                field.dataIndexMax < descriptor.layouts[field.reportType].dataIndices);
    }
    for (const platform::LinkCollection& node : descriptor.collections) {
        require(node.parent < descriptor.collections.size());
        require(node.firstChild < descriptor.collections.size());
        require(node.nextSibling < descriptor.collections.size());
    }
}

// Runs a capability query with room for every capability and then with room for one. A valid
// report type reports at most `count` matches; an invalid one is refused as such.
template <typename Caps, typename Query> void queryAll(bool validType, USHORT count, Query query) {
    std::vector<Caps> caps(count + 1u);
    USHORT length = static_cast<USHORT>(caps.size());
    const NTSTATUS status = query(caps.data(), &length);
    require(validType == (status != HIDP_STATUS_INVALID_REPORT_TYPE));
    require(!validType || length <= count);
    length = count > 0 ? 1 : 0;
    query(caps.data(), &length);
}

void queryEverything(PHIDP_PREPARSED_DATA data, const std::uint8_t* bytes, std::size_t size) {
    HIDP_CAPS caps{};
    require(platform::HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS);
    checkInvariants(*platform::DescriptorOf(data), caps);

    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(caps.NumberLinkCollectionNodes);
    ULONG nodeCount = static_cast<ULONG>(nodes.size());
    require(platform::HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, data) ==
            HIDP_STATUS_SUCCESS);
    nodeCount = 1;
    platform::HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, data);

    // Filters taken from the input itself reach matching and non-matching caps alike.
    const USAGE page = size >= 2 ? static_cast<USAGE>(bytes[0] | bytes[1] << 8) : 0;
    const USAGE usage = size >= 3 ? bytes[size - 1] : 0;
    const USHORT link = size >= 4 ? bytes[size - 2] % (caps.NumberLinkCollectionNodes + 2) : 0;
    const USHORT buttonCounts[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                                   caps.NumberFeatureButtonCaps};
    const USHORT valueCounts[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                                  caps.NumberFeatureValueCaps};
    const USHORT dataIndexCounts[] = {caps.NumberInputDataIndices, caps.NumberOutputDataIndices,
                                      caps.NumberFeatureDataIndices};
    for (int type = HidP_Input; type <= HidP_Feature + 1; ++type) {
        const auto reportType = static_cast<HIDP_REPORT_TYPE>(type);
        const bool valid = type <= HidP_Feature;
        require(platform::HidP_MaxDataListLength(reportType, data) ==
                (valid ? dataIndexCounts[type] : 0u));
        platform::HidP_MaxUsageListLength(reportType, page, data);
        const USHORT buttons = valid ? buttonCounts[type] : 0;
        const USHORT values = valid ? valueCounts[type] : 0;
        queryAll<HIDP_BUTTON_CAPS>(valid, buttons, [&](PHIDP_BUTTON_CAPS out, PUSHORT length) {
            return platform::HidP_GetButtonCaps(reportType, out, length, data);
        });
        queryAll<HIDP_BUTTON_CAPS>(valid, buttons, [&](PHIDP_BUTTON_CAPS out, PUSHORT length) {
            return platform::HidP_GetSpecificButtonCaps(reportType, page, link, usage, out, length,
                                                        data);
        });
        queryAll<HIDP_VALUE_CAPS>(valid, values, [&](PHIDP_VALUE_CAPS out, PUSHORT length) {
            return platform::HidP_GetValueCaps(reportType, out, length, data);
        });
        queryAll<HIDP_VALUE_CAPS>(valid, values, [&](PHIDP_VALUE_CAPS out, PUSHORT length) {
            return platform::HidP_GetSpecificValueCaps(reportType, page, HIDP_LINK_COLLECTION_ROOT,
                                                       usage, out, length, data);
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    PHIDP_PREPARSED_DATA data = platform::ParsePreparsedData(bytes, size);
    if (data == nullptr)
        return 0;
    queryEverything(data, bytes, size);
    require(platform::FreePreparsedData(data));
    return 0;
}
