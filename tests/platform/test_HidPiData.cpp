// The report operations: buttons, values and data lists written into reports and read back,
// report IDs and lengths, signed and scaled values, null states and value arrays.

#include "GoldenDescriptors.h"
#include "HidParseTestSupport.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <vector>

using namespace hidparse_test;

namespace {

constexpr USAGE kGenericDesktop = 0x01;
constexpr USAGE kKeyboardPage = 0x07;
constexpr USAGE kLedPage = 0x08;
constexpr USAGE kButtonPage = 0x09;
constexpr USAGE kConsumerPage = 0x0C;
constexpr USAGE kX = 0x30, kY = 0x31, kZ = 0x32, kWheel = 0x38, kHatSwitch = 0x39;
constexpr USHORT kAnyCollection = HIDP_LINK_COLLECTION_UNSPECIFIED;

// One report buffer of the length a report type has, for one parsed descriptor.
struct ReportFixture {
    Preparsed data;
    HIDP_REPORT_TYPE type;
    std::vector<char> report;

    ReportFixture(std::span<const std::uint8_t> descriptor, HIDP_REPORT_TYPE reportType,
                  UCHAR reportId = 0)
        : data(parse(descriptor)), type(reportType) {
        const HIDP_CAPS caps = capsOf(data);
        const USHORT lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                                  caps.FeatureReportByteLength};
        report.assign(lengths[type], 0);
        EXPECT_EQ(initialize(reportId), HIDP_STATUS_SUCCESS);
    }

    ULONG length() const { return static_cast<ULONG>(report.size()); }
    std::uint8_t byte(std::size_t i) const { return static_cast<std::uint8_t>(report[i]); }

    NTSTATUS initialize(UCHAR reportId) {
        return platform::HidP_InitializeReportForID(type, reportId, data.get(), report.data(),
                                                    length());
    }
    NTSTATUS setUsages(USAGE page, std::vector<USAGE> usages, ULONG* done = nullptr) {
        ULONG count = static_cast<ULONG>(usages.size());
        const NTSTATUS status = platform::HidP_SetUsages(
            type, page, kAnyCollection, usages.data(), &count, data.get(), report.data(), length());
        if (done != nullptr)
            *done = count;
        return status;
    }
    NTSTATUS unsetUsages(USAGE page, std::vector<USAGE> usages, ULONG* done = nullptr) {
        ULONG count = static_cast<ULONG>(usages.size());
        const NTSTATUS status = platform::HidP_UnsetUsages(
            type, page, kAnyCollection, usages.data(), &count, data.get(), report.data(), length());
        if (done != nullptr)
            *done = count;
        return status;
    }
    NTSTATUS getUsages(USAGE page, std::vector<USAGE>& usages) {
        usages.resize(platform::HidP_MaxUsageListLength(type, page, data.get()));
        ULONG count = static_cast<ULONG>(usages.size());
        const NTSTATUS status = platform::HidP_GetUsages(
            type, page, kAnyCollection, usages.data(), &count, data.get(), report.data(), length());
        usages.resize(std::min<std::size_t>(count, usages.size()));
        return status;
    }
    // The usages that are on, in no particular order.
    std::multiset<USAGE> usagesOn(USAGE page) {
        std::vector<USAGE> usages;
        EXPECT_EQ(getUsages(page, usages), HIDP_STATUS_SUCCESS);
        return {usages.begin(), usages.end()};
    }
    NTSTATUS setValue(USAGE page, USAGE usage, ULONG value) {
        return platform::HidP_SetUsageValue(type, page, kAnyCollection, usage, value, data.get(),
                                            report.data(), length());
    }
    NTSTATUS getValue(USAGE page, USAGE usage, ULONG& value) {
        return platform::HidP_GetUsageValue(type, page, kAnyCollection, usage, &value, data.get(),
                                            report.data(), length());
    }
    NTSTATUS setScaled(USAGE page, USAGE usage, LONG value) {
        return platform::HidP_SetScaledUsageValue(type, page, kAnyCollection, usage, value,
                                                  data.get(), report.data(), length());
    }
    NTSTATUS getScaled(USAGE page, USAGE usage, LONG& value) {
        return platform::HidP_GetScaledUsageValue(type, page, kAnyCollection, usage, &value,
                                                  data.get(), report.data(), length());
    }
    std::vector<HIDP_DATA> dataList() {
        std::vector<HIDP_DATA> list(platform::HidP_MaxDataListLength(type, data.get()));
        ULONG count = static_cast<ULONG>(list.size());
        EXPECT_EQ(
            platform::HidP_GetData(type, list.data(), &count, data.get(), report.data(), length()),
            HIDP_STATUS_SUCCESS);
        list.resize(count);
        return list;
    }
};

// The data index of one usage, from the capabilities.
USHORT dataIndexOf(const Preparsed& data, HIDP_REPORT_TYPE type, USAGE page, USAGE usage) {
    for (const HIDP_BUTTON_CAPS& caps : buttonCapsOf(data, type)) {
        if (caps.UsagePage == page && caps.Range.UsageMin <= usage && usage <= caps.Range.UsageMax)
            return static_cast<USHORT>(caps.Range.DataIndexMin + (usage - caps.Range.UsageMin));
    }
    for (const HIDP_VALUE_CAPS& caps : valueCapsOf(data, type)) {
        if (caps.UsagePage == page && caps.Range.UsageMin <= usage && usage <= caps.Range.UsageMax)
            return static_cast<USHORT>(caps.Range.DataIndexMin + (usage - caps.Range.UsageMin));
    }
    ADD_FAILURE() << "no capability for usage " << page << ":" << usage;
    return 0;
}

