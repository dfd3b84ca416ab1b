#include "platform/win32/Win32.h"

#include "platform/win32/AlertableWait.h"
#include "platform/win32/DeviceHandle.h"
#include "platform/win32/ErrnoMap.h"
#include "platform/win32/ReportPump.h"
#include "platform/win32/Utf16.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HANDLE failOpen(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

bool isKnownDisposition(DWORD disposition) {
    return disposition >= CREATE_NEW && disposition <= TRUNCATE_EXISTING;
}

std::shared_ptr<platform::HidConnection> openConnection(const std::string& path, DWORD* error) {
    int openError = 0;
    std::shared_ptr<platform::HidConnection> connection =
        platform::deviceSource().open(path, &openError);
    if (!connection)
        *error = platform::win32ErrorFromErrno(openError != 0 ? openError : ENODEV);
    return connection;
}

DWORD transferStatus(const OVERLAPPED& overlapped) {
    return static_cast<DWORD>(overlapped.Internal);
}

} // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    if (!lpFileName || !isKnownDisposition(dwCreationDisposition))
        return failOpen(ERROR_INVALID_PARAMETER);
    const std::string path = platform::utf8FromUtf16(lpFileName);
    auto info = platform::deviceSource().find(path);
    if (!info)
        return failOpen(ERROR_FILE_NOT_FOUND);

    std::shared_ptr<platform::HidConnection> connection;
    if (dwDesiredAccess & (GENERIC_READ | GENERIC_WRITE)) {
        DWORD error = ERROR_SUCCESS;
        connection = openConnection(path, &error);
        if (!connection)
            return failOpen(error);
    }
    auto device = std::make_shared<platform::DeviceHandle>(
        std::make_shared<const platform::HidInterfaceInfo>(std::move(*info)), connection,
        dwDesiredAccess, dwFlagsAndAttributes);
    const HANDLE handle = platform::registerHandle(device);
    // A handle opened without read access never reads, so its queue is never filled.
    if (device->canRead())
        platform::ReportPump::instance().watch(handle, std::move(device));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL CloseHandle(HANDLE hObject) {
    const auto device = platform::unregisterHandle(hObject);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    if (device->canRead())
        platform::ReportPump::instance().unwatch(hObject);
    device->close();
    return TRUE;
}

namespace {

// Writes one output report through the handle; the bytes written, or FALSE with the error.
BOOL writeReport(const platform::DeviceHandle& device, LPCVOID buffer, DWORD size, DWORD* written) {
    *written = 0;
    if (!device.canWrite())
        return fail(ERROR_ACCESS_DENIED);
    if (!buffer && size > 0)
        return fail(ERROR_INVALID_USER_BUFFER);
    const int result =
        device.connection()->writeOutput(static_cast<const std::uint8_t*>(buffer), size);
    if (result < 0)
        return fail(platform::win32ErrorFromErrno(-result));
    *written = static_cast<DWORD>(result);
    return TRUE;
}

} // namespace

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    const auto device = platform::lookupHandle(hFile);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    DWORD written = 0;
    if (!writeReport(*device, lpBuffer, nNumberOfBytesToWrite, &written))
        return FALSE;
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = written;
    if (lpOverlapped) {
        lpOverlapped->Internal = static_cast<DWORD>(STATUS_SUCCESS);
        lpOverlapped->InternalHigh = written;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The write itself is done at once; only its completion waits for the alertable wait.
BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    const auto device = platform::lookupHandle(hFile);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpOverlapped || !device->isOverlapped())
        return fail(ERROR_INVALID_PARAMETER);
    lpOverlapped->Internal = static_cast<DWORD>(STATUS_PENDING);
    lpOverlapped->InternalHigh = 0;
    DWORD written = 0;
    if (!writeReport(*device, lpBuffer, nNumberOfBytesToWrite, &written)) {
        lpOverlapped->Internal =
            static_cast<DWORD>(platform::ntStatusFromWin32Error(GetLastError()));
        return FALSE;
    }
    platform::AlertableContext::current()->post(
        {lpOverlapped, lpCompletionRoutine, nullptr, ERROR_SUCCESS, {}, written});
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    const auto device = platform::lookupHandle(hFile);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    if (!device->canRead())
        return fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToRead > 0)
        return fail(ERROR_INVALID_USER_BUFFER);

    // A context of its own, so that the wait delivers this read and nothing else the thread
    // has pending: a blocking read is not an alertable wait.
    const auto context = std::make_shared<platform::AlertableContext>();
    OVERLAPPED own{};
    own.Internal = static_cast<DWORD>(STATUS_PENDING);
    DWORD error = ERROR_SUCCESS;
    if (!device->startRead({context, &own, nullptr, lpBuffer, nNumberOfBytesToRead}, &error))
        return fail(error);
    while (transferStatus(own) == static_cast<DWORD>(STATUS_PENDING))
        context->waitAndDeliver(INFINITE);

    if (lpOverlapped) {
        lpOverlapped->Internal = own.Internal;
        lpOverlapped->InternalHigh = own.InternalHigh;
    }
    const auto status = static_cast<NTSTATUS>(transferStatus(own));
    if (status != STATUS_SUCCESS)
        return fail(platform::win32ErrorFromNtStatus(status));
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = static_cast<DWORD>(own.InternalHigh);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPOVERLAPPED lpOverlapped, LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    const auto device = platform::lookupHandle(hFile);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpOverlapped || !device->isOverlapped())
        return fail(ERROR_INVALID_PARAMETER);
    if (!device->canRead())
        return fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToRead > 0)
        return fail(ERROR_INVALID_USER_BUFFER);

    lpOverlapped->Internal = static_cast<DWORD>(STATUS_PENDING);
    lpOverlapped->InternalHigh = 0;
    DWORD error = ERROR_SUCCESS;
    const bool started = device->startRead({platform::AlertableContext::current(), lpOverlapped,
                                            lpCompletionRoutine, lpBuffer, nNumberOfBytesToRead},
                                           &error);
    if (!started) {
        lpOverlapped->Internal = static_cast<DWORD>(platform::ntStatusFromWin32Error(error));
        return fail(error);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE /*hFile*/, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
    if (!lpOverlapped || !lpNumberOfBytesTransferred)
        return fail(ERROR_INVALID_PARAMETER);
    if (transferStatus(*lpOverlapped) == static_cast<DWORD>(STATUS_PENDING)) {
        if (!bWait)
            return fail(ERROR_IO_INCOMPLETE);
        const auto context = platform::AlertableContext::current();
        while (transferStatus(*lpOverlapped) == static_cast<DWORD>(STATUS_PENDING))
            context->waitAndDeliver(INFINITE);
    }
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    const auto status = static_cast<NTSTATUS>(transferStatus(*lpOverlapped));
    if (status != STATUS_SUCCESS)
        return fail(platform::win32ErrorFromNtStatus(status));
    return TRUE;
}

BOOL CancelIo(HANDLE hFile) {
    const auto device = platform::lookupHandle(hFile);
    if (!device)
        return fail(ERROR_INVALID_HANDLE);
    device->cancelReads(platform::AlertableContext::current().get());
    return TRUE;
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
    if (bAlertable) {
        const auto delivered =
            platform::AlertableContext::current()->waitAndDeliver(dwMilliseconds);
        return delivered > 0 ? WAIT_IO_COMPLETION : 0;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    return 0;
}

void Sleep(DWORD dwMilliseconds) {
    SleepEx(dwMilliseconds, FALSE);
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}
