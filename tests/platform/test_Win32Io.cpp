// Device handles and overlapped reads through the real handle layer, with FdReportConnection
// on socket pairs standing in for hidraw nodes.

#include "platform/win32/AlertableWait.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32.h"
#include "tests/support/Eventually.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <future>
#include <poll.h>
#include <thread>

using testing_support::eventually;
using testing_support::FakeDeviceSource;
using testing_support::fakeInterface;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr DWORD longWait = 10000;

// What one overlapped read saw; its OVERLAPPED::hEvent points here, as the reader thread's does
// to find its device.
struct ReadRecord {
    OVERLAPPED overlapped{};
    Bytes buffer;
    std::vector<std::pair<DWORD, DWORD>> completions; // (error, bytes), on the owning thread

    explicit ReadRecord(std::size_t size, std::uint8_t fill = 0xEE) : buffer(size, fill) {
        overlapped.hEvent = this;
    }
    Bytes received() const {
        return {buffer.begin(), buffer.begin() + static_cast<long>(overlapped.InternalHigh)};
    }
};

void recordCompletion(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    static_cast<ReadRecord*>(overlapped->hEvent)->completions.emplace_back(error, bytes);
}

BOOL startRead(HANDLE handle, ReadRecord& record) {
    return ReadFileEx(handle, record.buffer.data(), static_cast<DWORD>(record.buffer.size()),
                      &record.overlapped, recordCompletion);
}

class Win32Io : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeDeviceSource>();
        source = owned.get();
        source->plug(numberedInterface(numbered));
        source->plug(fakeInterface(unnumbered));
        auto denied = numberedInterface(readOnlyNode);
        denied.readWriteAllowed = false;
        source->plug(denied);
        platform::installDeviceSource(std::move(owned));
    }
    void TearDown() override {
        for (HANDLE handle : opened)
            CloseHandle(handle);
    }

    HANDLE open(const std::u16string& path, DWORD access, DWORD flags = 0) {
        const HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            opened.push_back(handle);
        return handle;
    }
    HANDLE openForReading(const std::u16string& path) {
        return open(path, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    }
    // Until the I/O thread has taken everything the device sent off the connection.
    bool connectionDrained(HANDLE handle) {
        const int fd = platform::connectionOf(handle)->inputFd();
        return eventually([fd] {
            pollfd probe{fd, POLLIN, 0};
            return ::poll(&probe, 1, 0) == 0;
        });
    }

    const std::string numbered = "/dev/hidraw-numbered";
    const std::string unnumbered = "/dev/hidraw-plain";
    const std::string readOnlyNode = "/dev/hidraw-denied";
    const std::u16string numberedW = u"/dev/hidraw-numbered";
    const std::u16string unnumberedW = u"/dev/hidraw-plain";
    const std::u16string readOnlyNodeW = u"/dev/hidraw-denied";
    FakeDeviceSource* source = nullptr;

    static platform::HidInterfaceInfo numberedInterface(const std::string& path) {
        auto info = fakeInterface(path);
        info.reportDescriptor = testing_support::numberedDescriptor();
        return info;
    }
    std::vector<HANDLE> opened;
};

