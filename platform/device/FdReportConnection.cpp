#include "platform/device/FdReportConnection.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// The ioctl request encodes the length in 14 bits.
constexpr std::size_t maxIoctlLength = (1u << 14) - 1;

bool isSocketFd(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

bool isDeviceGoneError(int error) {
    return error == ENODEV || error == EIO || error == ECONNRESET || error == EPIPE ||
           error == ESHUTDOWN;
}

} // namespace

FdReportConnection::FdReportConnection(int fd, bool numberedReports)
    : fd_(fd), numberedReports_(numberedReports), isSocket_(isSocketFd(fd)) {
    // A socket is read with MSG_DONTWAIT; a node is made non-blocking, which hidraw's writes and
    // ioctls ignore, so that a read costs one call and no readiness probe.
    if (!isSocket_ && fd_ >= 0)
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

FdReportConnection::~FdReportConnection() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FdReportConnection::readInput(std::uint8_t* buffer, std::size_t size) {
    if (size == 0 || (!numberedReports_ && size < 2))
        return -EINVAL;
    if (numberedReports_)
        return readOnce(buffer, size);
    buffer[0] = 0;
    const int length = readOnce(buffer + 1, size - 1);
    return length > 0 ? length + 1 : length;
}

int FdReportConnection::readOnce(std::uint8_t* buffer, std::size_t size) {
    ssize_t length;
    do {
        length = isSocket_ ? ::recv(fd_, buffer, size, MSG_DONTWAIT) : ::read(fd_, buffer, size);
    } while (length < 0 && errno == EINTR);
    if (length == 0)
        return -ENODEV; // end of stream: the other side has gone
    if (length < 0)
        return isDeviceGoneError(errno) ? -ENODEV : -errno;
    return static_cast<int>(length);
}

int FdReportConnection::writeOutput(const std::uint8_t* report, std::size_t size) {
    if (size == 0 || !acceptsReportId(report[0]))
        return -EINVAL;
    ssize_t written;
    do {
        written = isSocket_ ? ::send(fd_, report, size, MSG_NOSIGNAL) : ::write(fd_, report, size);
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return isDeviceGoneError(errno) ? -ENODEV : -errno;
    return static_cast<int>(written);
}

int FdReportConnection::reportIoctl(unsigned long request, std::uint8_t* buffer, std::size_t size) {
    if (size == 0 || size > maxIoctlLength || !acceptsReportId(buffer[0]))
        return -EINVAL;
    int result;
    do {
        result = ::ioctl(fd_, request, buffer);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return isDeviceGoneError(errno) ? -ENODEV : -errno;
    return result;
}

int FdReportConnection::getFeature(std::uint8_t* buffer, std::size_t size) {
    return reportIoctl(HIDIOCGFEATURE(size), buffer, size);
}

int FdReportConnection::getInputReport(std::uint8_t* buffer, std::size_t size) {
    return reportIoctl(HIDIOCGINPUT(size), buffer, size);
}

// hidraw's set ioctls take a writable buffer; the report is copied so the caller's stays const.
int FdReportConnection::setFeature(const std::uint8_t* report, std::size_t size) {
    if (size == 0 || size > maxIoctlLength)
        return -EINVAL;
    std::vector<std::uint8_t> copy(report, report + size);
    return reportIoctl(HIDIOCSFEATURE(size), copy.data(), size);
}

int FdReportConnection::setOutputReport(const std::uint8_t* report, std::size_t size) {
    if (size == 0 || size > maxIoctlLength)
        return -EINVAL;
    std::vector<std::uint8_t> copy(report, report + size);
    return reportIoctl(HIDIOCSOUTPUT(size), copy.data(), size);
}

} // namespace platform
