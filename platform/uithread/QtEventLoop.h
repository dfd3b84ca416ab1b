#pragma once
// Runs the platform layer's posted work on the Qt event loop: window messages and the
// procedures of TThread::Synchronize. Create one on the UI thread once the QCoreApplication
// exists; it installs itself for as long as it lives.

#include "platform/uithread/EventLoop.h"

#include <QObject>
#include <atomic>
#include <exception>
#include <functional>

class QtEventLoop : public QObject, public platform::EventLoop {
public:
    // onError receives what a message handler raised (the loop's default error handling);
    // without one it is written to stderr.
    explicit QtEventLoop(std::function<void(std::exception_ptr)> onError = {},
                         QObject* parent = nullptr);
    ~QtEventLoop() override;

    // From any thread; wake-ups before the pump runs are folded into one event.
    void wake() override;

protected:
    bool event(QEvent* event) override;

private:
    void pump();

    std::function<void(std::exception_ptr)> onError_;
    std::atomic<bool> wakePosted_{false};
};
