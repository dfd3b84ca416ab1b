#include "platform/win32/ReportPump.h"

#include "platform/win32/ErrnoMap.h"

#include <cerrno>
#include <cstdint>
#include <pthread.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

// Large enough for any HID report hidraw hands out, so none is cut short.
constexpr std::size_t maxReportSize = 16384;
// Reports taken from one connection per wake-up, so a flooding device cannot starve others.
constexpr int maxReadsPerWake = 256;
constexpr std::uint64_t wakeKey = 0;

} // namespace

ReportPump& ReportPump::instance() {
    static ReportPump pump;
    return pump;
}

ReportPump::ReportPump() : buffer_(maxReportSize) {
    arrived_.reserve(maxReadsPerWake);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epollFd_ < 0 || wakeFd_ < 0)
        throw std::runtime_error("cannot create the report I/O thread's descriptors");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = wakeKey;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event);
    thread_ = std::thread([this] { run(); });
}

ReportPump::~ReportPump() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    ::close(epollFd_);
}

void ReportPump::watch(HANDLE key, std::shared_ptr<DeviceHandle> handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(key);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = value;
    std::lock_guard lock(mutex_);
    const int fd = handle->connection()->inputFd();
    if (fd < 0 || ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) {
        handle->markGone(win32ErrorFromErrno(fd < 0 ? ENODEV : errno));
        return;
    }
    watched_.emplace(value, std::move(handle));
}

void ReportPump::unwatch(HANDLE key) {
    std::lock_guard lock(mutex_);
    stopWatchingLocked(reinterpret_cast<std::uintptr_t>(key));
}

void ReportPump::stopWatchingLocked(std::uintptr_t key) {
    const auto it = watched_.find(key);
    if (it == watched_.end())
        return;
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second->connection()->inputFd(), nullptr);
    watched_.erase(it);
}

void ReportPump::run() {
    ::pthread_setname_np(::pthread_self(), kThreadName);
    constexpr int batch = 32;
    epoll_event events[batch];
    for (;;) {
        const int count = ::epoll_wait(epollFd_, events, batch, -1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return;
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 == wakeKey)
                return;
            std::shared_ptr<DeviceHandle> handle;
            {
                std::lock_guard lock(mutex_);
                const auto it = watched_.find(events[i].data.u64);
                if (it != watched_.end())
                    handle = it->second;
            }
            if (handle)
                drain(handle, events[i].events);
        }
    }
}

// Reads what is waiting and queues it in one go, so a burst costs the handle's readers one
// wake-up. A device is gone only when reading says so, or when it hangs up with nothing left to
// read: the reports it queued before going are still delivered.
void ReportPump::drain(const std::shared_ptr<DeviceHandle>& handle, std::uint32_t events) {
    HidConnection& connection = *handle->connection();
    int error = 0;
    for (int reads = 0; reads < maxReadsPerWake; ++reads) {
        const int length = connection.readInput(buffer_.data(), buffer_.size());
        if (length > 0) {
            arrived_.emplace_back(buffer_.begin(), buffer_.begin() + length);
            continue;
        }
        if (length == -EINTR)
            continue;
        if (length == 0)
            break;
        if (length != -EAGAIN)
            error = -length;
        else if (events & (EPOLLHUP | EPOLLERR))
            error = ENODEV; // hung up with nothing left to read
        break;
    }
    if (!arrived_.empty())
        handle->acceptReports(arrived_);
    if (error == 0)
        return;
    handle->markGone(win32ErrorFromErrno(error));
    std::lock_guard lock(mutex_);
    for (const auto& [key, watched] : watched_) {
        if (watched == handle) {
            stopWatchingLocked(key);
            break;
        }
    }
}

} // namespace platform
