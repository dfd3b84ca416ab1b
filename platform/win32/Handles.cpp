#include "platform/win32/Handles.h"

#include "platform/win32/DeviceHandle.h"

namespace platform {

std::shared_ptr<const HidInterfaceInfo> interfaceOf(HANDLE handle) {
    const auto device = lookupHandle(handle);
    return device ? device->info() : nullptr;
}

std::shared_ptr<HidConnection> connectionOf(HANDLE handle) {
    const auto device = lookupHandle(handle);
    return device ? device->connection() : nullptr;
}

bool setInputQueueCapacity(HANDLE handle, ULONG capacity) {
    const auto device = lookupHandle(handle);
    return device && device->connection() && device->setCapacity(capacity);
}

ULONG inputQueueCapacity(HANDLE handle) {
    const auto device = lookupHandle(handle);
    if (!device || !device->connection())
        return 0;
    return static_cast<ULONG>(device->capacity());
}

bool flushInputQueue(HANDLE handle) {
    const auto device = lookupHandle(handle);
    if (!device || !device->connection())
        return false;
    device->flush();
    return true;
}

std::uint64_t droppedInputReports(HANDLE handle) {
    const auto device = lookupHandle(handle);
    return device ? device->dropped() : 0;
}

} // namespace platform
