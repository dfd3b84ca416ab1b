#include "platform/device/DeviceLock.h"

#include "platform/device/DeviceSource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<DeviceLock> DeviceLock::tryAcquire(const std::string& devicePath,
                                                   Outcome& outcome) {
    outcome = Outcome::NotLocked;
    const std::string file = deviceSource().lockFile(devicePath);
    if (file.empty())
        return nullptr;
    // A lock file is made readable by all, so that users of one machine see each other's locks.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            outcome = Outcome::Busy;
        ::close(fd);
        return nullptr;
    }
    outcome = Outcome::Held;
    return std::unique_ptr<DeviceLock>(new DeviceLock(fd));
}

DeviceLock::~DeviceLock() {
    ::close(fd_);
}

} // namespace platform
