#include "hid/Hid.h"

#include "hid/ModuleBinding.h"

decltype(&platform::HidD_GetHidGuid) HidD_GetHidGuid = nullptr;
decltype(&platform::HidD_GetAttributes) HidD_GetAttributes = nullptr;
decltype(&platform::HidD_GetManufacturerString) HidD_GetManufacturerString = nullptr;
decltype(&platform::HidD_GetProductString) HidD_GetProductString = nullptr;
decltype(&platform::HidD_GetSerialNumberString) HidD_GetSerialNumberString = nullptr;
decltype(&platform::HidD_GetIndexedString) HidD_GetIndexedString = nullptr;
decltype(&platform::HidD_GetPreparsedData) HidD_GetPreparsedData = nullptr;
decltype(&platform::HidD_FreePreparsedData) HidD_FreePreparsedData = nullptr;
decltype(&platform::HidD_SetNumInputBuffers) HidD_SetNumInputBuffers = nullptr;
decltype(&platform::HidD_GetNumInputBuffers) HidD_GetNumInputBuffers = nullptr;
decltype(&platform::HidD_FlushQueue) HidD_FlushQueue = nullptr;
decltype(&platform::HidD_GetFeature) HidD_GetFeature = nullptr;
decltype(&platform::HidD_SetFeature) HidD_SetFeature = nullptr;
decltype(&platform::HidD_GetInputReport) HidD_GetInputReport = nullptr;
decltype(&platform::HidD_SetOutputReport) HidD_SetOutputReport = nullptr;
decltype(&platform::HidD_GetPhysicalDescriptor) HidD_GetPhysicalDescriptor = nullptr;
decltype(&platform::HidD_GetConfiguration) HidD_GetConfiguration = nullptr;
decltype(&platform::HidD_SetConfiguration) HidD_SetConfiguration = nullptr;
decltype(&platform::HidP_GetCaps) HidP_GetCaps = nullptr;
decltype(&platform::HidP_GetLinkCollectionNodes) HidP_GetLinkCollectionNodes = nullptr;
decltype(&platform::HidP_GetSpecificButtonCaps) HidP_GetSpecificButtonCaps = nullptr;
decltype(&platform::HidP_GetSpecificValueCaps) HidP_GetSpecificValueCaps = nullptr;
decltype(&platform::HidP_MaxDataListLength) HidP_MaxDataListLength = nullptr;
decltype(&platform::HidP_MaxUsageListLength) HidP_MaxUsageListLength = nullptr;
decltype(&platform::HidP_GetData) HidP_GetData = nullptr;
decltype(&platform::HidP_SetData) HidP_SetData = nullptr;
decltype(&platform::HidP_GetUsages) HidP_GetUsages = nullptr;
decltype(&platform::HidP_GetUsagesEx) HidP_GetUsagesEx = nullptr;
decltype(&platform::HidP_SetUsages) HidP_SetUsages = nullptr;
decltype(&platform::HidP_UnsetUsages) HidP_UnsetUsages = nullptr;
decltype(&platform::HidP_GetUsageValue) HidP_GetUsageValue = nullptr;
decltype(&platform::HidP_GetScaledUsageValue) HidP_GetScaledUsageValue = nullptr;
decltype(&platform::HidP_GetUsageValueArray) HidP_GetUsageValueArray = nullptr;
decltype(&platform::HidP_SetUsageValue) HidP_SetUsageValue = nullptr;
decltype(&platform::HidP_SetScaledUsageValue) HidP_SetScaledUsageValue = nullptr;
decltype(&platform::HidP_SetUsageValueArray) HidP_SetUsageValueArray = nullptr;
decltype(&platform::HidP_GetExtendedAttributes) HidP_GetExtendedAttributes = nullptr;
decltype(&platform::HidP_InitializeReportForID) HidP_InitializeReportForID = nullptr;

namespace {

const ModuleEntry hidEntries[] = {
    MODULE_ENTRY(HidD_GetHidGuid),
    MODULE_ENTRY(HidD_GetAttributes),
    MODULE_ENTRY(HidD_GetManufacturerString),
    MODULE_ENTRY(HidD_GetProductString),
    MODULE_ENTRY(HidD_GetSerialNumberString),
    MODULE_ENTRY(HidD_GetIndexedString),
    MODULE_ENTRY(HidD_GetPreparsedData),
    MODULE_ENTRY(HidD_FreePreparsedData),
    MODULE_ENTRY(HidD_SetNumInputBuffers),
    MODULE_ENTRY(HidD_GetNumInputBuffers),
    MODULE_ENTRY(HidD_FlushQueue),
    MODULE_ENTRY(HidD_GetFeature),
    MODULE_ENTRY(HidD_SetFeature),
    MODULE_ENTRY(HidD_GetInputReport),
    MODULE_ENTRY(HidD_SetOutputReport),
    MODULE_ENTRY(HidD_GetPhysicalDescriptor),
    MODULE_ENTRY(HidD_GetConfiguration),
    MODULE_ENTRY(HidD_SetConfiguration),
    MODULE_ENTRY(HidP_GetCaps),
    MODULE_ENTRY(HidP_GetLinkCollectionNodes),
    MODULE_ENTRY(HidP_GetSpecificButtonCaps),
    MODULE_ENTRY(HidP_GetSpecificValueCaps),
    MODULE_ENTRY(HidP_MaxDataListLength),
    MODULE_ENTRY(HidP_MaxUsageListLength),
    MODULE_ENTRY(HidP_GetData),
    MODULE_ENTRY(HidP_SetData),
    MODULE_ENTRY(HidP_GetUsages),
    MODULE_ENTRY(HidP_GetUsagesEx),
    MODULE_ENTRY(HidP_SetUsages),
    MODULE_ENTRY(HidP_UnsetUsages),
    MODULE_ENTRY(HidP_GetUsageValue),
    MODULE_ENTRY(HidP_GetScaledUsageValue),
    MODULE_ENTRY(HidP_GetUsageValueArray),
    MODULE_ENTRY(HidP_SetUsageValue),
    MODULE_ENTRY(HidP_SetScaledUsageValue),
    MODULE_ENTRY(HidP_SetUsageValueArray),
    MODULE_ENTRY(HidP_GetExtendedAttributes),
    MODULE_ENTRY(HidP_InitializeReportForID),
};

ModuleBinding& hidBinding() {
    static ModuleBinding binding(HidModuleName, hidEntries);
    return binding;
}

} // namespace

bool LoadHid() {
    return hidBinding().Load();
}
void UnloadHid() {
    hidBinding().Unload();
}
bool IsHidLoaded() {
    return hidBinding().IsLoaded();
}
