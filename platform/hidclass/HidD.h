#pragma once
// The HID class operations with that system's names, types and values, on handles that
// CreateFileW returned for HID interfaces. Attributes, strings and preparsed data work on a
// handle opened without access; reports need one opened for reading and writing.
//
// Strings are UTF-16, BufferLength counts bytes. The string is NUL-terminated when the NUL
// fits; a buffer too small for the string without its NUL fails with
// ERROR_INSUFFICIENT_BUFFER. A device that sends its strings unterminated fills the buffer.

#include "platform/hidclass/HidPi.h"
#include "platform/win32/Win32.h"
#include "platform/win32/WinTypes.h"

#include <string>
#include <utility>
#include <vector>

namespace platform {

struct HIDD_ATTRIBUTES {
    ULONG Size; // must be sizeof(HIDD_ATTRIBUTES) on entry
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

struct HIDD_CONFIGURATION {
    PVOID cookie;
    ULONG size;
    ULONG RingBufferSize;
};
using PHIDD_CONFIGURATION = HIDD_CONFIGURATION*;

// The range the input-report queue of a handle may be set to.
constexpr ULONG HidMinInputBuffers = 2;
constexpr ULONG HidMaxInputBuffers = 512;

void HidD_GetHidGuid(LPGUID HidGuid);
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);
BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// Index 0 is the device's language list (one 16-bit language identifier per character),
// 1 the manufacturer, 2 the product, 3 the serial number, others what the device offers. A
// string the device lacks fails with ERROR_INVALID_PARAMETER; where the source can reach only
// indices 1 to 3 (hidraw), every other index fails with ERROR_NOT_SUPPORTED.
BOOLEAN HidD_GetIndexedString(HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer,
                              ULONG BufferLength);
// Fails (ERROR_INVALID_DATA) when the device's report descriptor cannot be parsed.
BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
// Outside HidMinInputBuffers..HidMaxInputBuffers fails with ERROR_INVALID_PARAMETER.
BOOLEAN HidD_SetNumInputBuffers(HANDLE HidDeviceObject, ULONG NumberBuffers);
BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers);
BOOLEAN HidD_FlushQueue(HANDLE HidDeviceObject);
// The first byte of each report buffer is the report ID. A device without numbered reports
// takes only ID 0 (ERROR_INVALID_PARAMETER otherwise).
//
// The getters fetch the report whose ID is in the buffer's first byte. An answer that starts
// with another ID is the wrong report: it fails with ERROR_INVALID_DATA and the buffer is left
// as it was. On success the answer fills the buffer from the start and the rest is zeroed.
BOOLEAN HidD_GetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
// The whole descriptor set, or ERROR_INSUFFICIENT_BUFFER when it does not fit. A device without
// one, and every device behind hidraw, fails with ERROR_NOT_SUPPORTED.
BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// The class driver's configuration: the ring-buffer size is the handle's input queue size.
BOOLEAN HidD_GetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength);
BOOLEAN HidD_SetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength);

// The HID class driver's requests that DeviceIoControl serves here: the report transfers and the
// queue flush, with the buffers the HidD_* operations above use (the report in the input buffer
// for the setters, in the output buffer for the getters). Values from that system's hidclass.h.
constexpr DWORD HidIoctlCode(DWORD function, DWORD method) {
    constexpr DWORD FileDeviceKeyboard = 0x0B;
    return (FileDeviceKeyboard << 16) | (function << 2) | method;
}
constexpr DWORD IOCTL_HID_FLUSH_QUEUE = HidIoctlCode(101, 3);
constexpr DWORD IOCTL_HID_SET_FEATURE = HidIoctlCode(100, 1);
constexpr DWORD IOCTL_HID_SET_OUTPUT_REPORT = HidIoctlCode(101, 1);
constexpr DWORD IOCTL_HID_GET_FEATURE = HidIoctlCode(100, 2);
constexpr DWORD IOCTL_HID_GET_INPUT_REPORT = HidIoctlCode(104, 2);

// The entries of the built-in "HID.dll" module, by name: the operations above and the HidP_*
// operations on preparsed data.
std::vector<std::pair<std::string, void*>> hidModuleEntries();

} // namespace platform

// The kernel's device request on a handle, with that system's signature. Only the HID class
// requests above are known; any other fails with ERROR_INVALID_FUNCTION, as a driver that does
// not handle a request answers. The transfer is synchronous; lpOverlapped must be null.
// lpBytesReturned receives the length of a fetched report, 0 for the other requests.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
