// The errno table, FdReportConnection on its own over a socket pair and over a terminal (a
// character device that hangs up like a hidraw node), and the I/O thread draining a device that
// goes away with reports still waiting.

#include "platform/device/FdReportConnection.h"
#include "platform/win32/AlertableWait.h"
#include "platform/win32/DeviceHandle.h"
#include "platform/win32/ErrnoMap.h"
#include "platform/win32/ReportPump.h"
#include "platform/win32/Win32.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct ErrnoCase {
    int error;
    DWORD expected;
};

TEST(ErrnoMap, TranslatesEveryKnownErrno) {
    const ErrnoCase cases[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
        {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
        {EIO, ERROR_DEVICE_NOT_CONNECTED},
        {EPIPE, ERROR_DEVICE_NOT_CONNECTED},
        {ECONNRESET, ERROR_DEVICE_NOT_CONNECTED},
        {ESHUTDOWN, ERROR_DEVICE_NOT_CONNECTED},
        {ENOTCONN, ERROR_DEVICE_NOT_CONNECTED},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EROFS, ERROR_ACCESS_DENIED},
        {EBUSY, ERROR_BUSY},
        {EAGAIN, ERROR_NO_SYSTEM_RESOURCES},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        {EINVAL, ERROR_INVALID_PARAMETER},
        {EMSGSIZE, ERROR_INVALID_USER_BUFFER},
        {EFAULT, ERROR_INVALID_USER_BUFFER},
        {EBADF, ERROR_INVALID_HANDLE},
        {ENOTTY, ERROR_NOT_SUPPORTED},
        {ENOSYS, ERROR_NOT_SUPPORTED},
        {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
        {ETIMEDOUT, ERROR_SEM_TIMEOUT},
        {ECANCELED, ERROR_OPERATION_ABORTED},
        {EDOM, ERROR_GEN_FAILURE},
        {-1, ERROR_GEN_FAILURE},
    };
    for (const auto& [error, expected] : cases)
        EXPECT_EQ(platform::win32ErrorFromErrno(error), expected) << "errno " << error;
}

TEST(ErrnoMap, TransferStatusRoundTripsForTheCompletionErrors) {
    for (DWORD error : {ERROR_SUCCESS, ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED,
                        ERROR_INVALID_USER_BUFFER, ERROR_ACCESS_DENIED, ERROR_IO_DEVICE})
        EXPECT_EQ(platform::win32ErrorFromNtStatus(platform::ntStatusFromWin32Error(error)), error);
    EXPECT_EQ(platform::ntStatusFromWin32Error(ERROR_OPERATION_ABORTED), STATUS_CANCELLED);
    EXPECT_EQ(platform::ntStatusFromWin32Error(ERROR_SUCCESS), STATUS_SUCCESS);
    EXPECT_EQ(platform::win32ErrorFromNtStatus(platform::ntStatusFromWin32Error(ERROR_CRC)),
              ERROR_GEN_FAILURE);
}

class FdReportConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0); }
    void TearDown() override {
        if (ends[1] >= 0)
            ::close(ends[1]);
    }
    void deviceSends(std::vector<std::uint8_t> report) {
        ASSERT_EQ(::send(ends[1], report.data(), report.size(), 0),
                  static_cast<ssize_t>(report.size()));
    }
    int ends[2] = {-1, -1};
};

TEST_F(FdReportConnectionTest, PutsIdZeroBeforeReportsOfAnUnnumberedDevice) {
    platform::FdReportConnection connection(ends[0], false);
    deviceSends({0x41});
    std::uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(connection.readInput(buffer, sizeof buffer), 2);
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(buffer[1], 0x41);
    EXPECT_EQ(buffer[2], 0xEE);
    EXPECT_EQ(connection.readInput(buffer, 1), -EINVAL); // no room for anything after the ID
}

// A buffer shorter than the report takes its start; the rest is gone, and the next read starts
// at the next report, never in the middle of the cut one.
TEST_F(FdReportConnectionTest, ShortReadsKeepReportBoundaries) {
    platform::FdReportConnection numbered(ends[0], true);
    deviceSends({0x01, 1, 2, 3, 4, 5, 6, 7});
    deviceSends({0x01, 0xAA});
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(numbered.readInput(buffer, 3), 3);
    EXPECT_EQ((std::vector<std::uint8_t>(buffer, buffer + 3)),
              (std::vector<std::uint8_t>{1, 1, 2}));
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(numbered.readInput(buffer, sizeof buffer), 2);
    EXPECT_EQ(buffer[1], 0xAA);
    EXPECT_EQ(buffer[2], 0xEE); // a report shorter than the last one leaves the rest alone
}

TEST_F(FdReportConnectionTest, ShortReadOfAnUnnumberedDeviceKeepsIdZeroInFront) {
    platform::FdReportConnection unnumbered(ends[0], false);
    deviceSends({0x41, 0x42, 0x43});
    deviceSends({0x51});
    std::uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(unnumbered.readInput(buffer, 2), 2);
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(buffer[1], 0x41);
    EXPECT_EQ(buffer[2], 0xEE);
    ASSERT_EQ(unnumbered.readInput(buffer, sizeof buffer), 2);
    EXPECT_EQ(buffer[1], 0x51);
}

