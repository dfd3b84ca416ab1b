#pragma once
// The hidden message window of that system: a handler that receives messages posted to it on
// the UI thread, and the device-change broadcast that reaches every such window.

#include "platform/win32/WinTypes.h"

#include <functional>

using HWND = struct HWND__*;
using WPARAM = ULONG_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT WM_USER = 0x0400;
constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;

// One message as a window handler receives it; the handler sets Result.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

// On the UI thread: a window whose messages go to handler. Never null.
HWND AllocateHWnd(TWndMethod handler);
// Messages still queued for the window are dropped; an unknown window is ignored.
void DeallocateHWnd(HWND window);
// From any thread: queues the message for delivery on the UI thread (PumpMessages) and wakes
// the event loop. FALSE with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// The default handling of every message: nothing, with result 0.
LRESULT DefWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

namespace platform {

// From any thread: posts WM_DEVICECHANGE with DBT_DEVNODES_CHANGED and lParam 0 to every
// message window, as the system does when device nodes come or go.
void broadcastDeviceNodesChanged();

// Used by PumpMessages: delivers the messages queued when it began; whether any was delivered.
bool DeliverPostedMessages();
bool HasPostedMessages();

} // namespace platform
