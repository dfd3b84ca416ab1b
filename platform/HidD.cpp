#include "HidD.h"

#include "ErrnoMap.h"
#include "Handles.h"
#include "SetupApi.h"
#include "Win32.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

BOOLEAN fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The interface behind a handle, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<const HidInterfaceInfo> interfaceOrFail(HANDLE handle) {
    auto info = interfaceOf(handle);
    if (!info) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return info;
}

// The report connection behind a handle, or null with the reason: not a device handle, or one
// opened without read-write access.
std::shared_ptr<HidConnection> connectionOrFail(HANDLE handle) {
    if (!interfaceOrFail(handle)) {
        return nullptr;
    }
    auto connection = connectionOf(handle);
    if (!connection) {
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return connection;
}

BOOLEAN copyString(const HidInterfaceInfo& info, const std::u16string& text, PVOID buffer,
                   ULONG bufferLength) {
    if (text.empty()) {
        return fail(ERROR_INVALID_PARAMETER); // the device has no such string
    }
    if (buffer == nullptr) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    auto* out = static_cast<WCHAR*>(buffer);
    const std::size_t capacity = bufferLength / sizeof(WCHAR);
    if (info.stringsUnterminated) {
        // Such a device ignores the length it was given room for: whatever fits, then blanks
        // to the end of the buffer, never a NUL.
        const std::size_t copied = std::min(capacity, text.size());
        std::copy_n(text.data(), copied, out);
        std::fill(out + copied, out + capacity, u' ');
        return TRUE;
    }
    if (capacity < text.size()) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy_n(text.data(), text.size(), out);
    if (capacity > text.size()) {
        out[text.size()] = 0;
    }
    return TRUE;
}

template <typename Member>
BOOLEAN getString(HANDLE handle, Member member, PVOID buffer, ULONG bufferLength) {
    const auto info = interfaceOrFail(handle);
    return info ? copyString(*info, (*info).*member, buffer, bufferLength) : FALSE;
}

// Runs one report transfer on the handle's connection; the buffer holds the report ID first.
template <typename Transfer>
BOOLEAN transferReport(HANDLE handle, PVOID buffer, ULONG length, Transfer transfer) {
    const auto connection = connectionOrFail(handle);
    if (!connection) {
        return FALSE;
    }
    if (buffer == nullptr || length == 0) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    const int result = transfer(*connection, static_cast<std::uint8_t*>(buffer), length);
    return result < 0 ? fail(win32ErrorFromErrno(-result)) : TRUE;
}

bool isValidQueueSize(ULONG count) {
    return count >= HidMinInputBuffers && count <= HidMaxInputBuffers;
}

} // namespace

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = GUID_DEVINTERFACE_HID;
    }
}

BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const auto info = interfaceOrFail(HidDeviceObject);
    if (!info) {
        return FALSE;
    }
    if (Attributes == nullptr || Attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!info->attributesReadable) {
        return fail(ERROR_GEN_FAILURE);
    }
    Attributes->VendorID = info->vendorId;
    Attributes->ProductID = info->productId;
    Attributes->VersionNumber = info->versionNumber;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return getString(HidDeviceObject, &HidInterfaceInfo::manufacturer, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return getString(HidDeviceObject, &HidInterfaceInfo::product, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return getString(HidDeviceObject, &HidInterfaceInfo::serialNumber, Buffer, BufferLength);
}

BOOLEAN HidD_GetIndexedString(HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer,
                              ULONG BufferLength) {
    switch (StringIndex) {
    case 1:
        return HidD_GetManufacturerString(HidDeviceObject, Buffer, BufferLength);
    case 2:
        return HidD_GetProductString(HidDeviceObject, Buffer, BufferLength);
    case 3:
        return HidD_GetSerialNumberString(HidDeviceObject, Buffer, BufferLength);
    default:
        return interfaceOrFail(HidDeviceObject) ? fail(ERROR_INVALID_PARAMETER) : FALSE;
    }
}

BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
    const auto info = interfaceOrFail(HidDeviceObject);
    if (!info) {
        return FALSE;
    }
    if (PreparsedData == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    *PreparsedData =
        ParsePreparsedData(info->reportDescriptor.data(), info->reportDescriptor.size());
    return *PreparsedData != nullptr ? TRUE : fail(ERROR_INVALID_DATA);
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
    return FreePreparsedData(PreparsedData) ? TRUE : fail(ERROR_INVALID_PARAMETER);
}

BOOLEAN HidD_SetNumInputBuffers(HANDLE HidDeviceObject, ULONG NumberBuffers) {
    if (!connectionOrFail(HidDeviceObject)) {
        return FALSE;
    }
    if (!isValidQueueSize(NumberBuffers)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    return setInputQueueCapacity(HidDeviceObject, NumberBuffers) ? TRUE
                                                                 : fail(ERROR_INVALID_HANDLE);
}

BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers) {
    if (!connectionOrFail(HidDeviceObject)) {
        return FALSE;
    }
    if (NumberBuffers == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    *NumberBuffers = inputQueueCapacity(HidDeviceObject);
    return TRUE;
}

BOOLEAN HidD_FlushQueue(HANDLE HidDeviceObject) {
    if (!connectionOrFail(HidDeviceObject)) {
        return FALSE;
    }
    return flushInputQueue(HidDeviceObject) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOLEAN HidD_GetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return transferReport(
        HidDeviceObject, ReportBuffer, ReportBufferLength,
        [](HidConnection& c, std::uint8_t* b, ULONG n) { return c.getFeature(b, n); });
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return transferReport(
        HidDeviceObject, ReportBuffer, ReportBufferLength,
        [](HidConnection& c, std::uint8_t* b, ULONG n) { return c.setFeature(b, n); });
}

BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return transferReport(
        HidDeviceObject, ReportBuffer, ReportBufferLength,
        [](HidConnection& c, std::uint8_t* b, ULONG n) { return c.getInputReport(b, n); });
}

BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return transferReport(
        HidDeviceObject, ReportBuffer, ReportBufferLength,
        [](HidConnection& c, std::uint8_t* b, ULONG n) { return c.setOutputReport(b, n); });
}

BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID, ULONG) {
    return interfaceOrFail(HidDeviceObject) ? fail(ERROR_NOT_SUPPORTED) : FALSE;
}

BOOLEAN HidD_GetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
    if (!connectionOrFail(HidDeviceObject)) {
        return FALSE;
    }
    if (Configuration == nullptr || ConfigurationLength < sizeof(HIDD_CONFIGURATION)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    Configuration->cookie = nullptr;
    Configuration->size = sizeof(HIDD_CONFIGURATION);
    Configuration->RingBufferSize = inputQueueCapacity(HidDeviceObject);
    return TRUE;
}

BOOLEAN HidD_SetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength) {
    if (Configuration == nullptr || ConfigurationLength < sizeof(HIDD_CONFIGURATION)) {
        return interfaceOrFail(HidDeviceObject) ? fail(ERROR_INVALID_PARAMETER) : FALSE;
    }
    return HidD_SetNumInputBuffers(HidDeviceObject, Configuration->RingBufferSize);
}

std::vector<std::pair<std::string, void*>> hidModuleEntries() {
    auto entry = [](const char* name, auto function) {
        return std::pair<std::string, void*>(name, reinterpret_cast<void*>(function));
    };
    return {
        entry("HidD_GetHidGuid", &HidD_GetHidGuid),
        entry("HidD_GetAttributes", &HidD_GetAttributes),
        entry("HidD_GetManufacturerString", &HidD_GetManufacturerString),
        entry("HidD_GetProductString", &HidD_GetProductString),
        entry("HidD_GetSerialNumberString", &HidD_GetSerialNumberString),
        entry("HidD_GetIndexedString", &HidD_GetIndexedString),
        entry("HidD_GetPreparsedData", &HidD_GetPreparsedData),
        entry("HidD_FreePreparsedData", &HidD_FreePreparsedData),
        entry("HidD_SetNumInputBuffers", &HidD_SetNumInputBuffers),
        entry("HidD_GetNumInputBuffers", &HidD_GetNumInputBuffers),
        entry("HidD_FlushQueue", &HidD_FlushQueue),
        entry("HidD_GetFeature", &HidD_GetFeature),
        entry("HidD_SetFeature", &HidD_SetFeature),
        entry("HidD_GetInputReport", &HidD_GetInputReport),
        entry("HidD_SetOutputReport", &HidD_SetOutputReport),
        entry("HidD_GetPhysicalDescriptor", &HidD_GetPhysicalDescriptor),
        entry("HidD_GetConfiguration", &HidD_GetConfiguration),
        entry("HidD_SetConfiguration", &HidD_SetConfiguration),
        entry("HidP_GetCaps", &HidP_GetCaps),
        entry("HidP_GetLinkCollectionNodes", &HidP_GetLinkCollectionNodes),
        entry("HidP_GetSpecificButtonCaps", &HidP_GetSpecificButtonCaps),
        entry("HidP_GetButtonCaps", &HidP_GetButtonCaps),
        entry("HidP_GetSpecificValueCaps", &HidP_GetSpecificValueCaps),
        entry("HidP_GetValueCaps", &HidP_GetValueCaps),
        entry("HidP_MaxDataListLength", &HidP_MaxDataListLength),
        entry("HidP_MaxUsageListLength", &HidP_MaxUsageListLength),
    };
}

} // namespace platform
