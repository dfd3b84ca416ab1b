#include "locator/LocatorReport.h"
#include "platform/base/Exception.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> bytes(const TReport& report, int first, int last) {
    std::vector<int> result;
    for (int i = first; i <= last; ++i)
        result.push_back(report.Data[i]);
    return result;
}

TReport freshReport(std::uint8_t command) {
    TReport report;
    InitHidData(report.Data);
    report.Data[0] = command;
    return report;
}

// The window's controls as they are at start-up.
TLocatorControls initialControls() {
    TLocatorControls c;
    c.OEM1 = "01";
    c.OEM2 = "01";
    c.LocationID = "1";
    c.CustMsgCounts = "1";
    c.CustMsgPeriod = "60";
    c.LocationStatusIndex = 1;
    c.LocationStatusPolling = "1";
    c.LocationStatusMsgCounts = "1";
    c.EnableCustMsgAntennaIndex = 1;
    c.CustMsgPower = "01";
    c.TransmitLowBatFFMIndex = 1;
    c.FrequencyIndex = 0;
    c.LowBatFreeMsg = "1";
    c.Ext1 = "FF";
    c.Ext2 = "FF";
    return c;
}

std::vector<int> encodeControls(const TLocatorControls& controls) {
    TReport report = freshReport(cmdWriteConfig);
    EncodeLocatorControls(controls, report);
    return bytes(report, 1, 16);
}

} // namespace

TEST(LocatorReport, ReadRequestIsCommandThenAllFF) {
    const TReport report = freshReport(cmdReadConfig);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&report);
    EXPECT_EQ(raw[0], 0x00);
    EXPECT_EQ(raw[1], 0x52);
    for (int i = 2; i < 65; ++i)
        EXPECT_EQ(raw[i], 0xFF) << "report byte " << i;
}

TEST(LocatorReport, FactoryResetReportByteForByte) {
    TReport report = freshReport(cmdWriteConfig);
    EncodeLocatorConfig(kFactoryDefaults, report);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&report);
    const std::vector<int> head{0x00, 0x57, 0x90, 0x90, 0x00, 0x01, 0x02, 0x3C, 0x00,
                                0x3C, 0x04, 0x00, 0x3F, 0x00, 0x00, 0x18, 0x00, 0x00};
    EXPECT_EQ(std::vector<int>(raw, raw + 18), head);
    for (int i = 18; i < 65; ++i)
        EXPECT_EQ(raw[i], 0xFF) << "report byte " << i;
}

TEST(LocatorReport, InitialWindowValuesEncode) {
    EXPECT_EQ(encodeControls(initialControls()),
              (std::vector<int>{0x01, 0x01, 0x00, 0x01, 0x01, 0x3C, 0x00, 0x01, 0x01, 0x00, 0x01,
                                0x00, 0x00, 0x01, 0xFF, 0xFF}));
}

TEST(LocatorReport, LocationIdIsBigEndian) {
    for (const auto& [text, high, low] : std::vector<std::tuple<const char*, int, int>>{
             {"1", 0x00, 0x01}, {"256", 0x01, 0x00}, {"4095", 0x0F, 0xFF}}) {
        auto controls = initialControls();
        controls.LocationID = text;
        const auto data = encodeControls(controls);
        EXPECT_EQ(data[2], high) << text;
        EXPECT_EQ(data[3], low) << text;
    }
}

TEST(LocatorReport, OnOffListsAndFrequencySelection) {
    auto controls = initialControls();
    controls.LocationStatusIndex = 0;
    EXPECT_EQ(encodeControls(controls)[6], 0x01);
    controls.LocationStatusIndex = 1;
    EXPECT_EQ(encodeControls(controls)[6], 0x00);
    controls.LocationStatusIndex = -1;
    EXPECT_EQ(encodeControls(controls)[6], 0x00);

    controls.FrequencyIndex = 9; // "FHSS (INDO)"
    EXPECT_EQ(encodeControls(controls)[12], 0x09);
    controls.FrequencyIndex = -1;
    EXPECT_EQ(encodeControls(controls)[12], 0xFF);
}

TEST(LocatorReport, ExtendedBytesAreHexadecimalText) {
    auto controls = initialControls();
    controls.Ext1 = "F";
    EXPECT_EQ(encodeControls(controls)[14], 0x0F);
    controls.Ext1 = "0A";
    EXPECT_EQ(encodeControls(controls)[14], 0x0A);
    controls.Ext1 = "0a"; // pasted lower case converts like upper case
    EXPECT_EQ(encodeControls(controls)[14], 0x0A);
}

TEST(LocatorReport, UnconvertibleControlStopsAtItsFieldAndLeavesTheRest) {
    auto controls = initialControls();
    controls.Ext1 = "";
    TReport report = freshReport(cmdWriteConfig);
    EXPECT_THROW(EncodeLocatorControls(controls, report), EConvertError);
    EXPECT_EQ(report.Data[14], 0x01); // LowBatFreeMsg, the field before, was written
    EXPECT_EQ(report.Data[15], 0xFF); // Ext1 and Ext2 untouched
    EXPECT_EQ(report.Data[16], 0xFF);

    controls = initialControls();
    controls.CustMsgCounts = ""; // a list without a selection
    report = freshReport(cmdWriteConfig);
    EXPECT_THROW(EncodeLocatorControls(controls, report), EConvertError);
    EXPECT_EQ(bytes(report, 5, 16), std::vector<int>(12, 0xFF));
}

TEST(LocatorReport, EncodingTouchesOnlyTheSixteenFieldBytes) {
    TReport report;
    report.ReportID = 0x42;
    for (auto& byte : report.Data)
        byte = 0xA5;
    EncodeLocatorControls(initialControls(), report);
    EncodeLocatorConfig(kFactoryDefaults, report);
    EXPECT_EQ(report.ReportID, 0x42);
    EXPECT_EQ(report.Data[0], 0xA5);
    for (int i = 17; i < 64; ++i)
        EXPECT_EQ(report.Data[i], 0xA5);
}

TEST(LocatorReport, DecodeIsTheInverseOfEncode) {
    TLocatorConfig config{0x12, 0xFE, 4660, 10, 240, true, 255, 7,
                          true, 0x7F, true, 9,  1,   0x0A, 0xFF};
    TReport report = freshReport(cmdWriteConfig);
    EncodeLocatorConfig(config, report);
    EXPECT_EQ(DecodeLocatorConfig(report.Data), config);

    report.Data[fldLocationStatus] = 0x02; // any non-zero byte reads as ON
    EXPECT_TRUE(DecodeLocatorConfig(report.Data).LocationStatus);
}
