#include "platform/win32/DeviceHandle.h"

#include <unordered_map>

namespace platform {

DeviceHandle::DeviceHandle(std::shared_ptr<const HidInterfaceInfo> info,
                           std::shared_ptr<HidConnection> connection, DWORD access, DWORD flags)
    : info_(std::move(info)), connection_(std::move(connection)), access_(access), flags_(flags) {}

void DeviceHandle::acceptReports(std::vector<std::vector<std::uint8_t>>& reports) {
    std::lock_guard lock(mutex_);
    if (!closed_) {
        // Pending reads take reports as they come, so a burst fills the reads before the queue.
        for (auto& report : reports) {
            queue_.push_back(std::move(report));
            dropOldestBeyondCapacityLocked();
            finishReadyReadsLocked();
        }
        postFinishedLocked();
    }
    reports.clear();
}

void DeviceHandle::markGone(DWORD error) {
    std::lock_guard lock(mutex_);
    if (goneError_ == ERROR_SUCCESS)
        goneError_ = error;
    finishReadyReadsLocked();
    postFinishedLocked();
}

bool DeviceHandle::startRead(PendingRead read, DWORD* error) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (queue_.empty() && goneError_ != ERROR_SUCCESS) {
        *error = goneError_;
        return false;
    }
    pending_.push_back(std::move(read));
    finishReadyReadsLocked();
    postFinishedLocked();
    return true;
}

void DeviceHandle::cancelReads(const AlertableContext* owner) {
    std::lock_guard lock(mutex_);
    cancelReadsLocked(owner);
}

void DeviceHandle::cancelReadsLocked(const AlertableContext* owner) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (owner && it->owner.get() != owner) {
            ++it;
            continue;
        }
        finishLocked(*it, {it->overlapped, it->routine, it->buffer, ERROR_OPERATION_ABORTED, {}});
        it = pending_.erase(it);
    }
    postFinishedLocked();
}

void DeviceHandle::close() {
    std::lock_guard lock(mutex_);
    cancelReadsLocked(nullptr);
    closed_ = true;
    queue_.clear();
}

bool DeviceHandle::setCapacity(std::size_t capacity) {
    if (capacity == 0)
        return false;
    std::lock_guard lock(mutex_);
    capacity_ = capacity;
    dropOldestBeyondCapacityLocked();
    return true;
}

std::size_t DeviceHandle::capacity() const {
    std::lock_guard lock(mutex_);
    return capacity_;
}

void DeviceHandle::flush() {
    std::lock_guard lock(mutex_);
    queue_.clear();
}

std::uint64_t DeviceHandle::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

// Pairs pending reads, oldest first, with queued reports; once the device has gone and the
// queue is empty, the remaining reads fail with the device's error.
void DeviceHandle::finishReadyReadsLocked() {
    while (!pending_.empty() && (!queue_.empty() || goneError_ != ERROR_SUCCESS)) {
        PendingRead read = std::move(pending_.front());
        pending_.pop_front();
        FinishedRead finished{read.overlapped, read.routine, read.buffer, ERROR_SUCCESS, {}};
        if (queue_.empty()) {
            finished.error = goneError_;
        } else if (queue_.front().size() > read.size) {
            finished.error = ERROR_INVALID_USER_BUFFER;
        } else {
            finished.report = std::move(queue_.front());
            queue_.pop_front();
        }
        finishLocked(read, std::move(finished));
    }
}

void DeviceHandle::finishLocked(const PendingRead& read, FinishedRead finished) {
    if (finishingOwner_ != read.owner)
        postFinishedLocked();
    finishingOwner_ = read.owner;
    finishing_.push_back(std::move(finished));
}

void DeviceHandle::postFinishedLocked() {
    if (!finishing_.empty())
        finishingOwner_->post(finishing_);
    finishingOwner_.reset();
}

void DeviceHandle::dropOldestBeyondCapacityLocked() {
    while (queue_.size() > capacity_) {
        queue_.pop_front();
        ++dropped_;
    }
}

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<DeviceHandle>> handles;
    // Multiples of 4 from a base no small integer or INVALID_HANDLE_VALUE can be mistaken for.
    std::uintptr_t nextValue = 0x10000;
};

HandleTable& handleTable() {
    static HandleTable table;
    return table;
}

} // namespace

HANDLE registerHandle(std::shared_ptr<DeviceHandle> handle) {
    auto& table = handleTable();
    std::lock_guard lock(table.mutex);
    const std::uintptr_t value = table.nextValue;
    table.nextValue += 4;
    table.handles.emplace(value, std::move(handle));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<DeviceHandle> lookupHandle(HANDLE handle) {
    auto& table = handleTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == table.handles.end() ? nullptr : it->second;
}

std::shared_ptr<DeviceHandle> unregisterHandle(HANDLE handle) {
    auto& table = handleTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.handles.end())
        return nullptr;
    auto found = std::move(it->second);
    table.handles.erase(it);
    return found;
}

} // namespace platform