TEST(HidPiUsages, KeyboardModifiersAndKeysRoundTrip) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    ASSERT_EQ(keyboard.length(), 9u);
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {0xE1, 0x04, 0x05}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.byte(1), 0x02); // left shift
    EXPECT_EQ(keyboard.byte(3), 0x04); // the key array starts after the reserved byte
    EXPECT_EQ(keyboard.byte(4), 0x05);
    EXPECT_EQ(keyboard.usagesOn(kKeyboardPage), (std::multiset<USAGE>{0x04, 0x05, 0xE1}));

    // Setting a key that is down already takes a second place; unsetting empties the first
    // place holding it, where it is.
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {0x04}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.byte(5), 0x04);
    EXPECT_EQ(keyboard.unsetUsages(kKeyboardPage, {0x04, 0xE1}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.byte(3), 0x00);
    EXPECT_EQ(keyboard.usagesOn(kKeyboardPage), (std::multiset<USAGE>{0x04, 0x05}));
    ULONG done = 99;
    EXPECT_EQ(keyboard.unsetUsages(kKeyboardPage, {0x05, 0x04, 0x04}, &done),
              HIDP_STATUS_BUTTON_NOT_PRESSED);
    EXPECT_EQ(done, 2u); // the failing usage's position
    EXPECT_EQ(keyboard.unsetUsages(kKeyboardPage, {0xE0}), HIDP_STATUS_BUTTON_NOT_PRESSED);
    EXPECT_TRUE(std::all_of(keyboard.report.begin(), keyboard.report.end(),
                            [](char byte) { return byte == 0; }));
}

TEST(HidPiUsages, FullKeyArrayAndShortListReportTheirLimits) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    ULONG done = 0;
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {4, 5, 6, 7, 8, 9, 10}, &done),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(done, 6u);

    std::array<USAGE, 2> shortList{};
    ULONG length = shortList.size();
    EXPECT_EQ(platform::HidP_GetUsages(HidP_Input, kKeyboardPage, kAnyCollection, shortList.data(),
                                       &length, keyboard.data.get(), keyboard.report.data(),
                                       keyboard.length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 6u); // how many it takes
    EXPECT_NE(shortList[0], 0);
    EXPECT_NE(shortList[1], 0);

    // Zeros in a list (the padding of a returned usage list) are skipped.
    EXPECT_EQ(keyboard.unsetUsages(kKeyboardPage, {0, 4, 0}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {0x65}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {0x66}), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidPiUsages, ReadsAReportAsTheDeviceSendsIt) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    keyboard.report = {0, 0x11, 0, 0x29, 0, 0x2C, 0, 0, 0}; // Ctrl+GUI, Escape, Space
    std::array<USAGE_AND_PAGE, 14> buttons{};
    ULONG length = buttons.size();
    ASSERT_EQ(platform::HidP_GetUsagesEx(HidP_Input, kAnyCollection, buttons.data(), &length,
                                         keyboard.data.get(), keyboard.report.data(),
                                         keyboard.length()),
              HIDP_STATUS_SUCCESS);
    std::set<std::pair<USAGE, USAGE>> seen;
    for (ULONG i = 0; i < length; ++i)
        seen.insert({buttons[i].UsagePage, buttons[i].Usage});
    EXPECT_EQ(seen, (std::set<std::pair<USAGE, USAGE>>{{kKeyboardPage, 0xE0},
                                                       {kKeyboardPage, 0xE4},
                                                       {kKeyboardPage, 0x29},
                                                       {kKeyboardPage, 0x2C}}));
    EXPECT_EQ(length, 4u);
}

