#include "locator/LocatorReport.h"

#include "platform/base/Convert.h"

#include <algorithm>

namespace {

std::uint8_t lowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

std::uint8_t fromHexText(const std::string& text) {
    return lowByte(StrToInt("$" + text));
}
std::uint8_t fromDecimalText(const std::string& text) {
    return lowByte(StrToInt(text));
}
std::uint8_t fromOnOffIndex(int index) {
    return index == 0 ? 0x01 : 0x00;
}

} // namespace

void InitHidData(std::uint8_t (&Data)[64]) {
    std::fill(std::begin(Data), std::end(Data), 0xFF);
}

void EncodeLocatorConfig(const TLocatorConfig& config, TReport& report) {
    std::uint8_t* data = report.Data;
    data[fldOEM1] = config.OEM1;
    data[fldOEM2] = config.OEM2;
    data[fldLocationIDHigh] = static_cast<std::uint8_t>(config.LocationID >> 8);
    data[fldLocationIDLow] = static_cast<std::uint8_t>(config.LocationID & 0xFF);
    data[fldCustMsgCounts] = config.CustMsgCounts;
    data[fldCustMsgPeriod] = config.CustMsgPeriod;
    data[fldLocationStatus] = config.LocationStatus ? 0x01 : 0x00;
    data[fldLocationStatusPolling] = config.LocationStatusPolling;
    data[fldLocationStatusMsgCounts] = config.LocationStatusMsgCounts;
    data[fldEnableCustMsgAntenna] = config.EnableCustMsgAntenna ? 0x01 : 0x00;
    data[fldCustMsgPower] = config.CustMsgPower;
    data[fldTransmitLowBatFFM] = config.TransmitLowBatFFM ? 0x01 : 0x00;
    data[fldFrequency] = config.Frequency;
    data[fldLowBatFreeMsg] = config.LowBatFreeMsg;
    data[fldExt1] = config.Ext1;
    data[fldExt2] = config.Ext2;
}

void EncodeLocatorControls(const TLocatorControls& controls, TReport& report) {
    std::uint8_t* data = report.Data;
    data[fldOEM1] = fromHexText(controls.OEM1);
    data[fldOEM2] = fromHexText(controls.OEM2);
    // The edit is converted once per byte; C++ division truncates toward zero and the
    // remainder takes the sign of the value, so a negative text encodes as it always has.
    data[fldLocationIDHigh] = lowByte(StrToInt(controls.LocationID) / 256);
    data[fldLocationIDLow] = lowByte(StrToInt(controls.LocationID) % 256);
    data[fldCustMsgCounts] = fromDecimalText(controls.CustMsgCounts);
    data[fldCustMsgPeriod] = fromDecimalText(controls.CustMsgPeriod);
    data[fldLocationStatus] = fromOnOffIndex(controls.LocationStatusIndex);
    data[fldLocationStatusPolling] = fromDecimalText(controls.LocationStatusPolling);
    data[fldLocationStatusMsgCounts] = fromDecimalText(controls.LocationStatusMsgCounts);
    data[fldEnableCustMsgAntenna] = fromOnOffIndex(controls.EnableCustMsgAntennaIndex);
    data[fldCustMsgPower] = fromHexText(controls.CustMsgPower);
    data[fldTransmitLowBatFFM] = fromOnOffIndex(controls.TransmitLowBatFFMIndex);
    data[fldFrequency] = lowByte(controls.FrequencyIndex);
    data[fldLowBatFreeMsg] = fromDecimalText(controls.LowBatFreeMsg);
    data[fldExt1] = fromHexText(controls.Ext1);
    data[fldExt2] = fromHexText(controls.Ext2);
}

TLocatorConfig DecodeLocatorConfig(const std::uint8_t* data) {
    TLocatorConfig config;
    config.OEM1 = data[fldOEM1];
    config.OEM2 = data[fldOEM2];
    config.LocationID =
        static_cast<std::uint16_t>(data[fldLocationIDHigh] * 256 + data[fldLocationIDLow]);
    config.CustMsgCounts = data[fldCustMsgCounts];
    config.CustMsgPeriod = data[fldCustMsgPeriod];
    config.LocationStatus = data[fldLocationStatus] != 0;
    config.LocationStatusPolling = data[fldLocationStatusPolling];
    config.LocationStatusMsgCounts = data[fldLocationStatusMsgCounts];
    config.EnableCustMsgAntenna = data[fldEnableCustMsgAntenna] != 0;
    config.CustMsgPower = data[fldCustMsgPower];
    config.TransmitLowBatFFM = data[fldTransmitLowBatFFM] != 0;
    config.Frequency = data[fldFrequency];
    config.LowBatFreeMsg = data[fldLowBatFreeMsg];
    config.Ext1 = data[fldExt1];
    config.Ext2 = data[fldExt2];
    return config;
}
