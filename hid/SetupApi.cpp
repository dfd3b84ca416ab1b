#include "hid/SetupApi.h"

#include "hid/ModuleBinding.h"

decltype(&platform::SetupDiGetClassDevsW) SetupDiGetClassDevsW = nullptr;
decltype(&platform::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = nullptr;
decltype(&platform::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = nullptr;
decltype(&platform::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW = nullptr;
decltype(&platform::SetupDiGetDeviceRegistryPropertyW) SetupDiGetDeviceRegistryPropertyW = nullptr;

namespace {

const ModuleEntry setupApiEntries[] = {
    MODULE_ENTRY(SetupDiGetClassDevsW),
    MODULE_ENTRY(SetupDiDestroyDeviceInfoList),
    MODULE_ENTRY(SetupDiEnumDeviceInterfaces),
    MODULE_ENTRY(SetupDiGetDeviceInterfaceDetailW),
    MODULE_ENTRY(SetupDiGetDeviceRegistryPropertyW),
};

ModuleBinding& setupApiBinding() {
    static ModuleBinding binding(SetupApiModuleName, setupApiEntries);
    return binding;
}

} // namespace

bool LoadSetupApi() {
    return setupApiBinding().Load();
}
void UnloadSetupApi() {
    setupApiBinding().Unload();
}
bool IsSetupApiLoaded() {
    return setupApiBinding().IsLoaded();
}
