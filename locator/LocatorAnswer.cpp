#include "locator/LocatorAnswer.h"

#include "locator/LocatorFields.h"
#include "locator/LocatorReport.h"
#include "platform/base/Convert.h"

#include <optional>

namespace {

// A field's two characters in the report text: data byte k stands at offset 3k.
std::string fieldText(const std::string& Str, int dataIndex) {
    return Str.substr(static_cast<std::size_t>(3 * dataIndex), 2);
}
// Hexadecimal digits as a number, in the tool's one conversion ("$" marks hexadecimal).
int hexValue(const std::string& digits) {
    std::string text("$");
    text += digits;
    return StrToInt(text);
}
int fieldValue(const std::string& Str, int dataIndex) {
    return hexValue(fieldText(Str, dataIndex));
}
int locationIdValue(const std::string& Str) {
    std::string digits = fieldText(Str, fldLocationIDHigh);
    digits += fieldText(Str, fldLocationIDLow);
    return hexValue(digits);
}

int onOffIndex(int value) {
    return value == 0 ? 1 : 0;
}

// A conversion's value, or none where the text does not convert.
std::optional<int> valueOf(int (*convert)(const std::string&), const std::string& text) {
    try {
        return convert(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}
int decimalValue(const std::string& text) {
    return StrToInt(text);
}

std::string hexPair(std::uint8_t value) {
    return IntToHex(value, 2);
}

} // namespace

std::vector<std::string> ReportBlockLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    for (std::size_t line = 0; line < 8; ++line) {
        std::string text = ">";
        for (std::size_t k = 8 * line; k < 8 * line + 8; ++k) {
            text += ' ';
            text += k < size ? hexPair(data[k]) : "--";
        }
        lines.push_back(std::move(text));
    }
    return lines;
}

std::string ReportText(const std::uint8_t* data) {
    std::string text;
    for (std::size_t k = 0; k < kReportDataBytes; ++k) {
        const std::uint8_t byte = data[k];
        if (!text.empty())
            text += ' ';
        text += hexPair(byte);
    }
    return text;
}

TLocatorSelection SelectionFromReportText(const std::string& Str) {
    TLocatorSelection s;
    s.OEM1 = fieldValue(Str, fldOEM1) - 1;
    s.OEM2 = fieldValue(Str, fldOEM2) - 1;
    s.LocationID = std::to_string(locationIdValue(Str));
    s.CustMsgCounts = fieldValue(Str, fldCustMsgCounts) - 1;
    s.CustMsgPeriod = fieldValue(Str, fldCustMsgPeriod) - 1;
    s.LocationStatus = onOffIndex(fieldValue(Str, fldLocationStatus));
    s.LocationStatusPolling = fieldValue(Str, fldLocationStatusPolling) - 1;
    s.LocationStatusMsgCounts = fieldValue(Str, fldLocationStatusMsgCounts) - 1;
    s.EnableCustMsgAntenna = onOffIndex(fieldValue(Str, fldEnableCustMsgAntenna));
    s.CustMsgPower = fieldValue(Str, fldCustMsgPower) - 1;
    s.TransmitLowBatFFM = onOffIndex(fieldValue(Str, fldTransmitLowBatFFM));
    s.Frequency = fieldValue(Str, fldFrequency);
    s.LowBatFreeMsg = fieldValue(Str, fldLowBatFreeMsg) - 1;
    s.Ext1 = fieldText(Str, fldExt1);
    s.Ext2 = fieldText(Str, fldExt2);
    return s;
}

std::vector<int> DifferingFields(const std::string& Str, const TLocatorSelection& controls) {
    const auto listIs = [&Str](int selected, int dataIndex) {
        return selected == fieldValue(Str, dataIndex) - 1;
    };
    const auto switchIs = [&Str](int selected, int dataIndex) {
        return selected == onOffIndex(fieldValue(Str, dataIndex));
    };
    const auto extIs = [&Str](const std::string& text, int dataIndex) {
        return valueOf(hexValue, text) == fieldValue(Str, dataIndex);
    };
    // In field order, as LocatorFields() lists them.
    const bool same[kLocatorFieldCount] = {
        listIs(controls.OEM1, fldOEM1),
        listIs(controls.OEM2, fldOEM2),
        valueOf(decimalValue, controls.LocationID) == locationIdValue(Str),
        listIs(controls.CustMsgCounts, fldCustMsgCounts),
        listIs(controls.CustMsgPeriod, fldCustMsgPeriod),
        switchIs(controls.LocationStatus, fldLocationStatus),
        listIs(controls.LocationStatusPolling, fldLocationStatusPolling),
        listIs(controls.LocationStatusMsgCounts, fldLocationStatusMsgCounts),
        switchIs(controls.EnableCustMsgAntenna, fldEnableCustMsgAntenna),
        listIs(controls.CustMsgPower, fldCustMsgPower),
        switchIs(controls.TransmitLowBatFFM, fldTransmitLowBatFFM),
        controls.Frequency == fieldValue(Str, fldFrequency),
        listIs(controls.LowBatFreeMsg, fldLowBatFreeMsg),
        extIs(controls.Ext1, fldExt1),
        extIs(controls.Ext2, fldExt2),
    };
    std::vector<int> differing;
    for (int field = 0; field < kLocatorFieldCount; ++field)
        if (!same[field])
            differing.push_back(field);
    return differing;
}

std::vector<std::string> CompareLocatorUIValues(const std::string& Str,
                                                const TLocatorSelection& controls) {
    std::vector<std::string> failed;
    for (const int field : DifferingFields(Str, controls))
        failed.emplace_back(LocatorFields()[field].CompareLine);
    return failed;
}

TLocatorSelection SelectionFromConfig(const TLocatorConfig& config) {
    TReport report;
    InitHidData(report.Data);
    EncodeLocatorConfig(config, report);
    return SelectionFromReportText(ReportText(report.Data));
}

std::optional<std::string> LocatorAnswerText(const std::uint8_t* data, std::size_t size) {
    if (size < kReportDataBytes)
        return std::nullopt;
    return ReportText(data);
}

bool MatchesFactoryDefaults(const std::string& Str) {
    TReport defaults;
    EncodeLocatorConfig(kFactoryDefaults, defaults);
    for (int field = fldOEM1; field <= fldExt2; ++field)
        if (fieldText(Str, field) != hexPair(defaults.Data[field]))
            return false;
    return true;
}
