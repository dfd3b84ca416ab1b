// The Qt adapter: posted messages and synchronized procedures reach the UI thread through the
// Qt event loop, and a handler's error does not stop the work behind it.

#include "platform/uithread/Messages.h"
#include "platform/uithread/QtEventLoop.h"
#include "platform/uithread/Thread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <stdexcept>
#include <thread>

namespace {

class QtEventLoopTest : public ::testing::Test {
protected:
    // Runs the Qt event loop until condition holds; false after five seconds.
    template <class Condition> bool processEventsUntil(Condition condition) {
        QDeadlineTimer deadline(5000);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            10);
        }
        return true;
    }

    int argc = 1;
    char name[16] = "test_qtevents";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
};

TEST_F(QtEventLoopTest, DeliversMessagesPostedFromAnotherThread) {
    QtEventLoop loop;
    std::vector<TMessage> received;
    const HWND window = AllocateHWnd([&](TMessage& message) { received.push_back(message); });
    std::thread([] { platform::broadcastDeviceNodesChanged(); }).join();
    EXPECT_TRUE(processEventsUntil([&] { return !received.empty(); }));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Msg, WM_DEVICECHANGE);
    DeallocateHWnd(window);
}

TEST_F(QtEventLoopTest, RunsSynchronizedProceduresOnTheUiThread) {
    QtEventLoop loop;
    std::atomic<bool> onUiThread{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        TThread::Synchronize([&] { onUiThread = platform::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(processEventsUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onUiThread.load());
}

TEST_F(QtEventLoopTest, HandlerErrorGoesToTheErrorHookAndLaterMessagesStillArrive) {
    std::vector<std::string> errors;
    QtEventLoop loop([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& raised) {
            errors.emplace_back(raised.what());
        }
    });
    int delivered = 0;
    const HWND window = AllocateHWnd([&](TMessage& message) {
        ++delivered;
        if (message.WParam == 1)
            throw std::runtime_error("Device cannot be opened");
    });
    PostMessage(window, WM_USER, 1, 0);
    PostMessage(window, WM_USER, 2, 0);
    EXPECT_TRUE(processEventsUntil([&] { return delivered == 2; }));
    EXPECT_EQ(errors, std::vector<std::string>{"Device cannot be opened"});
    DeallocateHWnd(window);
}

} // namespace
