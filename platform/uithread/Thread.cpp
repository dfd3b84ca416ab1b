#include "platform/uithread/Thread.h"

#include "platform/uithread/EventLoop.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <pthread.h>
#include <stdexcept>

namespace {

// Static initialisation runs on the thread that starts the process.
const std::thread::id mainThreadId = std::this_thread::get_id();

struct SyncRequest {
    std::function<void()> procedure;
    std::exception_ptr error;
    bool done = false;
    bool waited = true; // false for Queue: nobody takes the error
};

// One lock and one condition for the queue of synchronized procedures, their completion and
// the end of threads, so the UI thread's WaitFor wakes for whichever comes first.
struct SyncState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<SyncRequest>> queue;
};

// Never destroyed: a self-freeing thread may still wait in Synchronize when the process exits,
// and destroying the condition it waits on would block the exit for good.
SyncState& syncState() {
    static SyncState* state = new SyncState;
    return *state;
}

} // namespace

TThread::~TThread() {
    if (!started_.load())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // a self-freeing thread deleting itself
        return;
    }
    Terminate();
    waitUntilFinished();
}

void TThread::Start() {
    std::lock_guard lock(threadMutex_);
    if (started_.exchange(true))
        return;
    thread_ = std::thread([this] { run(); });
}

void TThread::Terminate() {
    terminated_.store(true);
    TerminatedSet();
}

void TThread::run() {
    {
        // Start() has stored thread_ before the body runs (and may delete the object).
        std::lock_guard lock(threadMutex_);
    }
    try {
        Execute();
    } catch (...) {
        fatalException_ = std::current_exception();
    }
    const bool freeSelf = FreeOnTerminate.load();
    auto& sync = syncState();
    {
        std::lock_guard lock(sync.mutex);
        finished_.store(true);
    }
    sync.changed.notify_all();
    if (freeSelf)
        delete this;
}

DWORD TThread::WaitFor() {
    if (!started_.load())
        return returnValue_;
    if (thread_.get_id() == std::this_thread::get_id())
        throw std::logic_error("a thread cannot wait for itself");
    if (FreeOnTerminate.load())
        throw std::logic_error("a self-freeing thread cannot be waited for");
    waitUntilFinished();
    return returnValue_;
}

void TThread::waitUntilFinished() {
    auto& sync = syncState();
    const bool serveSynchronize = platform::isMainThread();
    for (;;) {
        {
            std::unique_lock lock(sync.mutex);
            sync.changed.wait(lock, [&] {
                return finished_.load() || (serveSynchronize && !sync.queue.empty());
            });
            if (finished_.load())
                break;
        }
        CheckSynchronize();
    }
    join();
}

void TThread::join() {
    std::lock_guard lock(threadMutex_);
    if (thread_.joinable())
        thread_.join();
}

void TThread::Synchronize(const std::function<void()>& procedure) {
    if (platform::isMainThread()) {
        procedure();
        return;
    }
    auto request = std::make_shared<SyncRequest>();
    request->procedure = procedure;
    auto& sync = syncState();
    {
        std::lock_guard lock(sync.mutex);
        sync.queue.push_back(request);
    }
    sync.changed.notify_all();
    platform::wakeEventLoop();

    std::unique_lock lock(sync.mutex);
    sync.changed.wait(lock, [&] { return request->done; });
    if (request->error)
        std::rethrow_exception(request->error);
}

void TThread::Queue(std::function<void()> procedure) {
    auto request = std::make_shared<SyncRequest>();
    request->procedure = std::move(procedure);
    request->waited = false;
    auto& sync = syncState();
    {
        std::lock_guard lock(sync.mutex);
        sync.queue.push_back(std::move(request));
    }
    sync.changed.notify_all();
    platform::wakeEventLoop();
}

void TThread::NameThreadForDebugging(const std::string& name) {
    constexpr std::size_t keptByTheSystem = 15;
    ::pthread_setname_np(::pthread_self(), name.substr(0, keptByTheSystem).c_str());
}

bool CheckSynchronize() {
    if (!platform::isMainThread())
        return false;
    auto& sync = syncState();
    std::deque<std::shared_ptr<SyncRequest>> batch;
    {
        std::lock_guard lock(sync.mutex);
        batch.swap(sync.queue);
    }
    std::exception_ptr unwaitedError;
    for (auto& queued : batch) {
        auto request = std::move(queued);
        try {
            request->procedure();
        } catch (...) {
            request->error = std::current_exception();
        }
        if (!request->waited && request->error && !unwaitedError)
            unwaitedError = request->error;
        {
            // Let go before the caller can wake: the error and the procedure's captures are
            // then released on the calling thread, which is still using them.
            std::lock_guard lock(sync.mutex);
            request->done = true;
            request.reset();
        }
        sync.changed.notify_all();
    }
    if (unwaitedError)
        std::rethrow_exception(unwaitedError);
    return !batch.empty();
}

namespace platform {

bool isMainThread() {
    return std::this_thread::get_id() == mainThreadId;
}

bool HasQueuedSynchronize() {
    auto& sync = syncState();
    std::lock_guard lock(sync.mutex);
    return !sync.queue.empty();
}

} // namespace platform