// A terminal's controlling side behaves as a hidraw node does after unplug: readable with the
// hang-up flagged while data waits, then hang-up alone, and read() fails with EIO.
TEST(FdReportConnectionOnCharacterDevice, QueuedReportComesBeforeTheHangUp) {
    const int controller = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(controller, 0);
    ASSERT_EQ(::grantpt(controller), 0);
    ASSERT_EQ(::unlockpt(controller), 0);
    const int device = ::open(::ptsname(controller), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(device, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(device, &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(device, TCSANOW, &raw), 0);

    platform::FdReportConnection connection(controller, true);
    std::uint8_t buffer[8];
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -EAGAIN);
    const std::uint8_t report[] = {0x02, 0x10, 0x20};
    ASSERT_EQ(::write(device, report, sizeof report), 3);
    ::close(device);
    ASSERT_EQ(connection.readInput(buffer, sizeof buffer), 3);
    EXPECT_EQ(buffer[2], 0x20);
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -ENODEV);
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -ENODEV);
}

TEST_F(FdReportConnectionTest, RefusesReportsItCannotSend) {
    platform::FdReportConnection unnumbered(ends[0], false);
    const std::uint8_t withId[] = {0x03, 0x00};
    EXPECT_EQ(unnumbered.writeOutput(withId, sizeof withId), -EINVAL);
    EXPECT_EQ(unnumbered.writeOutput(withId, 0), -EINVAL);
    EXPECT_EQ(unnumbered.setFeature(withId, sizeof withId), -EINVAL);
}

TEST_F(FdReportConnectionTest, ReportIoctlsFailCleanlyOffHidraw) {
    platform::FdReportConnection connection(ends[0], true);
    std::uint8_t buffer[9] = {0x01};
    EXPECT_EQ(connection.getFeature(buffer, sizeof buffer), -ENOTTY);
    EXPECT_EQ(connection.setFeature(buffer, sizeof buffer), -ENOTTY);
    EXPECT_EQ(connection.getInputReport(buffer, sizeof buffer), -ENOTTY);
    EXPECT_EQ(connection.setOutputReport(buffer, sizeof buffer), -ENOTTY);
    EXPECT_EQ(connection.getFeature(buffer, 0), -EINVAL);
    std::vector<std::uint8_t> huge(1 << 14, 0);
    EXPECT_EQ(connection.getFeature(huge.data(), huge.size()), -EINVAL);
}

// One read through the I/O thread's queue, finished in this thread's alertable wait.
struct QueuedRead {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(16, 0xEE);
    DWORD error = ERROR_IO_PENDING;
    DWORD bytes = 0;

    QueuedRead() { overlapped.hEvent = this; }
    static void finished(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
        auto* read = static_cast<QueuedRead*>(overlapped->hEvent);
        read->error = error;
        read->bytes = bytes;
    }
    // ERROR_IO_PENDING if nothing came within five seconds.
    DWORD run(platform::DeviceHandle& handle) {
        DWORD startError = ERROR_SUCCESS;
        if (!handle.startRead({platform::AlertableContext::current(), &overlapped, finished,
                               buffer.data(), static_cast<DWORD>(buffer.size())},
                              &startError))
            return startError;
        platform::AlertableContext::current()->waitAndDeliver(5000);
        return error;
    }
};

// More reports wait at the unplug than the I/O thread takes in one wake-up: every one of them
// reaches the queue in order, none is dropped, and only then is the device gone.
TEST(ReportPump, DrainsEveryReportQueuedBeforeTheUnplugThenReportsTheDeviceGone) {
    const std::string path = "/dev/hidraw-flooding";
    testing_support::FakeDeviceSource source;
    auto info = testing_support::fakeInterface(path);
    info.reportDescriptor = testing_support::numberedDescriptor();
    source.plug(info);
    int openError = 0;
    std::shared_ptr<platform::HidConnection> connection = source.open(path, &openError);
    ASSERT_NE(connection, nullptr);
    auto handle =
        std::make_shared<platform::DeviceHandle>(std::make_shared<platform::HidInterfaceInfo>(),
                                                 connection, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    constexpr int reports = 600;
    ASSERT_TRUE(handle->setCapacity(reports));
    const HANDLE key = reinterpret_cast<HANDLE>(std::uintptr_t{0x7001}); // no handle value
    platform::ReportPump::instance().watch(key, handle);
    for (int n = 0; n < reports; ++n)
        source.send(path, {0x01, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
    source.unplug(path);

    for (int n = 0; n < reports; ++n) {
        QueuedRead read;
        ASSERT_EQ(read.run(*handle), ERROR_SUCCESS) << "report " << n;
        ASSERT_EQ(read.bytes, 3u);
        ASSERT_EQ(read.buffer[1] | read.buffer[2] << 8, n);
    }
    QueuedRead afterUnplug;
    EXPECT_EQ(afterUnplug.run(*handle), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(handle->dropped(), 0u);
    platform::ReportPump::instance().unwatch(key);
}

} // namespace
