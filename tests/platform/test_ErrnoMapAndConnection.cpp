// The errno table, and FdReportConnection on its own over a socket pair.

#include "platform/ErrnoMap.h"
#include "platform/FdReportConnection.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>
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

TEST_F(FdReportConnectionTest, ReadsOneReportPerMessageAndNeverBlocks) {
    platform::FdReportConnection connection(ends[0], true);
    std::uint8_t buffer[16];
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -EAGAIN);
    deviceSends({0x02, 0x11});
    deviceSends({0x02, 0x22, 0x33});
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), 2);
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), 3);
    EXPECT_EQ(buffer[2], 0x33);
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -EAGAIN);
}

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

TEST_F(FdReportConnectionTest, QueuedReportsComeBeforeTheHangUp) {
    platform::FdReportConnection connection(ends[0], true);
    deviceSends({0x01, 0x01});
    ::close(ends[1]);
    ends[1] = -1;
    std::uint8_t buffer[8];
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), 2);
    EXPECT_EQ(connection.readInput(buffer, sizeof buffer), -ENODEV);
    const std::uint8_t report[] = {0x01, 0x52};
    EXPECT_EQ(connection.writeOutput(report, sizeof report), -ENODEV); // and no SIGPIPE
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

} // namespace
