#pragma once
// The kernel services of that system the HID layer calls: device handles, synchronous writes,
// overlapped reads completed by alertable waits, and the calling thread's last error. Global
// functions with that system's names, types and values, so the HID code reads as written for
// it; a build for that system binds the real ones instead.
//
// How reads complete here, as there:
// - ReadFileEx starts a read that belongs to the calling thread. Its completion routine runs
//   only inside an alertable wait (SleepEx with bAlertable TRUE) of that same thread, and the
//   read's buffer and OVERLAPPED are written at that moment, on that thread, never before.
// - SleepEx returns WAIT_IO_COMPLETION when one or more completion routines ran in the wait,
//   0 when the time ran out. A completion wakes the wait at once.
// - CloseHandle, from any thread, ends every read pending on the handle; CancelIo ends the
//   calling thread's reads on it. Each such read completes with 0 bytes and
//   ERROR_OPERATION_ABORTED at its thread's next alertable wait.
// - Every handle opened with read or write access owns a queue of input reports, filled from
//   its device connection in the background (32 reports unless changed, see Handles.h). When
//   the queue is full the OLDEST report is dropped and counted. Reads take reports from the
//   front. When the device vanishes the reports already queued are still read first; after
//   them reads fail with ERROR_DEVICE_NOT_CONNECTED.
//
// Share modes are accepted and not enforced: device nodes here may be opened any number of
// times, each open with its own queue.

#include "platform/win32/WinTypes.h"

using LPOVERLAPPED = struct OVERLAPPED*;

struct OVERLAPPED {
    ULONG_PTR Internal;     // status of the transfer: STATUS_PENDING until it has completed
    ULONG_PTR InternalHigh; // bytes transferred, once completed
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent; // left alone when a completion routine is used: free for the caller
};

using LPOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD dwErrorCode, DWORD dwNumberOfBytesTransfered,
                                                 LPOVERLAPPED lpOverlapped);

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_IO_COMPLETION = 0x000000C0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Error codes used here beyond the common ones.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// Transfer states kept in OVERLAPPED::Internal.
constexpr NTSTATUS STATUS_SUCCESS = 0x00000000;
constexpr NTSTATUS STATUS_PENDING = 0x00000103;
constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<NTSTATUS>(0xC0000017);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC000009A);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = static_cast<NTSTATUS>(0xC000009D);
constexpr NTSTATUS STATUS_IO_TIMEOUT = static_cast<NTSTATUS>(0xC00000B5);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BB);
constexpr NTSTATUS STATUS_INVALID_USER_BUFFER = static_cast<NTSTATUS>(0xC00000E8);
constexpr NTSTATUS STATUS_CANCELLED = static_cast<NTSTATUS>(0xC0000120);
constexpr NTSTATUS STATUS_IO_DEVICE_ERROR = static_cast<NTSTATUS>(0xC0000185);

// Opens a device interface by its path. Access 0 opens without any I/O and needs no
// permission on the device node: enough for attributes, strings and descriptors. Read or write
// access opens a report connection; refused access gives ERROR_ACCESS_DENIED, a vanished
// interface ERROR_FILE_NOT_FOUND. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Safe from any thread while other threads use the handle: their pending reads end.
BOOL CloseHandle(HANDLE hObject);

// Writes one output report (report ID first) and returns once it is written, whatever the
// handle's flags. A report the device does not take fails with the device's error.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Writes like WriteFile, on a handle opened with GENERIC_WRITE and FILE_FLAG_OVERLAPPED; the
// outcome reaches lpOverlapped and the completion routine in the calling thread's next
// alertable wait, as for ReadFileEx. FALSE, with no routine to come, when it cannot start.
BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
// Reads one input report from the handle's queue, waiting as long as it takes for one to
// arrive, whatever the handle's flags; no completion routine of the thread runs meanwhile.
// Ends with ERROR_OPERATION_ABORTED when the handle is closed meanwhile, and with
// ERROR_DEVICE_NOT_CONNECTED once the device has gone and its queue is empty. A report longer
// than the buffer fails with ERROR_INVALID_USER_BUFFER and stays queued.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
// Starts a read of one input report on a handle opened with GENERIC_READ and
// FILE_FLAG_OVERLAPPED. A report longer than the buffer completes the read with
// ERROR_INVALID_USER_BUFFER and stays queued for a larger read.
BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
// The outcome of a completed transfer. Without waiting, a transfer still pending gives FALSE
// with ERROR_IO_INCOMPLETE. Waiting delivers the calling thread's completions until this one
// has completed, so it suits only a read the calling thread started.
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait);
BOOL CancelIo(HANDLE hFile);

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);
void Sleep(DWORD dwMilliseconds);

// Per thread: a failure on one thread never changes what another reads.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
