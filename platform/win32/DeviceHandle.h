#pragma once
// What a device handle stands for: the interface it was opened on, its report connection (read
// or write access only), its own input-report queue and the reads pending on it. Shared by
// the handle table, the I/O thread that fills the queue, and callers that looked it up, so a
// CloseHandle on one thread never pulls it from under another.

#include "platform/device/DeviceSource.h"
#include "platform/win32/AlertableWait.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// A read started with ReadFileEx and not yet finished.
struct PendingRead {
    std::shared_ptr<AlertableContext> owner;
    LPOVERLAPPED overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;
    void* buffer = nullptr;
    DWORD size = 0;
};

class DeviceHandle {
public:
    static constexpr std::size_t defaultQueueCapacity = 32;

    DeviceHandle(std::shared_ptr<const HidInterfaceInfo> info,
                 std::shared_ptr<HidConnection> connection, DWORD access, DWORD flags);

    const std::shared_ptr<const HidInterfaceInfo>& info() const { return info_; }
    const std::shared_ptr<HidConnection>& connection() const { return connection_; }
    bool canRead() const { return connection_ && (access_ & GENERIC_READ); }
    bool canWrite() const { return connection_ && (access_ & GENERIC_WRITE); }
    bool isOverlapped() const { return flags_ & FILE_FLAG_OVERLAPPED; }

    // From the I/O thread: reports arrived, oldest first (dropping the oldest when full; taken
    // from the vector, which is left empty), or the device went.
    void acceptReports(std::vector<std::vector<std::uint8_t>>& reports);
    void markGone(DWORD error);

    // Queues a read; false with the error when it cannot start (handle closed, device gone
    // with nothing left to read).
    bool startRead(PendingRead read, DWORD* error);
    // Ends pending reads with ERROR_OPERATION_ABORTED: those of one thread, or all (null).
    void cancelReads(const AlertableContext* owner);
    // Ends every pending read and refuses new ones.
    void close();

    bool setCapacity(std::size_t capacity);
    std::size_t capacity() const;
    void flush();
    std::uint64_t dropped() const;

private:
    void finishReadyReadsLocked();
    void cancelReadsLocked(const AlertableContext* owner);
    // Finished reads are collected, then posted to their owners in order, each owner's
    // consecutive ones in one post: whoever finishes reads ends with postFinishedLocked.
    void finishLocked(const PendingRead& read, FinishedRead finished);
    void postFinishedLocked();
    void dropOldestBeyondCapacityLocked();

    const std::shared_ptr<const HidInterfaceInfo> info_;
    const std::shared_ptr<HidConnection> connection_;
    const DWORD access_;
    const DWORD flags_;

    mutable std::mutex mutex_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::size_t capacity_ = defaultQueueCapacity;
    std::uint64_t dropped_ = 0;
    DWORD goneError_ = ERROR_SUCCESS; // set once the device has gone
    bool closed_ = false;
    std::deque<PendingRead> pending_;
    std::shared_ptr<AlertableContext> finishingOwner_;
    std::vector<FinishedRead> finishing_;
};

// The process's open handles. Handle values are never reused, so a stale one is simply unknown.
HANDLE registerHandle(std::shared_ptr<DeviceHandle> handle);
std::shared_ptr<DeviceHandle> lookupHandle(HANDLE handle);
std::shared_ptr<DeviceHandle> unregisterHandle(HANDLE handle);

} // namespace platform
