#pragma once
// A report connection over one open file descriptor with hidraw's rules: one read() returns
// one input report, one write() sends one output report, feature and on-request reports go
// through the hidraw ioctls. A SOCK_SEQPACKET socket (one message per report) behaves the same
// for reads and writes, which is how the simulated devices and the tests use it; the ioctls
// then fail with -ENOTTY.
//
// Reports cross this class ID byte first, as the device-source contract wants. A device without
// numbered reports reads from hidraw without the ID byte, so the 0 is put back in front here;
// writes and ioctls take the ID byte first in both cases, 0 for such a device, as hidraw does.

#include "platform/device/DeviceSource.h"

namespace platform {

class FdReportConnection : public HidConnection {
public:
    // Takes ownership of fd and closes it on destruction.
    FdReportConnection(int fd, bool numberedReports);
    ~FdReportConnection() override;
    FdReportConnection(const FdReportConnection&) = delete;
    FdReportConnection& operator=(const FdReportConnection&) = delete;

    int inputFd() const override { return fd_; }
    // Never blocks: -EAGAIN when nothing waits. Once the device has gone (end of stream, EIO or
    // ENODEV from the node) -ENODEV, after the reports it queued before going. A report longer
    // than the buffer is cut to the buffer's size.
    int readInput(std::uint8_t* buffer, std::size_t size) override;
    // Refuses an empty report, and a non-zero ID byte for a device without numbered reports.
    int writeOutput(const std::uint8_t* report, std::size_t size) override;

    int getFeature(std::uint8_t* buffer, std::size_t size) override;
    int setFeature(const std::uint8_t* report, std::size_t size) override;
    int getInputReport(std::uint8_t* buffer, std::size_t size) override;
    int setOutputReport(const std::uint8_t* report, std::size_t size) override;

private:
    int readOnce(std::uint8_t* buffer, std::size_t size);
    int reportIoctl(unsigned long request, std::uint8_t* buffer, std::size_t size);
    bool acceptsReportId(std::uint8_t id) const { return numberedReports_ || id == 0; }

    const int fd_;
    const bool numberedReports_;
    const bool isSocket_; // sockets are written without SIGPIPE and read without blocking
};

} // namespace platform
