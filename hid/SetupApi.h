#pragma once
// The device-setup entries the HID layer calls, bound at run time from the "SetupApi.dll"
// module. Each entry is a global function pointer named like the function it stands for; all
// are null while the binding is unloaded. Load and unload are counted: the first load binds
// every entry, the last unload clears them. If the module or any entry is missing nothing is
// bound and the load fails.

#include "platform/hidclass/SetupApi.h"

using platform::HDEVINFO;
using platform::PSP_DEVICE_INTERFACE_DATA;
using platform::PSP_DEVICE_INTERFACE_DETAIL_DATA_W;
using platform::PSP_DEVINFO_DATA;
using platform::SP_DEVICE_INTERFACE_DATA;
using platform::SP_DEVICE_INTERFACE_DETAIL_DATA_W;
using platform::SP_DEVINFO_DATA;

inline constexpr char SetupApiModuleName[] = "SetupApi.dll";

extern decltype(&platform::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
extern decltype(&platform::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
extern decltype(&platform::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
extern decltype(&platform::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;
extern decltype(&platform::SetupDiGetDeviceRegistryPropertyW) SetupDiGetDeviceRegistryPropertyW;

bool LoadSetupApi();
void UnloadSetupApi();
bool IsSetupApiLoaded();
