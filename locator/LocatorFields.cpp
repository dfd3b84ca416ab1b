#include "locator/LocatorFields.h"

#include "platform/base/Convert.h"

#include <cctype>

namespace {

const std::array<TLocatorFieldInfo, kLocatorFieldCount> kFields{{
    {"OEM1", TFieldKind::HexByte, 0x01, 0xFE, "OEM1 Compare Failed!"},
    {"OEM2", TFieldKind::HexByte, 0x01, 0xFE, "OEM2 Compare Failed!"},
    {"LocationID", TFieldKind::Number, 1, 4095, "Location ID Compare Failed!"},
    {"CustMsgCounts", TFieldKind::Number, 1, 10, "Custom Message Counts Compare Failed!"},
    {"CustMsgPeriod", TFieldKind::Number, 1, 240, "Custom Message Burst Compare Failed!"},
    {"LocationStatus", TFieldKind::OnOff, 0, 1, "Location Status Compare Failed!"},
    {"LocationStatusPolling", TFieldKind::Number, 1, 255,
     "Location Status Polling Compare Failed!"},
    {"LocationStatusMsgCounts", TFieldKind::Number, 1, 10,
     "Location Status Message Counts Compare Failed!"},
    {"EnableCustMsgAntenna", TFieldKind::OnOff, 0, 1, "Custom Message Antenna Compare Failed!"},
    {"CustMsgPower", TFieldKind::HexByte, 0x01, 0x7F, "Custom Message Power Compare Failed!"},
    {"TransmitLowBatFFM", TFieldKind::OnOff, 0, 1, "Transmit Low Bat FFM Compare Failed!"},
    {"Frequency", TFieldKind::Frequency, 0, 9, "Frequency Compare Failed!"},
    {"LowBatFreeMsg", TFieldKind::Number, 1, 255, "Low Bat FFM Compare Failed!"},
    {"Ext1", TFieldKind::HexByte, 0x00, 0xFF, "Ext1 Compare Failed!"},
    {"Ext2", TFieldKind::HexByte, 0x00, 0xFF, "Ext2 Compare Failed!"},
}};

const std::array<const char*, 10> kFrequencyModes{
    "915 FHSS",   "915 Single",   "920 Single",   "FHSS (AUS)",  "FHSS (NZ)",
    "869 Single", "FHSS (CHINA)", "870 (Single)", "FHSS (PHIL)", "FHSS (INDO)"};

bool allDigits(const std::string& text, int (*isDigit)(int)) {
    if (text.empty())
        return false;
    for (const char c : text)
        if (!isDigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::optional<int> parsedNumber(TFieldKind kind, const std::string& text) {
    switch (kind) {
    case TFieldKind::HexByte:
        if (text.size() > 2 || !allDigits(text, std::isxdigit))
            return std::nullopt;
        return StrToInt("$" + text);
    case TFieldKind::Number:
        if (text.size() > 5 || !allDigits(text, std::isdigit))
            return std::nullopt;
        return StrToInt(text);
    case TFieldKind::OnOff:
        if (text == "ON" || text == "OFF")
            return text == "ON" ? 1 : 0;
        return std::nullopt;
    case TFieldKind::Frequency:
        for (std::size_t code = 0; code < kFrequencyModes.size(); ++code)
            if (text == kFrequencyModes[code])
                return static_cast<int>(code);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

const std::array<TLocatorFieldInfo, kLocatorFieldCount>& LocatorFields() {
    return kFields;
}

std::optional<int> LocatorFieldIndex(const std::string& name) {
    for (int field = 0; field < kLocatorFieldCount; ++field)
        if (name == kFields[field].Name)
            return field;
    return std::nullopt;
}

const std::array<const char*, 10>& FrequencyModeNames() {
    return kFrequencyModes;
}

int FieldNumber(const TLocatorConfig& config, int field) {
    // In report order, as the table above.
    const int numbers[kLocatorFieldCount] = {config.OEM1,
                                             config.OEM2,
                                             config.LocationID,
                                             config.CustMsgCounts,
                                             config.CustMsgPeriod,
                                             config.LocationStatus ? 1 : 0,
                                             config.LocationStatusPolling,
                                             config.LocationStatusMsgCounts,
                                             config.EnableCustMsgAntenna ? 1 : 0,
                                             config.CustMsgPower,
                                             config.TransmitLowBatFFM ? 1 : 0,
                                             config.Frequency,
                                             config.LowBatFreeMsg,
                                             config.Ext1,
                                             config.Ext2};
    return numbers[field];
}

void SetFieldNumber(TLocatorConfig& config, int field, int number) {
    const auto byte = static_cast<std::uint8_t>(number);
    switch (field) {
    case 0:
        config.OEM1 = byte;
        break;
    case 1:
        config.OEM2 = byte;
        break;
    case 2:
        config.LocationID = static_cast<std::uint16_t>(number);
        break;
    case 3:
        config.CustMsgCounts = byte;
        break;
    case 4:
        config.CustMsgPeriod = byte;
        break;
    case 5:
        config.LocationStatus = number != 0;
        break;
    case 6:
        config.LocationStatusPolling = byte;
        break;
    case 7:
        config.LocationStatusMsgCounts = byte;
        break;
    case 8:
        config.EnableCustMsgAntenna = number != 0;
        break;
    case 9:
        config.CustMsgPower = byte;
        break;
    case 10:
        config.TransmitLowBatFFM = number != 0;
        break;
    case 11:
        config.Frequency = byte;
        break;
    case 12:
        config.LowBatFreeMsg = byte;
        break;
    case 13:
        config.Ext1 = byte;
        break;
    case 14:
        config.Ext2 = byte;
        break;
    default:
        break;
    }
}

std::string FieldText(const TLocatorConfig& config, int field) {
    const int number = FieldNumber(config, field);
    switch (kFields[field].Kind) {
    case TFieldKind::HexByte:
        return IntToHex(number, 2);
    case TFieldKind::OnOff:
        return number != 0 ? "ON" : "OFF";
    case TFieldKind::Frequency:
        if (number < static_cast<int>(kFrequencyModes.size()))
            return kFrequencyModes[number];
        break;
    case TFieldKind::Number:
        break;
    }
    return std::to_string(number);
}

std::optional<int> FieldNumberFromText(int field, const std::string& text) {
    const TLocatorFieldInfo& info = kFields[field];
    const auto number = parsedNumber(info.Kind, text);
    if (!number || *number < info.Min || *number > info.Max)
        return std::nullopt;
    return number;
}

std::string FieldAllowedText(int field) {
    const TLocatorFieldInfo& info = kFields[field];
    switch (info.Kind) {
    case TFieldKind::HexByte:
        return "hex " + IntToHex(info.Min, 2) + " to " + IntToHex(info.Max, 2);
    case TFieldKind::Number:
        return std::to_string(info.Min) + " to " + std::to_string(info.Max);
    case TFieldKind::OnOff:
        return "ON or OFF";
    case TFieldKind::Frequency:
        break;
    }
    std::string names;
    for (const char* name : kFrequencyModes)
        names += std::string(names.empty() ? "" : ", ") + name;
    return "one of " + names;
}
