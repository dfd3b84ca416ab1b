#pragma once
// The one place where operating-system error numbers become that system's error codes, so a
// failure reads the same through GetLastError however it arrived (a refused open, a failed
// write, a read after unplug).

#include "platform/win32/WinTypes.h"

namespace platform {

// errno value -> last-error code. Every way a device can vanish under us (ENODEV, ENXIO, EIO
// from hidraw after unplug, EPIPE/ECONNRESET/ESHUTDOWN from a socket whose peer went) is
// ERROR_DEVICE_NOT_CONNECTED. Unknown values are ERROR_GEN_FAILURE; 0 is ERROR_SUCCESS.
DWORD win32ErrorFromErrno(int error);

// Last-error code <-> the transfer status kept in OVERLAPPED::Internal. Codes without a status
// of their own travel as STATUS_UNSUCCESSFUL, which reads back as ERROR_GEN_FAILURE.
NTSTATUS ntStatusFromWin32Error(DWORD error);
DWORD win32ErrorFromNtStatus(NTSTATUS status);

} // namespace platform
