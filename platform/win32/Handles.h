#pragma once
// What the HID class operations need to know of a handle that CreateFileW returned. The
// results stay valid after the handle is closed, so a caller on one thread is safe from a
// CloseHandle on another.

#include "platform/device/DeviceSource.h"
#include "platform/win32/WinTypes.h"

#include <cstdint>
#include <memory>

namespace platform {

// The interface a device handle was opened on, whatever its access; null for anything else.
std::shared_ptr<const HidInterfaceInfo> interfaceOf(HANDLE handle);
// The report connection behind a handle opened with read-write access; null otherwise.
std::shared_ptr<HidConnection> connectionOf(HANDLE handle);

// The handle's own queue of input reports, filled from its connection. When it is full the
// oldest report is dropped and counted.
bool setInputQueueCapacity(HANDLE handle, ULONG capacity);
ULONG inputQueueCapacity(HANDLE handle); // 0 for a handle without a queue
bool flushInputQueue(HANDLE handle);
std::uint64_t droppedInputReports(HANDLE handle);

} // namespace platform
