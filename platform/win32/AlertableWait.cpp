#include "platform/win32/AlertableWait.h"

#include "platform/win32/ErrnoMap.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace platform {

std::shared_ptr<AlertableContext> AlertableContext::current() {
    thread_local const auto context = std::make_shared<AlertableContext>();
    return context;
}

void AlertableContext::post(FinishedRead read) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(read));
    }
    finished_.notify_all();
}

void AlertableContext::post(std::vector<FinishedRead>& reads) {
    {
        std::lock_guard lock(mutex_);
        ready_.insert(ready_.end(), std::make_move_iterator(reads.begin()),
                      std::make_move_iterator(reads.end()));
    }
    reads.clear();
    finished_.notify_all();
}

void AlertableContext::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    finished_.notify_all();
}

std::size_t AlertableContext::waitAndDeliver(DWORD milliseconds) {
    std::deque<FinishedRead> batch;
    {
        std::unique_lock lock(mutex_);
        const auto wakeUp = [this] { return !ready_.empty() || interrupted_; };
        if (milliseconds == INFINITE)
            finished_.wait(lock, wakeUp);
        else
            finished_.wait_for(lock, std::chrono::milliseconds(milliseconds), wakeUp);
        if (std::exchange(interrupted_, false) || ready_.empty())
            return 0;
        batch.swap(ready_);
    }
    std::size_t delivered = 0;
    while (!batch.empty()) {
        FinishedRead read = std::move(batch.front());
        batch.pop_front();
        try {
            deliver(read);
        } catch (...) {
            // A routine that throws must not lose the completions behind it.
            std::lock_guard lock(mutex_);
            ready_.insert(ready_.begin(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
            throw;
        }
        ++delivered;
    }
    return delivered;
}

void AlertableContext::deliver(FinishedRead& read) {
    if (!read.report.empty())
        std::memcpy(read.buffer, read.report.data(), read.report.size());
    const auto count = read.report.empty() ? read.written : static_cast<DWORD>(read.report.size());
    read.overlapped->InternalHigh = count;
    read.overlapped->Internal = static_cast<DWORD>(ntStatusFromWin32Error(read.error));
    if (read.routine)
        read.routine(read.error, count, read.overlapped);
}

} // namespace platform
