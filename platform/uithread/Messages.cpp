#include "platform/uithread/Messages.h"

#include "platform/uithread/EventLoop.h"
#include "platform/win32/Win32.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct PostedMessage {
    std::uintptr_t window;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct MessageWindows {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<const TWndMethod>> handlers;
    std::deque<PostedMessage> queue;
    std::uintptr_t nextWindow = 0x20000; // multiples of 4, never null
};

MessageWindows& windows() {
    static MessageWindows instance;
    return instance;
}

std::uintptr_t idOf(HWND window) {
    return reinterpret_cast<std::uintptr_t>(window);
}

// Takes the next queued message together with its window's handler, which stays alive for the
// call even if the handler deallocates its own window. Null handler: window gone, dropped.
bool takeNext(PostedMessage* message, std::shared_ptr<const TWndMethod>* handler) {
    auto& all = windows();
    std::lock_guard lock(all.mutex);
    if (all.queue.empty())
        return false;
    *message = all.queue.front();
    all.queue.pop_front();
    const auto it = all.handlers.find(message->window);
    *handler = it == all.handlers.end() ? nullptr : it->second;
    return true;
}

} // namespace

HWND AllocateHWnd(TWndMethod handler) {
    auto& all = windows();
    std::lock_guard lock(all.mutex);
    const std::uintptr_t id = all.nextWindow;
    all.nextWindow += 4;
    all.handlers.emplace(id, std::make_shared<const TWndMethod>(std::move(handler)));
    return reinterpret_cast<HWND>(id);
}

void DeallocateHWnd(HWND window) {
    auto& all = windows();
    std::lock_guard lock(all.mutex);
    all.handlers.erase(idOf(window));
}

BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        auto& all = windows();
        std::lock_guard lock(all.mutex);
        if (!all.handlers.contains(idOf(window))) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        all.queue.push_back({idOf(window), msg, wParam, lParam});
    }
    platform::wakeEventLoop();
    return TRUE;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

namespace platform {

void broadcastDeviceNodesChanged() {
    {
        auto& all = windows();
        std::lock_guard lock(all.mutex);
        for (const auto& [id, handler] : all.handlers)
            all.queue.push_back({id, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0});
    }
    wakeEventLoop();
}

bool DeliverPostedMessages() {
    std::size_t waiting;
    {
        auto& all = windows();
        std::lock_guard lock(all.mutex);
        waiting = all.queue.size();
    }
    // Only what was queued at the start: a handler that posts to itself runs again next time.
    bool delivered = false;
    PostedMessage message{};
    std::shared_ptr<const TWndMethod> handler;
    for (; waiting > 0 && takeNext(&message, &handler); --waiting) {
        if (!handler || !*handler)
            continue;
        TMessage record{message.msg, message.wParam, message.lParam, 0};
        delivered = true;
        (*handler)(record);
    }
    return delivered;
}

bool HasPostedMessages() {
    auto& all = windows();
    std::lock_guard lock(all.mutex);
    return !all.queue.empty();
}

} // namespace platform
