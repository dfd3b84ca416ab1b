#pragma once
// THidPnPInfo: what device setup reports of one HID interface, read once when the controller
// finds it. The device object made for the interface owns its description.

#include "hid/SetupApi.h"
#include "platform/win32/Win32.h"

#include <string>
#include <vector>

using TPnPStringList = std::vector<std::u16string>;

class THidPnPInfo {
public:
    // Reads every property at once. No unreadable property is an error: it reads as 0, empty
    // text, an empty list or the all-zero GUID text. Only an exhausted resource while a list is
    // filled ends construction, by passing the exception on.
    THidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA& ADevData, std::u16string ADevicePath);
    virtual ~THidPnPInfo() = default;
    THidPnPInfo(const THidPnPInfo&) = delete;
    THidPnPInfo& operator=(const THidPnPInfo&) = delete;

    // The readers, each one property through SetupDiGetDeviceRegistryPropertyW.
    static std::u16string GetRegistryPropertyString(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                    DWORD Prop);
    static TPnPStringList GetRegistryPropertyStringList(HDEVINFO PnPHandle,
                                                        SP_DEVINFO_DATA& DevData, DWORD Prop);
    static DWORD GetRegistryPropertyDWord(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData, DWORD Prop);
    // The GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
    static std::u16string GetRegistryPropertyGuid(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                  DWORD Prop);

    // Properties up to this size (the reported size plus the terminating NULs) are read into
    // a buffer on the stack; larger ones into one allocated for the read.
    static constexpr DWORD FixedStringBufferBytes = 2048;
    static constexpr DWORD FixedListBufferBytes = 32768;

    DWORD DeviceID() const { return FDeviceID; }
    const std::u16string& DevicePath() const { return FDevicePath; }
    DWORD Capabilities() const { return FCapabilities; }
    const std::u16string& ClassDescr() const { return FClassDescr; }
    const std::u16string& ClassGUID() const { return FClassGUID; }
    const TPnPStringList& CompatibleIDs() const { return FCompatibleIDs; }
    DWORD ConfigFlags() const { return FConfigFlags; }
    const std::u16string& DeviceDescr() const { return FDeviceDescr; }
    const std::u16string& Driver() const { return FDriver; }
    const std::u16string& FriendlyName() const { return FFriendlyName; }
    const TPnPStringList& HardwareID() const { return FHardwareID; }
    const TPnPStringList& LowerFilters() const { return FLowerFilters; }
    const std::u16string& Mfg() const { return FMfg; }
    const TPnPStringList& UpperFilters() const { return FUpperFilters; }
    const std::u16string& Address() const { return FAddress; }
    DWORD BusNumber() const { return FBusNumber; }
    const std::u16string& BusType() const { return FBusType; }
    const std::u16string& Characteristics() const { return FCharacteristics; }
    DWORD DevType() const { return FDevType; }
    const std::u16string& EnumeratorName() const { return FEnumeratorName; }
    DWORD Exclusive() const { return FExclusive; }
    DWORD LegacyBusType() const { return FLegacyBusType; }
    const std::u16string& LocationInfo() const { return FLocationInfo; }
    const std::u16string& PhysDevObjName() const { return FPhysDevObjName; }
    const std::u16string& SecuritySDS() const { return FSecuritySDS; }
    const std::u16string& Service() const { return FService; }
    DWORD UINumber() const { return FUINumber; }
    const std::u16string& UINumberFormat() const { return FUINumberFormat; }

private:
    DWORD FDeviceID = 0;
    std::u16string FDevicePath;
    DWORD FCapabilities = 0;
    std::u16string FClassDescr;
    std::u16string FClassGUID;
    TPnPStringList FCompatibleIDs;
    DWORD FConfigFlags = 0;
    std::u16string FDeviceDescr;
    std::u16string FDriver;
    std::u16string FFriendlyName;
    TPnPStringList FHardwareID;
    TPnPStringList FLowerFilters;
    std::u16string FMfg;
    TPnPStringList FUpperFilters;
    std::u16string FAddress;
    DWORD FBusNumber = 0;
    std::u16string FBusType;
    std::u16string FCharacteristics;
    DWORD FDevType = 0;
    std::u16string FEnumeratorName;
    DWORD FExclusive = 0;
    DWORD FLegacyBusType = 0;
    std::u16string FLocationInfo;
    std::u16string FPhysDevObjName;
    std::u16string FSecuritySDS;
    std::u16string FService;
    DWORD FUINumber = 0;
    std::u16string FUINumberFormat;
};
