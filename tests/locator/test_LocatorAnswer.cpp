#include "locator/DeviceCommand.h"
#include "locator/LocatorAnswer.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Payload = std::uint8_t[kReportDataBytes];

// Data[0] = command, Data[1..16] = the factory configuration, 0xFF after it.
void factoryAnswer(Payload& data, std::uint8_t command = 0x57) {
    const std::uint8_t config[16] = {0x90, 0x90, 0x00, 0x01, 0x02, 0x3C, 0x00, 0x3C,
                                     0x04, 0x00, 0x3F, 0x00, 0x00, 0x18, 0x00, 0x00};
    std::fill(std::begin(data), std::end(data), 0xFF);
    data[0] = command;
    std::copy(std::begin(config), std::end(config), data + 1);
}

// What the window shows after reading the factory configuration.
TLocatorSelection factoryWindow() {
    TLocatorSelection s;
    s.OEM1 = 0x8F;
    s.OEM2 = 0x8F;
    s.LocationID = "1";
    s.CustMsgCounts = 1;
    s.CustMsgPeriod = 59;
    s.LocationStatus = 1;
    s.LocationStatusPolling = 59;
    s.LocationStatusMsgCounts = 3;
    s.EnableCustMsgAntenna = 1;
    s.CustMsgPower = 0x3E;
    s.TransmitLowBatFFM = 1;
    s.Frequency = 0;
    s.LowBatFreeMsg = 23;
    s.Ext1 = "00";
    s.Ext2 = "00";
    return s;
}

TEST(ReportText, BlocksAndTextOfAFullReport) {
    Payload data;
    for (int k = 0; k < 64; ++k)
        data[k] = static_cast<std::uint8_t>(k * 4 + 3);
    const auto lines = ReportBlockLines(data, 64);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "> 03 07 0B 0F 13 17 1B 1F");
    EXPECT_EQ(lines[7], "> E3 E7 EB EF F3 F7 FB FF");
    const std::string text = ReportText(data);
    EXPECT_EQ(text.size(), 191u);
    EXPECT_EQ(text.substr(0, 12), "03 07 0B 0F ");
    EXPECT_EQ(text.substr(183), "F7 FB FF");
}

TEST(ReportText, AShortReportIsNeverReadPastItsEnd) {
    const std::uint8_t three[3] = {0x52, 0x01, 0x0A};
    const auto lines = ReportBlockLines(three, 3);
    EXPECT_EQ(lines[0], "> 52 01 0A -- -- -- -- --");
    for (int k = 1; k < 8; ++k)
        EXPECT_EQ(lines[k], "> -- -- -- -- -- -- -- --");
    EXPECT_EQ(ReportBlockLines(nullptr, 0)[3], "> -- -- -- -- -- -- -- --");
}

TEST(ReadBack, FactoryAnswerSelectsTheFactoryWindow) {
    Payload data;
    factoryAnswer(data, 0x00);
    EXPECT_EQ(SelectionFromReportText(ReportText(data)), factoryWindow());
}

TEST(ReadBack, IndicesAreNotRangeChecked) {
    Payload data;
    factoryAnswer(data);
    data[1] = 0x00; // OEM1 below its list
    data[3] = 0xFF; // Location ID 0xFFFF
    data[4] = 0xFF;
    data[7] = 0x05;  // any non-zero switch is ON
    data[13] = 0x0A; // no such frequency
    data[15] = 0xAB;
    const TLocatorSelection s = SelectionFromReportText(ReportText(data));
    EXPECT_EQ(s.OEM1, -1);
    EXPECT_EQ(s.LocationID, "65535");
    EXPECT_EQ(s.LocationStatus, 0);
    EXPECT_EQ(s.Frequency, 10);
    EXPECT_EQ(s.Ext1, "AB");
}

TEST(Verify, AnUnchangedWindowMatchesAndEachFieldReportsItsOwnLine) {
    Payload data;
    factoryAnswer(data);
    const std::string answer = ReportText(data);
    EXPECT_TRUE(CompareLocatorUIValues(answer, factoryWindow()).empty());

    TLocatorSelection all = factoryWindow();
    all.OEM1 = 0;
    all.OEM2 = 0;
    all.LocationID = "2";
    all.CustMsgCounts = 0;
    all.CustMsgPeriod = 0;
    all.LocationStatus = 0;
    all.LocationStatusPolling = 0;
    all.LocationStatusMsgCounts = 0;
    all.EnableCustMsgAntenna = 0;
    all.CustMsgPower = 0;
    all.TransmitLowBatFFM = 0;
    all.Frequency = 1;
    all.LowBatFreeMsg = 0;
    all.Ext1 = "01";
    all.Ext2 = "01";
    EXPECT_EQ(CompareLocatorUIValues(answer, all),
              (std::vector<std::string>{
                  "OEM1 Compare Failed!", "OEM2 Compare Failed!", "Location ID Compare Failed!",
                  "Custom Message Counts Compare Failed!", "Custom Message Burst Compare Failed!",
                  "Location Status Compare Failed!", "Location Status Polling Compare Failed!",
                  "Location Status Message Counts Compare Failed!",
                  "Custom Message Antenna Compare Failed!", "Custom Message Power Compare Failed!",
                  "Transmit Low Bat FFM Compare Failed!", "Frequency Compare Failed!",
                  "Low Bat FFM Compare Failed!", "Ext1 Compare Failed!", "Ext2 Compare Failed!"}));
}

TEST(Verify, TextsCompareByValueAndUnreadableTextsNeverMatch) {
    Payload data;
    factoryAnswer(data);
    data[15] = 0x0F;
    data[16] = 0x0A;
    const std::string answer = ReportText(data);
    TLocatorSelection window = factoryWindow();
    window.Ext1 = "F";
    window.Ext2 = "0a";
    window.LocationID = " 1";
    EXPECT_TRUE(CompareLocatorUIValues(answer, window).empty());

    window.Ext1 = "";
    window.Ext2 = "G1";
    window.LocationID = "one";
    EXPECT_EQ(CompareLocatorUIValues(answer, window),
              (std::vector<std::string>{"Location ID Compare Failed!", "Ext1 Compare Failed!",
                                        "Ext2 Compare Failed!"}));
}

TEST(Verify, SwitchesAcceptAnyNonZeroAsOn) {
    Payload data;
    factoryAnswer(data);
    data[7] = 0x02;
    TLocatorSelection window = factoryWindow();
    window.LocationStatus = 0; // ON
    EXPECT_TRUE(CompareLocatorUIValues(ReportText(data), window).empty());
    window.LocationStatus = -1;
    EXPECT_EQ(CompareLocatorUIValues(ReportText(data), window),
              (std::vector<std::string>{"Location Status Compare Failed!"}));
}

TEST(FactoryReset, OnlyTheExactDefaultsMatch) {
    Payload data;
    factoryAnswer(data, 0x00);
    data[17] = 0x00; // bytes after the configuration play no part
    EXPECT_TRUE(MatchesFactoryDefaults(ReportText(data)));
    for (int field = 1; field <= 16; ++field) {
        Payload changed;
        factoryAnswer(changed);
        changed[field] ^= 0x01;
        EXPECT_FALSE(MatchesFactoryDefaults(ReportText(changed))) << "field " << field;
    }
}

TEST(CommandRoad, WritesNeverReachBeyondTheReport) {
    EXPECT_EQ(BoundedWriteLength(65), 65u);
    EXPECT_EQ(BoundedWriteLength(9), 9u);
    EXPECT_EQ(BoundedWriteLength(1025), sizeof(TReport));
}

} // namespace
