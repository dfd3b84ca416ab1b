#pragma once
// The locator's one message: a 65-byte report whose first data byte is a command and whose
// next sixteen data bytes carry the whole configuration. The answers (input reports) carry the
// same fields at the same positions. No window here: the window hands over a snapshot of its
// controls (TLocatorControls) and receives decoded values (TLocatorConfig).

#include <cstdint>
#include <string>

// ReportID is 0 in every report the tool sends. Data[n] is report byte n + 1.
struct TReport {
    std::uint8_t ReportID = 0;
    std::uint8_t Data[64] = {};
};
static_assert(sizeof(TReport) == 65, "a report is 65 bytes without padding");

inline constexpr std::uint8_t cmdReadConfig = 0x52;  // "R": Data[1..63] all 0xFF
inline constexpr std::uint8_t cmdWriteConfig = 0x57; // "W": Data[1..16] carry a configuration

// Data indices of the configuration fields.
enum LocatorField : int {
    fldOEM1 = 1,
    fldOEM2 = 2,
    fldLocationIDHigh = 3,
    fldLocationIDLow = 4,
    fldCustMsgCounts = 5,
    fldCustMsgPeriod = 6,
    fldLocationStatus = 7,
    fldLocationStatusPolling = 8,
    fldLocationStatusMsgCounts = 9,
    fldEnableCustMsgAntenna = 10,
    fldCustMsgPower = 11,
    fldTransmitLowBatFFM = 12,
    fldFrequency = 13,
    fldLowBatFreeMsg = 14,
    fldExt1 = 15,
    fldExt2 = 16,
};

struct TLocatorConfig {
    std::uint8_t OEM1 = 0;
    std::uint8_t OEM2 = 0;
    std::uint16_t LocationID = 0;
    std::uint8_t CustMsgCounts = 0;
    std::uint8_t CustMsgPeriod = 0; // bursts per minute
    bool LocationStatus = false;
    std::uint8_t LocationStatusPolling = 0; // minutes
    std::uint8_t LocationStatusMsgCounts = 0;
    bool EnableCustMsgAntenna = false;
    std::uint8_t CustMsgPower = 0;
    bool TransmitLowBatFFM = false;
    std::uint8_t Frequency = 0;     // the frequency mode code: the item index in the window's list
    std::uint8_t LowBatFreeMsg = 0; // hours
    std::uint8_t Ext1 = 0;
    std::uint8_t Ext2 = 0;

    friend bool operator==(const TLocatorConfig&, const TLocatorConfig&) = default;
};

inline constexpr TLocatorConfig kFactoryDefaults{0x90,  0x90, 1,     2, 60, false, 60,  4,
                                                 false, 0x3F, false, 0, 24, 0x00,  0x00};

// What the window's configuration controls hold: the text of each edit box, the selected
// item's text of each numeric list (empty without a selection), and the selected index of the
// ON/OFF lists and the frequency list (-1 without a selection).
struct TLocatorControls {
    std::string OEM1;
    std::string OEM2;
    std::string LocationID;
    std::string CustMsgCounts;
    std::string CustMsgPeriod;
    int LocationStatusIndex = -1;
    std::string LocationStatusPolling;
    std::string LocationStatusMsgCounts;
    int EnableCustMsgAntennaIndex = -1;
    std::string CustMsgPower;
    int TransmitLowBatFFMIndex = -1;
    int FrequencyIndex = -1;
    std::string LowBatFreeMsg;
    std::string Ext1;
    std::string Ext2;
};

// Sets the 64 data bytes to 0xFF.
void InitHidData(std::uint8_t (&Data)[64]);

// Writes a configuration into Data[1..16]; nothing else changes.
void EncodeLocatorConfig(const TLocatorConfig& config, TReport& report);

// Writes Data[1..16] from the controls, field by field in data-index order. A text that is
// not an integer of its base raises EConvertError at that field; the fields before it have
// been written and the rest are untouched. ReportID, Data[0] and Data[17..63] never change.
void EncodeLocatorControls(const TLocatorControls& controls, TReport& report);

// Reads the sixteen fields back from an answer's data bytes (at least 17 of them).
TLocatorConfig DecodeLocatorConfig(const std::uint8_t* data);
