#pragma once
// The one I/O thread that keeps every open handle's input queue filled: it waits with epoll on
// the connections' input descriptors and an eventfd for its own wake-ups, reads each waiting
// report into the handle's queue, and marks a handle's device gone on hang-up or a read error,
// after the reports queued before that.

#include "platform/win32/DeviceHandle.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class ReportPump {
public:
    // What top -H, debuggers and the kernel flood check see the thread as.
    static constexpr char kThreadName[] = "tarvex I/O";

    static ReportPump& instance();

    ReportPump(const ReportPump&) = delete;
    ReportPump& operator=(const ReportPump&) = delete;
    ~ReportPump();

    // Starts filling the queue of a handle with a connection. The key names it to unwatch.
    void watch(HANDLE key, std::shared_ptr<DeviceHandle> handle);
    // Stops filling it; after this returns no new report reaches the handle from a read that
    // begins later (one already in progress may still finish into it).
    void unwatch(HANDLE key);

private:
    ReportPump();
    void run();
    void drain(const std::shared_ptr<DeviceHandle>& handle, std::uint32_t events);
    void stopWatchingLocked(std::uintptr_t key);

    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<DeviceHandle>> watched_;
    // The I/O thread's own: one read's buffer, and the reports of one drain until accepted.
    std::vector<std::uint8_t> buffer_;
    std::vector<std::vector<std::uint8_t>> arrived_;
    std::thread thread_;
};

} // namespace platform
