#include "platform/win32/ErrnoMap.h"

#include "platform/win32/Win32.h"

#include <array>
#include <cerrno>
#include <utility>

namespace platform {

DWORD win32ErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
    case ECONNRESET:
    case ESHUTDOWN:
    case ENOTCONN:
        return ERROR_DEVICE_NOT_CONNECTED;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBUSY:
        return ERROR_BUSY;
    case EAGAIN:
        return ERROR_NO_SYSTEM_RESOURCES;
    case ENOMEM:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EMSGSIZE:
    case EFAULT:
        return ERROR_INVALID_USER_BUFFER;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ETIMEDOUT:
        return ERROR_SEM_TIMEOUT;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

namespace {

constexpr std::array<std::pair<DWORD, NTSTATUS>, 12> statusOfError{{
    {ERROR_SUCCESS, STATUS_SUCCESS},
    {ERROR_IO_PENDING, STATUS_PENDING},
    {ERROR_GEN_FAILURE, STATUS_UNSUCCESSFUL},
    {ERROR_INVALID_HANDLE, STATUS_INVALID_HANDLE},
    {ERROR_INVALID_PARAMETER, STATUS_INVALID_PARAMETER},
    {ERROR_NOT_ENOUGH_MEMORY, STATUS_NO_MEMORY},
    {ERROR_ACCESS_DENIED, STATUS_ACCESS_DENIED},
    {ERROR_DEVICE_NOT_CONNECTED, STATUS_DEVICE_NOT_CONNECTED},
    {ERROR_NOT_SUPPORTED, STATUS_NOT_SUPPORTED},
    {ERROR_INVALID_USER_BUFFER, STATUS_INVALID_USER_BUFFER},
    {ERROR_OPERATION_ABORTED, STATUS_CANCELLED},
    {ERROR_IO_DEVICE, STATUS_IO_DEVICE_ERROR},
}};

} // namespace

NTSTATUS ntStatusFromWin32Error(DWORD error) {
    for (const auto& [code, status] : statusOfError) {
        if (code == error)
            return status;
    }
    return STATUS_UNSUCCESSFUL;
}

DWORD win32ErrorFromNtStatus(NTSTATUS status) {
    for (const auto& [code, known] : statusOfError) {
        if (known == status)
            return code;
    }
    return ERROR_GEN_FAILURE;
}

} // namespace platform
