#include "platform/uithread/EventLoop.h"

#include "platform/uithread/Messages.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/Win32.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

namespace {

struct LoopState {
    std::mutex loopMutex; // held while the installed loop is called, so it can be uninstalled
    EventLoop* loop = nullptr;
    std::mutex waitMutex;
    std::condition_variable posted;
};

// Never destroyed: a device source's thread may still post while the process exits.
LoopState& loopState() {
    static LoopState* state = new LoopState;
    return *state;
}

bool workIsWaiting() {
    return HasPostedMessages() || HasQueuedSynchronize();
}

} // namespace

void setEventLoop(EventLoop* loop) {
    auto& state = loopState();
    std::lock_guard lock(state.loopMutex);
    state.loop = loop;
}

void wakeEventLoop() {
    auto& state = loopState();
    {
        std::lock_guard lock(state.loopMutex);
        if (state.loop)
            state.loop->wake();
    }
    {
        // Taken so a waiter between its check and its wait cannot miss this notification.
        std::lock_guard lock(state.waitMutex);
    }
    state.posted.notify_all();
}

bool PumpMessages() {
    const bool delivered = DeliverPostedMessages();
    const bool synchronized = CheckSynchronize();
    return delivered || synchronized;
}

bool WaitForPostedWork(DWORD milliseconds) {
    auto& state = loopState();
    std::unique_lock lock(state.waitMutex);
    if (milliseconds == INFINITE) {
        state.posted.wait(lock, workIsWaiting);
        return true;
    }
    return state.posted.wait_for(lock, std::chrono::milliseconds(milliseconds), workIsWaiting);
}

} // namespace platform
