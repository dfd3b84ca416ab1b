#pragma once
// Device setup with that system's names, types and values: a device-information set is a
// snapshot of the interfaces the installed device source lists when the set is made, walked
// by index, and each interface's path and registry properties read with the usual
// size-query protocol (call without a buffer, get ERROR_INSUFFICIENT_BUFFER and the size).

#include "platform/win32/WinTypes.h"

#include <string>
#include <utility>
#include <vector>

namespace platform {

using HDEVINFO = PVOID;
using HWND = PVOID;

constexpr DWORD DIGCF_DEFAULT = 0x00000001;
constexpr DWORD DIGCF_PRESENT = 0x00000002;
constexpr DWORD DIGCF_ALLCLASSES = 0x00000004;
constexpr DWORD DIGCF_PROFILE = 0x00000008;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010;

// Device-registry property codes.
constexpr DWORD SPDRP_DEVICEDESC = 0x00;
constexpr DWORD SPDRP_HARDWAREID = 0x01;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x02;
constexpr DWORD SPDRP_SERVICE = 0x04;
constexpr DWORD SPDRP_CLASS = 0x07;
constexpr DWORD SPDRP_CLASSGUID = 0x08;
constexpr DWORD SPDRP_DRIVER = 0x09;
constexpr DWORD SPDRP_CONFIGFLAGS = 0x0A;
constexpr DWORD SPDRP_MFG = 0x0B;
constexpr DWORD SPDRP_FRIENDLYNAME = 0x0C;
constexpr DWORD SPDRP_LOCATION_INFORMATION = 0x0D;
constexpr DWORD SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 0x0E;
constexpr DWORD SPDRP_CAPABILITIES = 0x0F;
constexpr DWORD SPDRP_UI_NUMBER = 0x10;
constexpr DWORD SPDRP_UPPERFILTERS = 0x11;
constexpr DWORD SPDRP_LOWERFILTERS = 0x12;
constexpr DWORD SPDRP_BUSTYPEGUID = 0x13;
constexpr DWORD SPDRP_LEGACYBUSTYPE = 0x14;
constexpr DWORD SPDRP_BUSNUMBER = 0x15;
constexpr DWORD SPDRP_ENUMERATOR_NAME = 0x16;
constexpr DWORD SPDRP_SECURITY = 0x17;
constexpr DWORD SPDRP_SECURITY_SDS = 0x18;
constexpr DWORD SPDRP_DEVTYPE = 0x19;
constexpr DWORD SPDRP_EXCLUSIVE = 0x1A;
constexpr DWORD SPDRP_CHARACTERISTICS = 0x1B;
constexpr DWORD SPDRP_ADDRESS = 0x1C;
constexpr DWORD SPDRP_UI_NUMBER_DESC_FORMAT = 0x1D;
constexpr DWORD SPDRP_MAXIMUM_PROPERTY = 0x24;

// Registry value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst; // device-instance number
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize; // sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), whatever the buffer's length
    WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

// Setup errors beyond the common ones.
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
constexpr DWORD ERROR_INVALID_REG_PROPERTY = 0xE0000209;

constexpr DWORD SPINT_ACTIVE = 0x00000001;

// The interface class of HID devices, {4D1E55B2-F16F-11CF-88CB-001111000030}.
constexpr GUID GUID_DEVINTERFACE_HID = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// The device setup class of HID devices, {745a17a0-74d3-11d0-b6fe-00a0c90f57da}.
constexpr GUID GUID_DEVCLASS_HIDCLASS = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// Only DIGCF_DEVICEINTERFACE sets of the HID interface class have members here; any other
// class gives an empty set. INVALID_HANDLE_VALUE when the set cannot be made.
HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent,
                              DWORD Flags);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
// FALSE with ERROR_NO_MORE_ITEMS past the last member.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData);
// A property the device does not have fails with ERROR_INVALID_DATA.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);

// The entries of the built-in "SetupApi.dll" module, by name.
std::vector<std::pair<std::string, void*>> setupApiModuleEntries();

} // namespace platform
