// Feeds arbitrary bytes to the report-descriptor parser and, when it accepts them, runs every
// capability query on the result and checks the invariants later report operations rely on;
// then reads reports made from the input and from a generator seeded by it through every get
// operation, and writes into copies of them through the set operations.

#include "platform/hidclass/HidPi.h"
#include "platform/hidclass/HidReportDescriptor.h"

#include <algorithm>
#include <array>
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
    for (int type = HidP_Input; type <= HidP_Feature + 1; ++type) {
        const auto reportType = static_cast<HIDP_REPORT_TYPE>(type);
        const bool valid = type <= HidP_Feature;
        const ULONG maxData = platform::HidP_MaxDataListLength(reportType, data);
        require(valid ? maxData >= platform::HidP_MaxUsageListLength(reportType, 0, data)
                      : maxData == 0);
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

// SplitMix64: a small deterministic generator, so a failing input replays the same reports.
class ReportBytes {
public:
    explicit ReportBytes(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            state_ = state_ * 131 + bytes[i];
    }
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_ = 0;
};

struct ReportUnderTest {
    PHIDP_PREPARSED_DATA data;
    HIDP_REPORT_TYPE type;
    std::vector<char> bytes;

    ULONG length() const { return static_cast<ULONG>(bytes.size()); }
};

bool readsReport(NTSTATUS status) {
    return status == HIDP_STATUS_SUCCESS || status == HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
}

// The list lengths the parser announces are always enough for what the report holds, and every
// entry names a data index or usage the capabilities declare.
void readLists(ReportUnderTest& report, USHORT dataIndices) {
    std::vector<HIDP_DATA> list(platform::HidP_MaxDataListLength(report.type, report.data) + 1);
    ULONG count = static_cast<ULONG>(list.size());
    NTSTATUS status = platform::HidP_GetData(report.type, list.data(), &count, report.data,
                                             report.bytes.data(), report.length());
    require(readsReport(status));
    if (status == HIDP_STATUS_SUCCESS) {
        require(count < list.size());
        for (ULONG i = 0; i < count; ++i)
            require(list[i].DataIndex < dataIndices);
        std::vector<char> copy = report.bytes;
        ULONG written = count;
        status = platform::HidP_SetData(report.type, list.data(), &written, report.data,
                                        copy.data(), report.length());
        require(copy[0] == report.bytes[0]);
    }
    count = 1;
    platform::HidP_GetData(report.type, list.data(), &count, report.data, report.bytes.data(),
                           report.length());

    std::vector<USAGE_AND_PAGE> buttons(
        platform::HidP_MaxUsageListLength(report.type, 0, report.data));
    count = static_cast<ULONG>(buttons.size());
    status =
        platform::HidP_GetUsagesEx(report.type, HIDP_LINK_COLLECTION_UNSPECIFIED, buttons.data(),
                                   &count, report.data, report.bytes.data(), report.length());
    require(status != HIDP_STATUS_BUFFER_TOO_SMALL);
    if (status != HIDP_STATUS_SUCCESS)
        return;
    // Another item may declare the same usage, so the statuses are not fixed; the ID byte is.
    for (ULONG i = 0; i < count; ++i) {
        std::vector<char> copy = report.bytes;
        for (const auto change : {platform::HidP_UnsetUsages, platform::HidP_SetUsages}) {
            ULONG one = 1;
            change(report.type, buttons[i].UsagePage, HIDP_LINK_COLLECTION_UNSPECIFIED,
                   &buttons[i].Usage, &one, report.data, copy.data(), report.length());
        }
        require(copy[0] == report.bytes[0]);
    }
}

// Whether `raw` is `value` cut to the width of a value that declares `usage` in the same report
// (in any report when the ID byte is 0, which lets every report through). A usage declared
// twice there is written and read through the first declaration.
bool isValueCutToSomeDeclaration(ULONG raw, ULONG value, const HIDP_VALUE_CAPS& caps, USAGE usage,
                                 const std::vector<HIDP_VALUE_CAPS>& values, UCHAR idByte) {
    return std::any_of(values.begin(), values.end(), [&](const HIDP_VALUE_CAPS& other) {
        const ULONG mask = other.BitSize >= 32 ? ~0u : (1u << other.BitSize) - 1;
        return (other.ReportID == caps.ReportID || idByte == 0) &&
               other.UsagePage == caps.UsagePage && other.Range.UsageMin <= usage &&
               usage <= other.Range.UsageMax && raw == (value & mask);
    });
}

// Every value reads without fault, and a raw value written into a copy reads back as its low
// bits.
void readAndWriteValues(ReportUnderTest& report, const HIDP_VALUE_CAPS& caps,
                        const std::vector<HIDP_VALUE_CAPS>& values, ReportBytes& random) {
    const USAGE usages[] = {caps.Range.UsageMin, caps.Range.UsageMax};
    for (const USAGE usage : usages) {
        ULONG raw = 0;
        LONG scaled = 0;
        const auto get = [&](PCHAR bytes, PULONG value) {
            return platform::HidP_GetUsageValue(report.type, caps.UsagePage, caps.LinkCollection,
                                                usage, value, report.data, bytes, report.length());
        };
        const NTSTATUS status = get(report.bytes.data(), &raw);
        platform::HidP_GetScaledUsageValue(report.type, caps.UsagePage, caps.LinkCollection, usage,
                                           &scaled, report.data, report.bytes.data(),
                                           report.length());
        std::vector<char> array(caps.BitSize * caps.ReportCount / 8 + 1);
        platform::HidP_GetUsageValueArray(report.type, caps.UsagePage, caps.LinkCollection, usage,
                                          array.data(), static_cast<USHORT>(array.size()),
                                          report.data, report.bytes.data(), report.length());
        if (status != HIDP_STATUS_SUCCESS)
            continue;
        std::vector<char> copy = report.bytes;
        const auto value = static_cast<ULONG>(random.next());
        require(platform::HidP_SetUsageValue(report.type, caps.UsagePage, caps.LinkCollection,
                                             usage, value, report.data, copy.data(),
                                             report.length()) == HIDP_STATUS_SUCCESS);
        require(get(copy.data(), &raw) == HIDP_STATUS_SUCCESS &&
                isValueCutToSomeDeclaration(raw, value, caps, usage, values,
                                            static_cast<UCHAR>(report.bytes[0])));
        platform::HidP_SetScaledUsageValue(report.type, caps.UsagePage, caps.LinkCollection, usage,
                                           static_cast<LONG>(random.next()), report.data,
                                           copy.data(), report.length());
        require(copy[0] == report.bytes[0]);
    }
}

void exerciseReport(ReportUnderTest& report, const std::vector<HIDP_VALUE_CAPS>& values,
                    USHORT dataIndices, ReportBytes& random) {
    readLists(report, dataIndices);
    for (const HIDP_VALUE_CAPS& caps : values)
        readAndWriteValues(report, caps, values, random);
    // One byte too long is refused before anything is read.
    std::vector<char> longer = report.bytes;
    longer.push_back(0);
    ULONG count = 0;
    require(platform::HidP_GetData(report.type, nullptr, &count, report.data, longer.data(),
                                   report.length() + 1) == HIDP_STATUS_INVALID_REPORT_LENGTH);
}

// Reports of each type: the input bytes laid over the report, generated bytes, and reports
// initialized for each ID the values name, each also with generated contents behind the ID.
void exerciseReports(PHIDP_PREPARSED_DATA data, const HIDP_CAPS& caps, const std::uint8_t* bytes,
                     std::size_t size) {
    ReportBytes random(bytes, size);
    const USHORT lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                              caps.FeatureReportByteLength};
    const USHORT dataIndexCounts[] = {caps.NumberInputDataIndices, caps.NumberOutputDataIndices,
                                      caps.NumberFeatureDataIndices};
    for (int type = HidP_Input; type <= HidP_Feature; ++type) {
        if (lengths[type] == 0)
            continue;
        ReportUnderTest report{data, static_cast<HIDP_REPORT_TYPE>(type),
                               std::vector<char>(lengths[type])};
        std::vector<HIDP_VALUE_CAPS> values(512);
        USHORT valueCount = static_cast<USHORT>(values.size());
        platform::HidP_GetValueCaps(report.type, values.data(), &valueCount, data);
        values.resize(std::min<std::size_t>(valueCount, values.size()));

        for (std::size_t i = 0; i < report.bytes.size(); ++i)
            report.bytes[i] = static_cast<char>(bytes[i % size]);
        exerciseReport(report, values, dataIndexCounts[type], random);

        std::vector<UCHAR> ids{0, static_cast<UCHAR>(random.next())};
        for (const HIDP_VALUE_CAPS& value : values)
            ids.push_back(value.ReportID);
        for (const UCHAR id : ids) {
            if (platform::HidP_InitializeReportForID(report.type, id, data, report.bytes.data(),
                                                     report.length()) != HIDP_STATUS_SUCCESS)
                continue;
            require(static_cast<UCHAR>(report.bytes[0]) == id);
            exerciseReport(report, values, dataIndexCounts[type], random);
            for (std::size_t i = 1; i < report.bytes.size(); ++i)
                report.bytes[i] = static_cast<char>(random.next());
            exerciseReport(report, values, dataIndexCounts[type], random);
        }

        std::array<std::uint8_t, 256> attributes{};
        for (USHORT index = 0; index <= dataIndexCounts[type] && index < 64; ++index) {
            ULONG length = attributes.size();
            platform::HidP_GetExtendedAttributes(
                report.type, index, data,
                reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(attributes.data()), &length);
        }
    }
}

void exerciseParsed(PHIDP_PREPARSED_DATA data, const std::uint8_t* bytes, std::size_t size) {
    queryEverything(data, bytes, size);
    HIDP_CAPS caps{};
    platform::HidP_GetCaps(data, &caps);
    exerciseReports(data, caps, bytes, size);
    require(platform::FreePreparsedData(data));
}

} // namespace

// The whole descriptor, then each of its first top-level collections on its own (which parse
// exactly when the whole does).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    PHIDP_PREPARSED_DATA data = platform::ParsePreparsedData(bytes, size);
    if (data == nullptr)
        return 0;
    const std::size_t collections = platform::DescriptorOf(data)->topLevelCollections;
    exerciseParsed(data, bytes, size);
    constexpr std::size_t kCollectionsExercised = 3;
    for (std::size_t i = 0; i <= std::min(collections, kCollectionsExercised); ++i) {
        PHIDP_PREPARSED_DATA one = platform::ParsePreparsedData(bytes, size, i);
        require((one != nullptr) == (i < collections));
        if (one != nullptr)
            exerciseParsed(one, bytes, size);
    }
    return 0;
}
