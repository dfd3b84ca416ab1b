#pragma once
// One device, one user: a process that uses a device holds an advisory lock on it, so a second
// process (another tarvexctl, another window) is told the device is busy instead of sending
// commands between the first one's. The lock is a flock(2) on the file the device source names
// for the device (the hidraw node itself, or a lock file for a simulated device); the kernel
// lets it go when the process ends, however it ends.

#include <memory>
#include <string>

namespace platform {

class DeviceLock {
public:
    enum class Outcome { Held, Busy, NotLocked };

    // Tries once, without waiting. Held: this process now holds the device. Busy: another
    // process does. NotLocked: the device has no lock file (a simulated device of a test), or
    // it could not be opened; the device may be used as before.
    static std::unique_ptr<DeviceLock> tryAcquire(const std::string& devicePath, Outcome& outcome);

    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    explicit DeviceLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace platform
