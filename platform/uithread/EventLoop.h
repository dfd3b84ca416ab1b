#pragma once
// How work posted from any thread reaches the UI thread: window messages (Messages.h) and
// synchronized procedures (Thread.h). Whoever runs the UI thread's loop installs an EventLoop;
// it is woken whenever work is posted and then calls PumpMessages() on the UI thread. The Qt
// adapter (qt/QtEventLoop.h) is one; without one, the owner of the UI thread pumps by itself,
// waiting with WaitForPostedWork.

#include "platform/win32/WinTypes.h"

namespace platform {

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Called from any thread, possibly many times before the loop gets round to pumping.
    virtual void wake() = 0;
};

// Installs the loop to wake (null: none). The caller keeps ownership and uninstalls it
// before destroying it; after this returns, the previous loop is no longer called.
void setEventLoop(EventLoop* loop);

// Tells the installed loop and any WaitForPostedWork that work was posted.
void wakeEventLoop();

// On the UI thread: delivers the window messages posted so far, then runs the queued
// synchronized procedures. Returns whether anything was done. An exception raised by a message
// handler propagates; the messages behind it stay queued for the next call.
bool PumpMessages();

// Waits up to the given time until messages or synchronized procedures are waiting; returns
// whether any are.
bool WaitForPostedWork(DWORD milliseconds);

} // namespace platform
