#pragma once
// The HID class and parsing entries the HID layer calls, bound at run time from the "HID.dll"
// module: global function pointers named like the functions they stand for, null while the
// binding is unloaded. Load and unload are counted: the first load binds every entry, the last
// unload clears them. If the module or any entry is missing nothing is bound and the load fails.

#include "platform/hidclass/HidD.h"
#include "platform/hidclass/HidPi.h"

using platform::HIDD_ATTRIBUTES;
using platform::HIDD_CONFIGURATION;
using platform::PHIDD_ATTRIBUTES;
using platform::PHIDD_CONFIGURATION;

inline constexpr char HidModuleName[] = "HID.dll";

extern decltype(&platform::HidD_GetHidGuid) HidD_GetHidGuid;
extern decltype(&platform::HidD_GetAttributes) HidD_GetAttributes;
extern decltype(&platform::HidD_GetManufacturerString) HidD_GetManufacturerString;
extern decltype(&platform::HidD_GetProductString) HidD_GetProductString;
extern decltype(&platform::HidD_GetSerialNumberString) HidD_GetSerialNumberString;
extern decltype(&platform::HidD_GetIndexedString) HidD_GetIndexedString;
extern decltype(&platform::HidD_GetPreparsedData) HidD_GetPreparsedData;
extern decltype(&platform::HidD_FreePreparsedData) HidD_FreePreparsedData;
extern decltype(&platform::HidD_SetNumInputBuffers) HidD_SetNumInputBuffers;
extern decltype(&platform::HidD_GetNumInputBuffers) HidD_GetNumInputBuffers;
extern decltype(&platform::HidD_FlushQueue) HidD_FlushQueue;
extern decltype(&platform::HidD_GetFeature) HidD_GetFeature;
extern decltype(&platform::HidD_SetFeature) HidD_SetFeature;
extern decltype(&platform::HidD_GetInputReport) HidD_GetInputReport;
extern decltype(&platform::HidD_SetOutputReport) HidD_SetOutputReport;
extern decltype(&platform::HidD_GetPhysicalDescriptor) HidD_GetPhysicalDescriptor;
extern decltype(&platform::HidD_GetConfiguration) HidD_GetConfiguration;
extern decltype(&platform::HidD_SetConfiguration) HidD_SetConfiguration;
extern decltype(&platform::HidP_GetCaps) HidP_GetCaps;
extern decltype(&platform::HidP_GetLinkCollectionNodes) HidP_GetLinkCollectionNodes;
extern decltype(&platform::HidP_GetSpecificButtonCaps) HidP_GetSpecificButtonCaps;
extern decltype(&platform::HidP_GetSpecificValueCaps) HidP_GetSpecificValueCaps;
extern decltype(&platform::HidP_MaxDataListLength) HidP_MaxDataListLength;
extern decltype(&platform::HidP_MaxUsageListLength) HidP_MaxUsageListLength;
extern decltype(&platform::HidP_GetData) HidP_GetData;
extern decltype(&platform::HidP_SetData) HidP_SetData;
extern decltype(&platform::HidP_GetUsages) HidP_GetUsages;
extern decltype(&platform::HidP_GetUsagesEx) HidP_GetUsagesEx;
extern decltype(&platform::HidP_SetUsages) HidP_SetUsages;
extern decltype(&platform::HidP_UnsetUsages) HidP_UnsetUsages;
extern decltype(&platform::HidP_GetUsageValue) HidP_GetUsageValue;
extern decltype(&platform::HidP_GetScaledUsageValue) HidP_GetScaledUsageValue;
extern decltype(&platform::HidP_GetUsageValueArray) HidP_GetUsageValueArray;
extern decltype(&platform::HidP_SetUsageValue) HidP_SetUsageValue;
extern decltype(&platform::HidP_SetScaledUsageValue) HidP_SetScaledUsageValue;
extern decltype(&platform::HidP_SetUsageValueArray) HidP_SetUsageValueArray;
extern decltype(&platform::HidP_GetExtendedAttributes) HidP_GetExtendedAttributes;
extern decltype(&platform::HidP_InitializeReportForID) HidP_InitializeReportForID;

bool LoadHid();
void UnloadHid();
bool IsHidLoaded();