TEST_F(Win32Io, AccessZeroOpenRecordsTheInterfaceWithoutConnecting) {
    const HANDLE handle = open(readOnlyNodeW, 0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_NE(platform::interfaceOf(handle), nullptr);
    EXPECT_EQ(platform::interfaceOf(handle)->path, readOnlyNode);
    EXPECT_EQ(platform::connectionOf(handle), nullptr);
    EXPECT_EQ(platform::inputQueueCapacity(handle), 0u);
    EXPECT_EQ(source->openCount(readOnlyNode), 0);
}

TEST_F(Win32Io, OpenFailuresSetTheLastError) {
    EXPECT_EQ(open(readOnlyNodeW, GENERIC_READ | GENERIC_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(open(u"/dev/hidraw-absent", 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileW(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32Io, OperationsRefusedByHandleKindOrState) {
    const HANDLE infoOnly = open(numberedW, 0);
    const HANDLE synchronous = open(numberedW, GENERIC_READ | GENERIC_WRITE);
    ReadRecord read(8);
    DWORD written = 99;
    const Bytes report{1, 2};

    EXPECT_FALSE(WriteFile(infoOnly, report.data(), 2, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(startRead(infoOnly, read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(startRead(synchronous, read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(CloseHandle(infoOnly));
    opened.erase(opened.begin());
    EXPECT_FALSE(CloseHandle(infoOnly));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CancelIo(infoOnly));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Win32Io, WriteSendsTheReportAsGiven) {
    const HANDLE handle = open(numberedW, GENERIC_READ | GENERIC_WRITE);
    const Bytes report{0x02, 0x57, 0xFF, 0x10};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, report.data(), 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(source->receive(numbered), report);
}

TEST_F(Win32Io, ReportTheConnectionCannotTakeFailsCleanly) {
    const HANDLE handle = open(numberedW, GENERIC_READ | GENERIC_WRITE);
    Bytes oversized(4 << 20, 0x01);
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(handle, oversized.data(), static_cast<DWORD>(oversized.size()), &written,
                           nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(WriteFile(handle, nullptr, 0, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32Io, DeviceWithoutReportIdsReadsAndWritesWithIdZeroFirst) {
    const HANDLE reader = open(unnumberedW, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    const HANDLE writer = reader;
    ReadRecord read(8);
    ASSERT_TRUE(startRead(reader, read));
    source->send(unnumbered, {0xAA, 0xBB}); // hidraw hands these out without the ID byte
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(read.received(), (Bytes{0x00, 0xAA, 0xBB}));

    const Bytes report{0x00, 0x52, 0xFF};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, report.data(), 3, &written, nullptr));
    EXPECT_EQ(source->receive(unnumbered), report);
    const Bytes numberedReport{0x05, 0x52};
    EXPECT_FALSE(WriteFile(writer, numberedReport.data(), 2, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32Io, ReadCompletesOnlyInAnAlertableWaitOfItsThread) {
    const HANDLE handle = openForReading(numberedW);
    ReadRecord read(8);
    ASSERT_TRUE(startRead(handle, read));
    source->send(numbered, {0x01, 0x10, 0x20});
    ASSERT_TRUE(connectionDrained(handle));

    // Another thread's alertable wait is not where this read completes.
    const DWORD otherWait = std::async(std::launch::async, [] { return SleepEx(20, TRUE); }).get();
    EXPECT_EQ(otherWait, 0u);
    EXPECT_TRUE(read.completions.empty());
    EXPECT_EQ(read.buffer, Bytes(8, 0xEE)) << "buffer written before the completion";
    DWORD count = 7;
    EXPECT_FALSE(GetOverlappedResult(handle, &read.overlapped, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    EXPECT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    ASSERT_EQ(read.completions.size(), 1u);
    EXPECT_EQ(read.completions[0], std::make_pair(ERROR_SUCCESS, DWORD{3}));
    EXPECT_EQ(read.received(), (Bytes{0x01, 0x10, 0x20}));
    ASSERT_TRUE(GetOverlappedResult(handle, &read.overlapped, &count, FALSE));
    EXPECT_EQ(count, 3u);
}

TEST_F(Win32Io, SleepWithNothingPendingTimesOutWithZero) {
    EXPECT_EQ(SleepEx(5, TRUE), 0u);
    EXPECT_EQ(SleepEx(5, FALSE), 0u);
}

TEST_F(Win32Io, OneAlertableWaitDeliversEveryFinishedReadInOrder) {
    const HANDLE handle = openForReading(numberedW);
    ReadRecord first(8), second(8);
    ASSERT_TRUE(startRead(handle, first));
    ASSERT_TRUE(startRead(handle, second));
    source->send(numbered, {0x01, 0x01});
    source->send(numbered, {0x01, 0x02});
    ASSERT_TRUE(connectionDrained(handle));
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    if (second.completions.empty()) { // the second report may have finished after the wait began
        ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    }
    EXPECT_EQ(first.received(), (Bytes{0x01, 0x01}));
    EXPECT_EQ(second.received(), (Bytes{0x01, 0x02}));
}

TEST_F(Win32Io, CloseFromAnotherThreadEndsThePendingReadAtOnce) {
    const HANDLE handle = openForReading(numberedW);
    std::promise<void> started;
    auto reader = std::async(std::launch::async, [&] {
        ReadRecord read(8);
        if (!startRead(handle, read))
            throw std::runtime_error("read not started");
        started.set_value();
        const DWORD wait = SleepEx(60000, TRUE);
        DWORD count = 99;
        const BOOL result = GetOverlappedResult(handle, &read.overlapped, &count, FALSE);
        const DWORD error = GetLastError();
        EXPECT_EQ(wait, WAIT_IO_COMPLETION);
        EXPECT_FALSE(result);
        EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
        EXPECT_EQ(count, 0u);
        return read.completions;
    });
    started.get_future().wait();
    ASSERT_TRUE(CloseHandle(handle));
    opened.clear();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the waiting reader was not woken by the close";
    const auto completions = reader.get();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0], std::make_pair(ERROR_OPERATION_ABORTED, DWORD{0}));
}

TEST_F(Win32Io, CancelIoEndsOnlyTheCallingThreadsReads) {
    const HANDLE handle = openForReading(numberedW);
    ReadRecord mine(8);
    ASSERT_TRUE(startRead(handle, mine));
    std::promise<void> started;
    std::promise<void> cancelled;
    auto other = std::async(std::launch::async, [&] {
        ReadRecord theirs(8);
        startRead(handle, theirs);
        started.set_value();
        cancelled.get_future().wait();
        SleepEx(longWait, TRUE);
        return std::make_pair(theirs.completions, theirs.received());
    });
    started.get_future().wait();
    ASSERT_TRUE(CancelIo(handle));
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    ASSERT_EQ(mine.completions.size(), 1u);
    EXPECT_EQ(mine.completions[0], std::make_pair(ERROR_OPERATION_ABORTED, DWORD{0}));

    source->send(numbered, {0x03, 0x33});
    cancelled.set_value();
    const auto [completions, received] = other.get();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].first, ERROR_SUCCESS);
    EXPECT_EQ(received, (Bytes{0x03, 0x33}));
}

TEST_F(Win32Io, FullQueueDropsTheOldestAndCountsThem) {
    const HANDLE handle = openForReading(numberedW);
    EXPECT_EQ(platform::inputQueueCapacity(handle), 32u);
    EXPECT_FALSE(platform::setInputQueueCapacity(handle, 0));
    ASSERT_TRUE(platform::setInputQueueCapacity(handle, 4));
    for (std::uint8_t n = 1; n <= 10; ++n)
        source->send(numbered, {0x01, n});
    ASSERT_TRUE(eventually([&] { return platform::droppedInputReports(handle) == 6; }));

    for (std::uint8_t expected = 7; expected <= 10; ++expected) {
        ReadRecord read(8);
        ASSERT_TRUE(startRead(handle, read));
        ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
        EXPECT_EQ(read.received(), (Bytes{0x01, expected}));
    }
}

TEST_F(Win32Io, FlushEmptiesTheQueue) {
    const HANDLE handle = openForReading(numberedW);
    // A drained connection does not yet mean a queued report: the I/O thread may be between
    // the two. A drop from a queue of one does, for the report that pushed the other out.
    ASSERT_TRUE(platform::setInputQueueCapacity(handle, 1));
    source->send(numbered, {0x01, 0x01});
    source->send(numbered, {0x01, 0x02});
    ASSERT_TRUE(eventually([&] { return platform::droppedInputReports(handle) == 1; }));
    ASSERT_TRUE(platform::flushInputQueue(handle));
    ReadRecord read(8);
    ASSERT_TRUE(startRead(handle, read));
    EXPECT_EQ(SleepEx(5, TRUE), 0u);
    source->send(numbered, {0x01, 0x03});
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(read.received(), (Bytes{0x01, 0x03}));
}

TEST_F(Win32Io, ReportLongerThanTheBufferFailsTheReadAndStaysQueued) {
    const HANDLE handle = openForReading(numberedW);
    source->send(numbered, {0x01, 1, 2, 3, 4, 5, 6, 7});
    ReadRecord small(4);
    ASSERT_TRUE(startRead(handle, small));
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(small.completions[0], std::make_pair(ERROR_INVALID_USER_BUFFER, DWORD{0}));
    EXPECT_EQ(small.buffer, Bytes(4, 0xEE));

    ReadRecord large(8);
    ASSERT_TRUE(startRead(handle, large));
    ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(large.received(), (Bytes{0x01, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(Win32Io, VanishedDeviceDeliversQueuedReportsThenFailsAsNotConnected) {
    const HANDLE handle = open(numberedW, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    const HANDLE writer = handle;
    source->send(numbered, {0x01, 0xA1});
    source->send(numbered, {0x01, 0xA2});
    source->unplug(numbered);

    for (std::uint8_t expected : {0xA1, 0xA2}) {
        ReadRecord read(8);
        ASSERT_TRUE(startRead(handle, read));
        ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
        EXPECT_EQ(read.received(), (Bytes{0x01, expected}));
    }
    // Depending on when the hang-up is seen, the next read fails at once or on completion.
    ReadRecord afterUnplug(8);
    if (startRead(handle, afterUnplug)) {
        ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
        ASSERT_EQ(afterUnplug.completions.size(), 1u);
        EXPECT_EQ(afterUnplug.completions[0], std::make_pair(ERROR_DEVICE_NOT_CONNECTED, DWORD{0}));
    } else {
        EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    }
    ReadRecord later(8);
    EXPECT_FALSE(startRead(handle, later));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

    const Bytes report{0x01, 0x52};
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(writer, report.data(), 2, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(Win32Io, EachHandleHasItsOwnQueue) {
    const HANDLE first = openForReading(numberedW);
    source->send(numbered, {0x01, 0x01});
    const HANDLE second = openForReading(numberedW);
    source->send(numbered, {0x01, 0x02});
    ASSERT_TRUE(connectionDrained(second));
    ReadRecord fromFirst(8), fromSecond(8);
    ASSERT_TRUE(startRead(first, fromFirst));
    ASSERT_TRUE(startRead(second, fromSecond));
    while (fromFirst.completions.empty() || fromSecond.completions.empty())
        ASSERT_EQ(SleepEx(longWait, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(fromFirst.received(), (Bytes{0x01, 0x01}));
    EXPECT_EQ(fromSecond.received(), (Bytes{0x01, 0x02}));
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    const DWORD seenElsewhere = std::async(std::launch::async, [] {
                                    const DWORD before = GetLastError();
                                    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
                                    return before;
                                }).get();
    EXPECT_EQ(seenElsewhere, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

} // namespace

// A stopping thread is woken out of its alertable wait at once: the wait returns as if its
// time had run out, and an interrupt that comes before the wait ends the next one.
TEST(AlertableWait, InterruptEndsTheOwnersWaitWithoutACompletion) {
    std::promise<std::shared_ptr<platform::AlertableContext>> waits;
    auto result = std::async(std::launch::async, [&] {
        waits.set_value(platform::AlertableContext::current());
        return SleepEx(INFINITE, TRUE);
    });
    waits.get_future().get()->interrupt();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0u);

    platform::AlertableContext::current()->interrupt();
    EXPECT_EQ(SleepEx(INFINITE, TRUE), 0u);
}
