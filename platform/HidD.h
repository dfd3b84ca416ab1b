#pragma once
// The HID class operations with that system's names, types and values, on handles that
// CreateFileW returned for HID interfaces. Attributes, strings and preparsed data work on a
// handle opened without access; reports need one opened for reading and writing.
//
// Strings are UTF-16, BufferLength counts bytes. The string is NUL-terminated when the NUL
// fits; a buffer too small for the string without its NUL fails with
// ERROR_INSUFFICIENT_BUFFER. A device that sends its strings unterminated fills the buffer.

#include "HidPi.h"
#include "WinTypes.h"

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
// Index 1 is the manufacturer, 2 the product, 3 the serial number; others do not exist here.
BOOLEAN HidD_GetIndexedString(HANDLE HidDeviceObject, ULONG StringIndex, PVOID Buffer,
                              ULONG BufferLength);
// Fails (ERROR_INVALID_DATA) when the device's report descriptor cannot be parsed.
BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
// Outside HidMinInputBuffers..HidMaxInputBuffers fails with ERROR_INVALID_PARAMETER.
BOOLEAN HidD_SetNumInputBuffers(HANDLE HidDeviceObject, ULONG NumberBuffers);
BOOLEAN HidD_GetNumInputBuffers(HANDLE HidDeviceObject, PULONG NumberBuffers);
BOOLEAN HidD_FlushQueue(HANDLE HidDeviceObject);
// The first byte of each report buffer is the report ID.
BOOLEAN HidD_GetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_GetInputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
BOOLEAN HidD_SetOutputReport(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);
// No device here has a physical descriptor: fails with ERROR_NOT_SUPPORTED.
BOOLEAN HidD_GetPhysicalDescriptor(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
// The class driver's configuration: the ring-buffer size is the handle's input queue size.
BOOLEAN HidD_GetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength);
BOOLEAN HidD_SetConfiguration(HANDLE HidDeviceObject, PHIDD_CONFIGURATION Configuration,
                              ULONG ConfigurationLength);

// The entries of the built-in "HID.dll" module, by name: the operations above and the HidP_*
// operations on preparsed data.
std::vector<std::pair<std::string, void*>> hidModuleEntries();

} // namespace platform
