#include "platform/hidclass/HidD.h"

#include "platform/hidclass/SetupApi.h"
#include "platform/win32/ErrnoMap.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32.h"

#include <algorithm>
#include <cstring>
#include <optional>

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

// The connection for one report transfer, or null with the reason; the buffer must hold at
// least the report ID.
std::shared_ptr<HidConnection> reportConnectionOrFail(HANDLE handle, PVOID buffer, ULONG length) {
    auto connection = connectionOrFail(handle);
    if (connection && (buffer == nullptr || length == 0)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    return connection;
}

using SendReport = int (HidConnection::*)(const std::uint8_t*, std::size_t);
using FetchReport = int (HidConnection::*)(std::uint8_t*, std::size_t);

BOOLEAN sendReport(HANDLE handle, PVOID buffer, ULONG length, SendReport send) {
    const auto connection = reportConnectionOrFail(handle, buffer, length);
    if (!connection) {
        return FALSE;
    }
    const int result = ((*connection).*send)(static_cast<const std::uint8_t*>(buffer), length);
    return result < 0 ? fail(win32ErrorFromErrno(-result)) : TRUE;
}

// Fetches the report whose ID is in the buffer's first byte. The answer lands in a scratch
// buffer first: a device that answers with another report (a stale one, one of another ID, or
// nothing at all) must not leave bytes in the caller's buffer that look like the report asked
// for. ERROR_INVALID_DATA says the device answered, but not with usable data; the caller's
// arguments were right. *fetched: the answer's length.
BOOLEAN fetchReport(HANDLE handle, PVOID buffer, ULONG length, FetchReport fetch, ULONG* fetched) {
    *fetched = 0;
    const auto connection = reportConnectionOrFail(handle, buffer, length);
    if (!connection) {
        return FALSE;
    }
    auto* report = static_cast<std::uint8_t*>(buffer);
    std::vector<std::uint8_t> answer(length, 0);
    answer[0] = report[0];
    const int result = ((*connection).*fetch)(answer.data(), answer.size());
    if (result < 0) {
        return fail(win32ErrorFromErrno(-result));
    }
    if (result == 0 || answer[0] != report[0]) {
        return fail(ERROR_INVALID_DATA);
    }
    std::copy_n(answer.begin(), result, report);
    *fetched = static_cast<ULONG>(result);
    return TRUE;
}

// The string at an index, or nothing when the source cannot fetch strings by that index.
std::optional<std::u16string> indexedString(const HidInterfaceInfo& info, ULONG index) {
    switch (index) {
    case 1:
        return info.manufacturer;
    case 2:
        return info.product;
    case 3:
        return info.serialNumber;
    default:
        break;
    }
    if (!info.stringsByIndexAvailable) {
        return std::nullopt;
    }
    if (index == 0) {
        return std::u16string(info.languageIds.begin(), info.languageIds.end());
    }
    const auto it = index <= 0xFF ? info.indexedStrings.find(static_cast<std::uint8_t>(index))
                                  : info.indexedStrings.end();
    return it != info.indexedStrings.end() ? it->second : std::u16string();
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
    const auto info = interfaceOrFail(HidDeviceObject);
    if (!info) {
        return FALSE;
    }
    const auto text = indexedString(*info, StringIndex);
    return text ? copyString(*info, *text, Buffer, BufferLength) : fail(ERROR_NOT_SUPPORTED);
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
    ULONG fetched = 0;
    return fetchReport(HidDeviceObject, ReportBuffer, ReportBufferLength,
                       &HidConnection::getFeature, &fetched);
}

BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return sendReport(HidDeviceObject, ReportBuffer, ReportBufferLength,
                      &HidConnection::setFeature);
}

BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    ULONG fetched = 0;
    return fetchReport(HidDeviceObject, ReportBuffer, ReportBufferLength,
                       &HidConnection::getInputReport, &fetched);
}

BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    return sendReport(HidDeviceObject, ReportBuffer, ReportBufferLength,
                      &HidConnection::setOutputReport);
}

BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    const auto info = interfaceOrFail(HidDeviceObject);
    if (!info) {
        return FALSE;
    }
    const auto& descriptor = info->physicalDescriptor;
    if (descriptor.empty()) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    if (BufferLength < descriptor.size()) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (Buffer == nullptr) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    std::copy(descriptor.begin(), descriptor.end(), static_cast<std::uint8_t*>(Buffer));
    return TRUE;
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
        entry("HidP_GetData", &HidP_GetData),
        entry("HidP_SetData", &HidP_SetData),
        entry("HidP_GetUsages", &HidP_GetUsages),
        entry("HidP_GetUsagesEx", &HidP_GetUsagesEx),
        entry("HidP_SetUsages", &HidP_SetUsages),
        entry("HidP_UnsetUsages", &HidP_UnsetUsages),
        entry("HidP_GetUsageValue", &HidP_GetUsageValue),
        entry("HidP_GetScaledUsageValue", &HidP_GetScaledUsageValue),
        entry("HidP_GetUsageValueArray", &HidP_GetUsageValueArray),
        entry("HidP_SetUsageValue", &HidP_SetUsageValue),
        entry("HidP_SetScaledUsageValue", &HidP_SetScaledUsageValue),
        entry("HidP_SetUsageValueArray", &HidP_SetUsageValueArray),
        entry("HidP_GetExtendedAttributes", &HidP_GetExtendedAttributes),
        entry("HidP_InitializeReportForID", &HidP_InitializeReportForID),
    };
}

namespace {

BOOL deviceRequest(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                   ULONG* returned) {
    *returned = 0;
    if (!interfaceOrFail(handle)) {
        return FALSE;
    }
    switch (code) {
    case IOCTL_HID_FLUSH_QUEUE:
        return HidD_FlushQueue(handle);
    case IOCTL_HID_SET_FEATURE:
        return HidD_SetFeature(handle, in, inSize);
    case IOCTL_HID_SET_OUTPUT_REPORT:
        return HidD_SetOutputReport(handle, in, inSize);
    case IOCTL_HID_GET_FEATURE:
        return fetchReport(handle, out, outSize, &HidConnection::getFeature, returned);
    case IOCTL_HID_GET_INPUT_REPORT:
        return fetchReport(handle, out, outSize, &HidConnection::getInputReport, returned);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

} // namespace

} // namespace platform

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    ULONG returned = 0;
    const BOOL done =
        lpOverlapped != nullptr
            ? platform::fail(ERROR_INVALID_PARAMETER)
            : platform::deviceRequest(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize,
                                      lpOutBuffer, nOutBufferSize, &returned);
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = returned;
    }
    return done;
}