TEST(HidPiUsages, OutputLedsAndTheButtonNames) {
    ReportFixture leds(golden::kBootKeyboard, HidP_Output);
    ASSERT_EQ(leds.length(), 2u);
    std::array<USAGE, 2> on{1, 3};
    ULONG count = on.size();
    EXPECT_EQ(platform::HidP_SetButtons(HidP_Output, kLedPage, kAnyCollection, on.data(), &count,
                                        leds.data.get(), leds.report.data(), leds.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(leds.byte(1), 0x05);
    std::array<USAGE, 5> read{};
    count = read.size();
    EXPECT_EQ(platform::HidP_GetButtons(HidP_Output, kLedPage, kAnyCollection, read.data(), &count,
                                        leds.data.get(), leds.report.data(), leds.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);
    count = 1;
    EXPECT_EQ(platform::HidP_UnsetButtons(HidP_Output, kLedPage, kAnyCollection, on.data(), &count,
                                          leds.data.get(), leds.report.data(), leds.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(leds.byte(1), 0x04);
    std::vector<USAGE> none;
    EXPECT_EQ(leds.getUsages(kKeyboardPage, none), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidPiReports, WrongLengthIdTypeAndPageAreRefused) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    std::array<USAGE, 14> usages{};
    auto getUsages = [&](HIDP_REPORT_TYPE type, USAGE page, ULONG reportLength) {
        ULONG count = usages.size();
        return platform::HidP_GetUsages(type, page, kAnyCollection, usages.data(), &count,
                                        keyboard.data.get(), keyboard.report.data(), reportLength);
    };
    EXPECT_EQ(getUsages(HidP_Input, kKeyboardPage, 9), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(getUsages(HidP_Input, kKeyboardPage, 8), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(getUsages(HidP_Input, kKeyboardPage, 65), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(getUsages(HidP_Feature, kKeyboardPage, 0), HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(getUsages(static_cast<HIDP_REPORT_TYPE>(3), kKeyboardPage, 9),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(getUsages(HidP_Input, kButtonPage, 9), HIDP_STATUS_USAGE_NOT_FOUND);
    // A descriptor without report IDs has reports whose byte 0 is 0.
    keyboard.report[0] = 1;
    EXPECT_EQ(getUsages(HidP_Input, kKeyboardPage, 9), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(keyboard.setUsages(kKeyboardPage, {4}), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(keyboard.initialize(1), HIDP_STATUS_REPORT_DOES_NOT_EXIST);
    EXPECT_EQ(keyboard.initialize(0), HIDP_STATUS_SUCCESS);
}

TEST(HidPiValues, MouseAxesAreSignedAndButtonsArePacked) {
    ReportFixture mouse(golden::kMouse, HidP_Input);
    ASSERT_EQ(mouse.length(), 5u);
    EXPECT_EQ(mouse.setUsages(kButtonPage, {1, 3}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kX, -10), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.setValue(kGenericDesktop, kY, 0x81), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kWheel, 127), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.report,
              (std::vector<char>{0, 0x05, static_cast<char>(0xF6), static_cast<char>(0x81), 0x7F}));

    ULONG raw = 0;
    EXPECT_EQ(mouse.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0xF6u); // unscaled values come back as the report carries them
    LONG value = 0;
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kY, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -127);

    // -128 lies outside -127..127 and the item has no null state.
    mouse.report[4] = static_cast<char>(0x80);
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kWheel, value), HIDP_STATUS_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(mouse.getValue(kGenericDesktop, kWheel, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x80u); // no range check on the raw bits
    const std::vector<char> before = mouse.report;
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kWheel, 128), HIDP_STATUS_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(mouse.report, before);
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kZ, value), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(mouse.getScaled(kButtonPage, 1, value), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(HidPiData, DataListRoundTripsOnMouseAndKeyboard) {
    struct Case {
        std::span<const std::uint8_t> descriptor;
        std::vector<char> report; // every bit of it data, so the copy can match it exactly
    };
    const Case cases[] = {
        {golden::kMouse, {0, 0x05, 0x03, static_cast<char>(0xFE), 0x7F}},
        {golden::kBootKeyboard, {0, static_cast<char>(0x81), 0, 0x04, 0x2C, 0x65, 0, 0, 0}},
    };
    for (const auto& [descriptor, report] : cases) {
        ReportFixture source(descriptor, HidP_Input);
        source.report = report;
        std::vector<HIDP_DATA> list = source.dataList();
        ASSERT_FALSE(list.empty());
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return a.DataIndex < b.DataIndex;
        }));

        ReportFixture copy(descriptor, HidP_Input);
        ULONG count = static_cast<ULONG>(list.size());
        EXPECT_EQ(platform::HidP_SetData(HidP_Input, list.data(), &count, copy.data.get(),
                                         copy.report.data(), copy.length()),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(copy.report, source.report);
    }
}

TEST(HidPiData, MouseDataListNamesEachControlByItsDataIndex) {
    ReportFixture mouse(golden::kMouse, HidP_Input);
    mouse.report = {0, 0x02, 0x05, static_cast<char>(0xFD), 0};
    const std::vector<HIDP_DATA> list = mouse.dataList();
    ASSERT_EQ(list.size(), 4u); // button 2 and the three axes; buttons that are off are left out
    const auto entryFor = [&](USAGE page, USAGE usage) {
        const USHORT index = dataIndexOf(mouse.data, HidP_Input, page, usage);
        const auto found = std::find_if(list.begin(), list.end(),
                                        [&](const HIDP_DATA& d) { return d.DataIndex == index; });
        return found == list.end() ? std::optional<HIDP_DATA>() : *found;
    };
    ASSERT_TRUE(entryFor(kButtonPage, 2));
    EXPECT_TRUE(entryFor(kButtonPage, 2)->On);
    EXPECT_FALSE(entryFor(kButtonPage, 1));
    EXPECT_EQ(entryFor(kGenericDesktop, kX)->RawValue, 0x05u);
    EXPECT_EQ(entryFor(kGenericDesktop, kY)->RawValue, 0xFDu);
    EXPECT_EQ(entryFor(kGenericDesktop, kWheel)->RawValue, 0u);

    std::array<HIDP_DATA, 2> shortList{};
    ULONG count = shortList.size();
    EXPECT_EQ(platform::HidP_GetData(HidP_Input, shortList.data(), &count, mouse.data.get(),
                                     mouse.report.data(), mouse.length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 4u);
}

TEST(HidPiData, ARepeatedArrayUsageIsListedForEachPlace) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    keyboard.report = {0, 0, 0, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
    const std::vector<HIDP_DATA> list = keyboard.dataList();
    ASSERT_EQ(list.size(), 6u);
    for (const HIDP_DATA& entry : list)
        EXPECT_EQ(entry.DataIndex, dataIndexOf(keyboard.data, HidP_Input, kKeyboardPage, 0x04));
}

TEST(HidPiData, SetDataStopsAtTheFirstBadEntry) {
    ReportFixture keyboard(golden::kBootKeyboard, HidP_Input);
    HIDP_DATA keyA{};
    keyA.DataIndex = dataIndexOf(keyboard.data, HidP_Input, kKeyboardPage, 0x04);
    keyA.On = TRUE;
    HIDP_DATA unknown{};
    unknown.DataIndex = capsOf(keyboard.data).NumberInputDataIndices;
    unknown.On = TRUE;
    std::array<HIDP_DATA, 2> list{keyA, unknown};
    ULONG count = list.size();
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, list.data(), &count, keyboard.data.get(),
                                     keyboard.report.data(), keyboard.length()),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(keyboard.usagesOn(kKeyboardPage), std::multiset<USAGE>{0x04});

    count = 0;
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, list.data(), &count, keyboard.data.get(),
                                     keyboard.report.data(), keyboard.length()),
              HIDP_STATUS_REPORT_DOES_NOT_EXIST);
    EXPECT_EQ(count, 0u);

    keyA.On = FALSE;
    count = 1;
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, &keyA, &count, keyboard.data.get(),
                                     keyboard.report.data(), keyboard.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(keyboard.usagesOn(kKeyboardPage), std::multiset<USAGE>{});
}

TEST(HidPiReportIds, CompositeReportsAreCheckedByTheirIdByte) {
    ReportFixture mouse(golden::kComposite, HidP_Input, 1);
    ASSERT_EQ(mouse.length(), 7u);
    EXPECT_EQ(mouse.byte(0), 1);
    EXPECT_EQ(mouse.setUsages(kButtonPage, {2}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.setUsages(kConsumerPage, {0xE9}), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(mouse.setValue(kGenericDesktop, kY, 0x1234), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.byte(4), 0x34);
    EXPECT_EQ(mouse.byte(5), 0x12);

    ReportFixture consumer(golden::kComposite, HidP_Input, 2);
    EXPECT_EQ(consumer.setUsages(kConsumerPage, {0xE9}), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(consumer.byte(1), 0xE9);
    EXPECT_EQ(consumer.byte(2), 0x00);
    EXPECT_EQ(consumer.setUsages(kConsumerPage, {0xEA}), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(consumer.usagesOn(kConsumerPage), std::multiset<USAGE>{0xE9});
    ULONG value = 0;
    EXPECT_EQ(consumer.getValue(kGenericDesktop, kX, value), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    std::vector<USAGE> buttons;
    EXPECT_EQ(consumer.getUsages(kButtonPage, buttons), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);

    // An ID no input report declares: the data list has nothing to read, and a report cannot
    // be initialized for it.
    consumer.report[0] = 3;
    std::array<HIDP_DATA, 8> list{};
    ULONG count = list.size();
    EXPECT_EQ(platform::HidP_GetData(HidP_Input, list.data(), &count, consumer.data.get(),
                                     consumer.report.data(), consumer.length()),
              HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    EXPECT_EQ(consumer.initialize(3), HIDP_STATUS_REPORT_DOES_NOT_EXIST);
    EXPECT_EQ(consumer.initialize(0), HIDP_STATUS_REPORT_DOES_NOT_EXIST);
}

TEST(HidPiScaling, PhysicalRangeRoundTripsAndBoundsAreChecked) {
    ReportFixture mouse(golden::kComposite, HidP_Input, 1);
    for (const LONG physical : {-1024, -1000, -1, 0, 1, 333, 1023, 1024}) {
        EXPECT_EQ(mouse.setScaled(kGenericDesktop, kX, physical), HIDP_STATUS_SUCCESS);
        LONG back = 0;
        EXPECT_EQ(mouse.getScaled(kGenericDesktop, kX, back), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(back, physical);
    }
    ULONG raw = 0;
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kX, 1024), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 32767u);
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kX, -1024), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x8001u); // -32767 in 16 bits
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kX, 1025), HIDP_STATUS_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(mouse.setValue(kGenericDesktop, kX, 0x8000), HIDP_STATUS_SUCCESS);
    LONG value = 0;
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kX, value), HIDP_STATUS_VALUE_OUT_OF_RANGE);
}

TEST(HidPiScaling, NullStateIsWrittenForOutOfRangeValues) {
    ReportFixture mouse(golden::kComposite, HidP_Input, 1);
    LONG value = 7;
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kWheel, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kWheel, -5), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kWheel, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -5);
    // The wheel's range is -127..127 with a null state: -128 is its null value.
    EXPECT_EQ(mouse.setScaled(kGenericDesktop, kWheel, 300), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(mouse.byte(6), 0x80);
    EXPECT_EQ(mouse.getScaled(kGenericDesktop, kWheel, value), HIDP_STATUS_NULL);
    EXPECT_EQ(value, 0);
}

// A hat switch (0..7 as 0..315 degrees, null state) in four bits, four bits of padding, and a
// value whose physical range is empty.
constexpr std::uint8_t kHatAndBadRange[] = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x05,       // Usage (Game Pad)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x39,       //   Usage (Hat Switch)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x07,       //   Logical Maximum (7)
    0x35, 0x00,       //   Physical Minimum (0)
    0x46, 0x3B, 0x01, //   Physical Maximum (315)
    0x75, 0x04,       //   Report Size (4)
    0x95, 0x01,       //   Report Count (1)
    0x81, 0x42,       //   Input (Data, Variable, Absolute, Null State)
    0x81, 0x01,       //   Input (Constant)
    0x09, 0x32,       //   Usage (Z)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x64,       //   Logical Maximum (100)
    0x35, 0x32,       //   Physical Minimum (50)
    0x45, 0x32,       //   Physical Maximum (50)
    0x75, 0x08,       //   Report Size (8)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0xC0,             // End Collection
};

TEST(HidPiScaling, HatSwitchNullAndAnEmptyPhysicalRange) {
    ReportFixture pad(kHatAndBadRange, HidP_Input);
    ASSERT_EQ(pad.length(), 3u);
    pad.report[1] = 0x08; // null: just above 0..7
    LONG value = 0;
    EXPECT_EQ(pad.getScaled(kGenericDesktop, kHatSwitch, value), HIDP_STATUS_NULL);
    EXPECT_EQ(pad.setScaled(kGenericDesktop, kHatSwitch, 90), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(pad.byte(1), 0x02);
    EXPECT_EQ(pad.getScaled(kGenericDesktop, kHatSwitch, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 90);
    EXPECT_EQ(pad.setScaled(kGenericDesktop, kHatSwitch, -1), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(pad.byte(1), 0x08);

    // A failed scaled read answers 0; a failed raw read leaves the caller's value alone.
    value = 77;
    EXPECT_EQ(pad.getScaled(kGenericDesktop, kZ, value), HIDP_STATUS_BAD_LOG_PHY_VALUES);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(pad.setScaled(kGenericDesktop, kZ, 50), HIDP_STATUS_BAD_LOG_PHY_VALUES);
    EXPECT_EQ(pad.setValue(kGenericDesktop, kZ, 42), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(pad.byte(2), 42);
    ULONG raw = 77;
    EXPECT_EQ(pad.getValue(kButtonPage, 1, raw), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(raw, 77u);
}

// Values at bit offsets that cross bytes: 3, 12 (signed) and 32 bits, then one bit.
constexpr std::uint8_t kUnaligned[] = {
    0x05, 0x01,                   // Usage Page (Generic Desktop)
    0x09, 0x04,                   // Usage (Joystick)
    0xA1, 0x01,                   // Collection (Application)
    0x09, 0x30,                   //   Usage (X)
    0x15, 0x00,                   //   Logical Minimum (0)
    0x25, 0x07,                   //   Logical Maximum (7)
    0x75, 0x03,                   //   Report Size (3)
    0x95, 0x01,                   //   Report Count (1)
    0x81, 0x02,                   //   Input (Data, Variable, Absolute)
    0x09, 0x31,                   //   Usage (Y)
    0x16, 0x00, 0xF8,             //   Logical Minimum (-2048)
    0x26, 0xFF, 0x07,             //   Logical Maximum (2047)
    0x75, 0x0C,                   //   Report Size (12)
    0x81, 0x02,                   //   Input (Data, Variable, Absolute)
    0x09, 0x32,                   //   Usage (Z)
    0x17, 0x00, 0x00, 0x00, 0x80, //   Logical Minimum (-2^31)
    0x27, 0xFF, 0xFF, 0xFF, 0x7F, //   Logical Maximum (2^31 - 1)
    0x75, 0x20,                   //   Report Size (32)
    0x81, 0x02,                   //   Input (Data, Variable, Absolute)
    0x05, 0x09,                   //   Usage Page (Button)
    0x09, 0x01,                   //   Usage (1)
    0x15, 0x00,                   //   Logical Minimum (0)
    0x25, 0x01,                   //   Logical Maximum (1)
    0x75, 0x01,                   //   Report Size (1)
    0x81, 0x02,                   //   Input (Data, Variable, Absolute)
    0xC0,                         // End Collection
};

TEST(HidPiValues, FieldsAcrossByteBoundariesKeepTheirNeighbours) {
    ReportFixture joystick(kUnaligned, HidP_Input);
    ASSERT_EQ(joystick.length(), 7u); // 48 bits after the ID byte
    EXPECT_EQ(joystick.setValue(kGenericDesktop, kX, 5), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(joystick.setScaled(kGenericDesktop, kY, -2048), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(joystick.setScaled(kGenericDesktop, kZ, -123456789), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(joystick.setUsages(kButtonPage, {1}), HIDP_STATUS_SUCCESS);
    // X in bits 0-2, Y in 3-14, Z in 15-46, the button in bit 47.
    const std::uint64_t bits =
        5 | std::uint64_t{0x800} << 3 | std::uint64_t{0xF8A432EB} << 15 | std::uint64_t{1} << 47;
    for (unsigned i = 0; i < 6; ++i)
        EXPECT_EQ(joystick.byte(1 + i), static_cast<std::uint8_t>(bits >> (8 * i))) << i;

    ULONG raw = 0;
    LONG value = 0;
    EXPECT_EQ(joystick.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 5u);
    EXPECT_EQ(joystick.getValue(kGenericDesktop, kY, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x800u);
    EXPECT_EQ(joystick.getScaled(kGenericDesktop, kY, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -2048);
    EXPECT_EQ(joystick.getScaled(kGenericDesktop, kZ, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -123456789);
    EXPECT_EQ(joystick.usagesOn(kButtonPage), std::multiset<USAGE>{1});

    EXPECT_EQ(joystick.setValue(kGenericDesktop, kY, 0xFFFFFFFF), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(joystick.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 5u);
    EXPECT_EQ(joystick.getScaled(kGenericDesktop, kY, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(joystick.getScaled(kGenericDesktop, kZ, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, -123456789);
    EXPECT_EQ(joystick.setScaled(kGenericDesktop, kZ, 2147483647), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(joystick.getScaled(kGenericDesktop, kZ, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 2147483647);
    EXPECT_EQ(joystick.usagesOn(kButtonPage), std::multiset<USAGE>{1});
}

TEST(HidPiValueArrays, FeatureAndLocatorBuffersRoundTrip) {
    ReportFixture feature(golden::kComposite, HidP_Feature, 3);
    constexpr USAGE kVendorPage = 0xFF00;
    std::array<char, 8> in{1, 2, 3, 4, 5, 6, 7, static_cast<char>(0xFF)};
    EXPECT_EQ(platform::HidP_SetUsageValueArray(HidP_Feature, kVendorPage, kAnyCollection, 2,
                                                in.data(), in.size(), feature.data.get(),
                                                feature.report.data(), feature.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), feature.report.begin() + 1));
    std::array<char, 8> out{};
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Feature, kVendorPage, kAnyCollection, 2,
                                                out.data(), out.size(), feature.data.get(),
                                                feature.report.data(), feature.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(out, in);
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Feature, kVendorPage, kAnyCollection, 2,
                                                out.data(), 7, feature.data.get(),
                                                feature.report.data(), feature.length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    // The single-value operations act on place 0, with its whole bits.
    ULONG raw = 0;
    EXPECT_EQ(feature.getValue(kVendorPage, 2, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 1u);
    EXPECT_EQ(feature.setValue(kVendorPage, 2, 0x1FF), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(feature.byte(1), 0xFF);
    EXPECT_EQ(feature.byte(2), 2);
    // The data list leaves value arrays out.
    EXPECT_TRUE(feature.dataList().empty());

    ReportFixture mouse(golden::kComposite, HidP_Input, 1);
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Input, kGenericDesktop, kAnyCollection, kX,
                                                out.data(), out.size(), mouse.data.get(),
                                                mouse.report.data(), mouse.length()),
              HIDP_STATUS_NOT_VALUE_ARRAY);
    // A usage of a range capability with several places is no value array either.
    const std::uint8_t range[] = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x19, 0x30, 0x29,
                                  0x31, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
    ReportFixture axes(range, HidP_Input);
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Input, kGenericDesktop, kAnyCollection, kY,
                                                out.data(), out.size(), axes.data.get(),
                                                axes.report.data(), axes.length()),
              HIDP_STATUS_NOT_VALUE_ARRAY);

    ReportFixture locator(testing_support::locatorDescriptor(), HidP_Output);
    ASSERT_EQ(locator.length(), 65u);
    std::array<char, 64> payload{0x52};
    payload[63] = 0x1F;
    EXPECT_EQ(platform::HidP_SetUsageValueArray(HidP_Output, kVendorPage, kAnyCollection, 3,
                                                payload.data(), payload.size(), locator.data.get(),
                                                locator.report.data(), locator.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(locator.byte(1), 0x52);
    EXPECT_EQ(locator.byte(64), 0x1F);
}

TEST(HidPiValueArrays, PlacesOfOddBitSizesArePackedTightly) {
    // Four 12-bit places: 48 bits in 6 bytes.
    const std::uint8_t descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                       0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x0F,
                                       0x75, 0x0C, 0x95, 0x04, 0x81, 0x02, 0xC0};
    ReportFixture values(descriptor, HidP_Input);
    ASSERT_EQ(values.length(), 7u);
    std::array<char, 6> in{0x21,
                           0x43,
                           0x65,
                           static_cast<char>(0x87),
                           static_cast<char>(0xA9),
                           static_cast<char>(0xCB)};
    EXPECT_EQ(platform::HidP_SetUsageValueArray(HidP_Input, 0xFF00, kAnyCollection, 2, in.data(),
                                                in.size(), values.data.get(), values.report.data(),
                                                values.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), values.report.begin() + 1));
    std::array<char, 6> out{};
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Input, 0xFF00, kAnyCollection, 2, out.data(),
                                                5, values.data.get(), values.report.data(),
                                                values.length()),
              HIDP_STATUS_BUFFER_TOO_SMALL);
}

TEST(HidPiExtendedAttributes, UnknownGlobalItemsReachTheirControls) {
    const std::uint8_t descriptor[] = {
        0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, // Generic Desktop, Joystick, Application
        0xC5, 0x2A,                         //   reserved global item, tag 0xC
        0xF6, 0x34, 0x12,                   //   reserved global item, tag 0xF
        0xC5, 0x2B,                         //   tag 0xC again: replaces the first
        0x09, 0x30, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0};
    const Preparsed data = parse(descriptor);
    ASSERT_TRUE(data);
    alignas(8) std::array<std::uint8_t, 64> buffer{};
    auto* attributes = reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(buffer.data());
    ULONG length = sizeof(HIDP_EXTENDED_ATTRIBUTES);
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(HidP_Input, 0, data.get(), attributes, &length),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, sizeof(HIDP_EXTENDED_ATTRIBUTES) + 2 * sizeof(HIDP_UNKNOWN_TOKEN));
    ASSERT_EQ(platform::HidP_GetExtendedAttributes(HidP_Input, 0, data.get(), attributes, &length),
              HIDP_STATUS_SUCCESS);
    ASSERT_EQ(attributes->NumGlobalUnknowns, 2);
    // The record is packed to four bytes; its pointer member is read by value, not bound.
    const PHIDP_UNKNOWN_TOKEN tokens = attributes->GlobalUnknowns;
    ASSERT_NE(tokens, nullptr);
    EXPECT_EQ(tokens[0].Token, 0xC5);
    EXPECT_EQ(tokens[0].BitField, 0x2Bu);
    EXPECT_EQ(tokens[1].Token, 0xF6);
    EXPECT_EQ(tokens[1].BitField, 0x1234u);
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(HidP_Input, 1, data.get(), attributes, &length),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(HidP_Output, 0, data.get(), attributes, &length),
              HIDP_STATUS_DATA_INDEX_NOT_FOUND);

    const Preparsed mouse = parse(golden::kMouse);
    length = sizeof(HIDP_EXTENDED_ATTRIBUTES);
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(HidP_Input, 0, mouse.get(), attributes, &length),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(attributes->NumGlobalUnknowns, 0);
    const PHIDP_UNKNOWN_TOKEN noTokens = attributes->GlobalUnknowns;
    EXPECT_EQ(noTokens, nullptr);
}

// A value without bits among ordinary ones, an item with a report count of 0, padding, a
// constant item with a usage, and a second value without bits at the very end of the report.
constexpr std::uint8_t kZeroSizeAndConstant[] = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x04,       // Usage (Joystick)
    0xA1, 0x01,       // Collection (Application)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x09, 0x30,       //   Usage (X)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x01,       //   Report Count (1)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x31,       //   Usage (Y)
    0x75, 0x00,       //   Report Size (0)
    0x95, 0x03,       //   Report Count (3)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x32,       //   Usage (Z)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x00,       //   Report Count (0)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x95, 0x01,       //   Report Count (1)
    0x81, 0x01,       //   Input (Constant): padding
    0x09, 0x35,       //   Usage (Rz)
    0x81, 0x03,       //   Input (Constant, Variable)
    0x09, 0x36,       //   Usage (Slider)
    0x75, 0x00,       //   Report Size (0)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0xC0,             // End Collection
};

TEST(HidPiZeroSize, ItemsWithoutBitsKeepCapsAndIndicesButNeverTouchTheReport) {
    ReportFixture stick(kZeroSizeAndConstant, HidP_Input);
    ASSERT_TRUE(stick.data);
    const HIDP_CAPS caps = capsOf(stick.data);
    EXPECT_EQ(caps.InputReportByteLength, 4); // ID, X, the padding byte, Rz
    EXPECT_EQ(caps.NumberInputValueCaps, 4);  // X, Y, Rz, Slider: none for Z or the padding
    EXPECT_EQ(caps.NumberInputDataIndices, 4);
    const std::vector<HIDP_VALUE_CAPS> values = valueCapsOf(stick.data, HidP_Input);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[1].NotRange.Usage, kY);
    EXPECT_EQ(values[1].BitSize, 0);
    EXPECT_EQ(values[1].ReportCount, 3);
    EXPECT_EQ(values[1].NotRange.DataIndex, 1);
    EXPECT_EQ(values[2].NotRange.Usage, 0x35);
    EXPECT_EQ(values[2].BitField, 0x03);
    EXPECT_EQ(values[2].NotRange.DataIndex, 2);
    EXPECT_EQ(values[3].BitSize, 0);
    EXPECT_EQ(platform::HidP_MaxDataListLength(HidP_Input, stick.data.get()), 4u);

    stick.report = {0, 0x11, static_cast<char>(0xFF), 0x22};
    const std::vector<HIDP_DATA> list = stick.dataList();
    ASSERT_EQ(list.size(), 2u); // X and Rz; the values without bits say nothing
    EXPECT_EQ(list[0].DataIndex, 0);
    EXPECT_EQ(list[0].RawValue, 0x11u);
    EXPECT_EQ(list[1].DataIndex, 2);
    EXPECT_EQ(list[1].RawValue, 0x22u);

    const std::vector<char> before = stick.report;
    ULONG raw = 7;
    EXPECT_EQ(stick.setValue(kGenericDesktop, 0x36, 0xFFFFFFFF), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(stick.setScaled(kGenericDesktop, 0x36, 100), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(stick.getValue(kGenericDesktop, 0x36, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0u);
    std::array<char, 4> array{1, 2, 3, 4};
    EXPECT_EQ(platform::HidP_SetUsageValueArray(HidP_Input, kGenericDesktop, kAnyCollection, kY,
                                                array.data(), array.size(), stick.data.get(),
                                                stick.report.data(), stick.length()),
              HIDP_STATUS_SUCCESS);
    HIDP_DATA slider{};
    slider.DataIndex = 3;
    slider.RawValue = 0xFF;
    ULONG count = 1;
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, &slider, &count, stick.data.get(),
                                     stick.report.data(), stick.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(stick.report, before);
}

// An array of three places whose selectors count through Usage 0x20, Usage 0x10 and the range
// 0x30..0x31 from 1, although its logical range starts at 5.
constexpr std::uint8_t kSelectorArray[] = {
    0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x20,       //   Usage (0x20)
    0x09, 0x10,       //   Usage (0x10)
    0x19, 0x30,       //   Usage Minimum (0x30)
    0x29, 0x31,       //   Usage Maximum (0x31)
    0x15, 0x05,       //   Logical Minimum (5)
    0x25, 0x08,       //   Logical Maximum (8)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x03,       //   Report Count (3)
    0x81, 0x00,       //   Input (Data, Array, Absolute)
    0xC0,             // End Collection
};

TEST(HidPiArrays, PlacesHoldOneBasedPositionsAndZeroIsEmpty) {
    constexpr USAGE kVendorPage = 0xFF00;
    ReportFixture array(kSelectorArray, HidP_Input);
    array.report = {0, 0x04, 0x00, 0x02};
    std::vector<USAGE> usages;
    ASSERT_EQ(array.getUsages(kVendorPage, usages), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(usages, (std::vector<USAGE>{0x31, 0x10})); // place order
    std::array<USAGE_AND_PAGE, 6> buttons{};
    ULONG length = buttons.size();
    ASSERT_EQ(platform::HidP_GetUsagesEx(HidP_Input, kAnyCollection, buttons.data(), &length,
                                         array.data.get(), array.report.data(), array.length()),
              HIDP_STATUS_SUCCESS);
    ASSERT_EQ(length, 2u);
    EXPECT_EQ(buttons[0].Usage, 0x31);
    EXPECT_EQ(buttons[1].Usage, 0x10);

    // The same usage twice takes two places; a full array keeps what was placed before.
    ASSERT_EQ(array.initialize(0), HIDP_STATUS_SUCCESS);
    ULONG done = 0;
    EXPECT_EQ(array.setUsages(kVendorPage, {0x20, 0x20, 0x30, 0x10}, &done),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(array.report, (std::vector<char>{0, 1, 1, 3}));
    ASSERT_EQ(array.initialize(0), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(array.setUsages(kVendorPage, {0x99, 0x10}, &done), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(array.unsetUsages(kVendorPage, {0x10}), HIDP_STATUS_BUTTON_NOT_PRESSED);

    // Turned off through the data list, a usage leaves its place and the later ones move down.
    array.report = {0, 1, 2, 3};
    HIDP_DATA off{};
    off.DataIndex = dataIndexOf(array.data, HidP_Input, kVendorPage, 0x20);
    off.On = FALSE;
    ULONG count = 1;
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, &off, &count, array.data.get(),
                                     array.report.data(), array.length()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(array.report, (std::vector<char>{0, 2, 3, 0}));
    EXPECT_EQ(platform::HidP_SetData(HidP_Input, &off, &count, array.data.get(),
                                     array.report.data(), array.length()),
              HIDP_STATUS_BUTTON_NOT_PRESSED);
}

// Report ID 1 carries an 8-bit X; the output reports hold padding only.
constexpr std::uint8_t kNumberedWithPaddingOutput[] = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x04, // Usage (Joystick)
    0xA1, 0x01, // Collection (Application)
    0x85, 0x01, //   Report ID (1)
    0x09, 0x30, //   Usage (X)
    0x75, 0x08, //   Report Size (8)
    0x95, 0x01, //   Report Count (1)
    0x81, 0x02, //   Input (Data, Variable, Absolute)
    0x95, 0x02, //   Report Count (2)
    0x91, 0x01, //   Output (Constant)
    0xC0,       // End Collection
};

TEST(HidPiReportIds, IdByteZeroIsAcceptedAndInitializationWritesTheIdThenZeros) {
    ReportFixture input(kNumberedWithPaddingOutput, HidP_Input, 1);
    input.report = {0, 0x42};
    ULONG raw = 0;
    EXPECT_EQ(input.getValue(kGenericDesktop, kX, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x42u);
    EXPECT_EQ(input.setValue(kGenericDesktop, kX, 0x43), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(input.report, (std::vector<char>{0, 0x43}));

    std::vector<char> buffer(3, static_cast<char>(0xFF));
    EXPECT_EQ(
        platform::HidP_InitializeReportForID(HidP_Input, 1, input.data.get(), buffer.data(), 2),
        HIDP_STATUS_SUCCESS);
    EXPECT_EQ(buffer, (std::vector<char>{1, 0, static_cast<char>(0xFF)}));
    EXPECT_EQ(
        platform::HidP_InitializeReportForID(HidP_Input, 2, input.data.get(), buffer.data(), 2),
        HIDP_STATUS_REPORT_DOES_NOT_EXIST);

    // Padding counts in the output length but makes no report.
    EXPECT_EQ(capsOf(input.data).OutputReportByteLength, 3);
    std::array<char, 3> output{};
    EXPECT_EQ(platform::HidP_InitializeReportForID(HidP_Output, 1, input.data.get(), output.data(),
                                                   output.size()),
              HIDP_STATUS_REPORT_DOES_NOT_EXIST);
}

// Every report operation checks the preparsed data first and its pointers before touching them.
void expectEveryOperationAnswers(PHIDP_PREPARSED_DATA data, NTSTATUS expected, PCHAR report,
                                 ULONG reportLength, bool nullArguments) {
    std::array<USAGE, 4> usages{1};
    std::array<USAGE_AND_PAGE, 4> buttons{};
    std::array<HIDP_DATA, 4> list{};
    std::array<char, 8> array{};
    ULONG length = 4, value = 0;
    LONG scaled = 0;
    ULONG* const lengthArg = nullArguments ? nullptr : &length;
    EXPECT_EQ(
        platform::HidP_GetData(HidP_Input, list.data(), lengthArg, data, report, reportLength),
        expected);
    EXPECT_EQ(
        platform::HidP_SetData(HidP_Input, list.data(), lengthArg, data, report, reportLength),
        expected);
    EXPECT_EQ(platform::HidP_GetUsages(HidP_Input, kButtonPage, 0, usages.data(), lengthArg, data,
                                       report, reportLength),
              expected);
    EXPECT_EQ(platform::HidP_GetUsagesEx(HidP_Input, 0, buttons.data(), lengthArg, data, report,
                                         reportLength),
              expected);
    EXPECT_EQ(platform::HidP_SetUsages(HidP_Input, kButtonPage, 0, usages.data(), lengthArg, data,
                                       report, reportLength),
              expected);
    EXPECT_EQ(platform::HidP_UnsetUsages(HidP_Input, kButtonPage, 0, usages.data(), lengthArg, data,
                                         report, reportLength),
              expected);
    EXPECT_EQ(platform::HidP_GetUsageValue(HidP_Input, kGenericDesktop, 0, kX,
                                           nullArguments ? nullptr : &value, data, report,
                                           reportLength),
              expected);
    EXPECT_EQ(platform::HidP_GetScaledUsageValue(HidP_Input, kGenericDesktop, 0, kX,
                                                 nullArguments ? nullptr : &scaled, data, report,
                                                 reportLength),
              expected);
    EXPECT_EQ(platform::HidP_GetUsageValueArray(HidP_Input, kGenericDesktop, 0, kX,
                                                nullArguments ? nullptr : array.data(),
                                                array.size(), data, report, reportLength),
              expected);
    EXPECT_EQ(platform::HidP_SetUsageValueArray(HidP_Input, kGenericDesktop, 0, kX,
                                                nullArguments ? nullptr : array.data(),
                                                array.size(), data, report, reportLength),
              expected);
    if (nullArguments)
        return; // the remaining operations take no output pointer besides the report
    EXPECT_EQ(platform::HidP_SetUsageValue(HidP_Input, kGenericDesktop, 0, kX, 1, data, report,
                                           reportLength),
              expected);
    EXPECT_EQ(platform::HidP_SetScaledUsageValue(HidP_Input, kGenericDesktop, 0, kX, 1, data,
                                                 report, reportLength),
              expected);
    EXPECT_EQ(platform::HidP_InitializeReportForID(HidP_Input, 0, data, report, reportLength),
              expected);
}

TEST(HidPiReports, BadPreparsedDataAndNullPointersAreAnsweredNotFollowed) {
    std::array<char, 5> report{};
    expectEveryOperationAnswers(nullptr, HIDP_STATUS_INVALID_PREPARSED_DATA, report.data(),
                                report.size(), false);
    std::array<std::uint8_t, 256> foreign{};
    expectEveryOperationAnswers(reinterpret_cast<PHIDP_PREPARSED_DATA>(foreign.data()),
                                HIDP_STATUS_INVALID_PREPARSED_DATA, report.data(), report.size(),
                                false);
    const Preparsed mouse = parse(golden::kMouse);
    expectEveryOperationAnswers(mouse.get(), HIDP_STATUS_NULL, nullptr, report.size(), false);
    expectEveryOperationAnswers(mouse.get(), HIDP_STATUS_NULL, report.data(), report.size(), true);
    expectEveryOperationAnswers(mouse.get(), HIDP_STATUS_INVALID_REPORT_LENGTH, report.data(),
                                report.size() - 1, false);

    HIDP_EXTENDED_ATTRIBUTES attributes{};
    ULONG length = sizeof attributes;
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(HidP_Input, 0, nullptr, &attributes, &length),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(
        platform::HidP_GetExtendedAttributes(HidP_Input, 0, mouse.get(), &attributes, nullptr),
        HIDP_STATUS_NULL);
    EXPECT_EQ(platform::HidP_GetExtendedAttributes(static_cast<HIDP_REPORT_TYPE>(-1), 0,
                                                   mouse.get(), &attributes, &length),
              HIDP_STATUS_INVALID_REPORT_TYPE);
}

} // namespace
