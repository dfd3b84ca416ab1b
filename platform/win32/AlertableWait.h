#pragma once
// The per-thread side of overlapped reads: each thread that starts a read has one context,
// where finished reads wait until that thread enters an alertable wait. Only the owning
// thread copies a finished read into its buffer and runs its completion routine.

#include "platform/win32/Win32.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// A read (or write) that has finished but whose owner has not yet been told.
struct FinishedRead {
    LPOVERLAPPED overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;
    void* buffer = nullptr;
    DWORD error = ERROR_SUCCESS;
    std::vector<std::uint8_t> report; // copied into buffer on delivery; empty on failure
    DWORD written = 0;                // a write's byte count; a read counts its report
};

class AlertableContext {
public:
    // The calling thread's context, made on first use; others hold it through their reads.
    static std::shared_ptr<AlertableContext> current();

    // From any thread: queues a finished read and wakes the owner's alertable wait at once.
    void post(FinishedRead read);
    // The same for several, in order, with one wake-up; the vector is left empty.
    void post(std::vector<FinishedRead>& reads);

    // From any thread: ends the owner's current alertable wait, or its next one, at once as if
    // its time had run out. A thread being stopped is woken this way instead of finishing its
    // wait slice.
    void interrupt();

    // On the owning thread: waits up to the given time (INFINITE: without limit) until at least
    // one read has finished, then delivers every finished read in order of finishing. Returns
    // how many were delivered; 0 when the time ran out or the wait was interrupted.
    std::size_t waitAndDeliver(DWORD milliseconds);

private:
    static void deliver(FinishedRead& read);

    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<FinishedRead> ready_;
    bool interrupted_ = false;
};

} // namespace platform
