// The message window, the event-loop hook and TThread, with the plain queue pumped by the test
// on the main thread, which is the UI thread.

#include "platform/uithread/EventLoop.h"
#include "platform/uithread/Messages.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/Win32.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using testing_support::eventually;

namespace {

// Pumps the UI thread's queue until condition holds; false after five seconds.
template <class Condition> bool pumpUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        platform::PumpMessages();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        platform::WaitForPostedWork(10);
    }
}

class MessageWindow : public ::testing::Test {
protected:
    void SetUp() override {
        while (platform::PumpMessages()) {
        }
    }
    void TearDown() override {
        for (HWND window : windows)
            DeallocateHWnd(window);
    }
    HWND allocate(std::vector<TMessage>& received) {
        const HWND window = AllocateHWnd([&received](TMessage& message) {
            received.push_back(message);
            message.Result = DefWindowProc(nullptr, message.Msg, message.WParam, message.LParam);
        });
        windows.push_back(window);
        return window;
    }
    std::vector<HWND> windows;
};

TEST_F(MessageWindow, PostedMessageArrivesOnlyWhenTheQueueIsPumped) {
    std::vector<TMessage> received;
    const HWND window = allocate(received);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostMessage(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1));
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(platform::PumpMessages());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Msg, WM_DEVICECHANGE);
    EXPECT_EQ(received[0].WParam, DBT_DEVNODES_CHANGED);
    EXPECT_EQ(received[0].LParam, -1);
    EXPECT_FALSE(platform::PumpMessages());
}

TEST_F(MessageWindow, PostingToAnUnknownWindowFails) {
    std::vector<TMessage> received;
    const HWND window = allocate(received);
    DeallocateHWnd(window);
    EXPECT_FALSE(PostMessage(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessageWindow, MessagesForAWindowDeallocatedBeforeDeliveryAreDropped) {
    std::vector<TMessage> gone, staying;
    const HWND leaving = allocate(gone);
    const HWND remaining = allocate(staying);
    PostMessage(leaving, WM_USER, 1, 0);
    PostMessage(remaining, WM_USER, 2, 0);
    DeallocateHWnd(leaving);
    platform::PumpMessages();
    EXPECT_TRUE(gone.empty());
    ASSERT_EQ(staying.size(), 1u);
    EXPECT_EQ(staying[0].WParam, 2u);
}

TEST_F(MessageWindow, BroadcastFromAnotherThreadReachesEveryWindow) {
    std::vector<TMessage> first, second;
    allocate(first);
    allocate(second);
    std::thread([] { platform::broadcastDeviceNodesChanged(); }).join();
    ASSERT_TRUE(pumpUntil([&] { return !first.empty() && !second.empty(); }));
    for (const auto* received : {&first, &second}) {
        ASSERT_EQ(received->size(), 1u);
        EXPECT_EQ(received->front().Msg, WM_DEVICECHANGE);
        EXPECT_EQ(received->front().WParam, DBT_DEVNODES_CHANGED);
        EXPECT_EQ(received->front().LParam, 0);
    }
}

TEST_F(MessageWindow, HandlerThatRaisesLeavesLaterMessagesQueued) {
    int delivered = 0;
    const HWND window = AllocateHWnd([&](TMessage& message) {
        ++delivered;
        if (message.WParam == 1)
            throw std::runtime_error("handler failed");
    });
    windows.push_back(window);
    PostMessage(window, WM_USER, 1, 0);
    PostMessage(window, WM_USER, 2, 0);
    EXPECT_THROW(platform::PumpMessages(), std::runtime_error);
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(platform::PumpMessages());
    EXPECT_EQ(delivered, 2);
}

TEST_F(MessageWindow, MessagePostedByItsHandlerWaitsForTheNextPump) {
    int delivered = 0;
    HWND window = nullptr;
    window = AllocateHWnd([&](TMessage&) {
        ++delivered;
        PostMessage(window, WM_USER, 0, 0);
    });
    windows.push_back(window);
    PostMessage(window, WM_USER, 0, 0);
    platform::PumpMessages();
    EXPECT_EQ(delivered, 1);
    platform::PumpMessages();
    EXPECT_EQ(delivered, 2);
    DeallocateHWnd(window);
    EXPECT_FALSE(platform::PumpMessages());
}

TEST_F(MessageWindow, InstalledLoopIsWokenForMessagesAndSynchronize) {
    struct CountingLoop : platform::EventLoop {
        std::atomic<int> wakes{0};
        void wake() override { ++wakes; }
    } loop;
    platform::setEventLoop(&loop);
    std::vector<TMessage> received;
    const HWND window = allocate(received);
    std::thread([&] { PostMessage(window, WM_USER, 0, 0); }).join();
    EXPECT_EQ(loop.wakes.load(), 1);
    std::thread worker([] { TThread::Synchronize([] {}); });
    EXPECT_TRUE(eventually([&] { return loop.wakes.load() == 2; }));
    EXPECT_TRUE(pumpUntil([&] { return !received.empty(); }));
    worker.join();
    platform::setEventLoop(nullptr);
}

// A thread whose body is given as a function.
class FunctionThread : public TThread {
public:
    explicit FunctionThread(std::function<void(FunctionThread&)> body,
                            std::atomic<bool>* destroyed = nullptr)
        : body_(std::move(body)), destroyed_(destroyed) {}
    ~FunctionThread() override {
        Terminate();
        if (!FreeOnTerminate.load() && !Finished())
            WaitFor();
        if (destroyed_)
            destroyed_->store(true);
    }
    using TThread::Synchronize;
    bool terminateWasSignalled() const { return terminatedSet_.load(); }

protected:
    void Execute() override { body_(*this); }
    void TerminatedSet() override { terminatedSet_.store(true); }

private:
    std::function<void(FunctionThread&)> body_;
    std::atomic<bool>* destroyed_;
    std::atomic<bool> terminatedSet_{false};
};

TEST(Threads, SynchronizeRunsOnTheUiThreadAndCarriesErrorsBack) {
    std::atomic<bool> ranOnUiThread{false};
    std::string caught;
    FunctionThread thread([&](FunctionThread&) {
        TThread::Synchronize([&] { ranOnUiThread = platform::isMainThread(); });
        try {
            TThread::Synchronize([] { throw std::runtime_error("conversion failed"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
    });
    thread.Start();
    ASSERT_TRUE(pumpUntil([&] { return thread.Finished(); }));
    thread.WaitFor();
    EXPECT_TRUE(ranOnUiThread);
    EXPECT_EQ(caught, "conversion failed");
    EXPECT_EQ(thread.FatalException(), nullptr);
}

TEST(Threads, WaitForOnTheUiThreadServesSynchronize) {
    int calls = 0;
    FunctionThread thread([&](FunctionThread&) {
        for (int i = 0; i < 3; ++i)
            TThread::Synchronize([&] { ++calls; });
    });
    thread.Start();
    thread.WaitFor(); // would deadlock if the wait did not run the queued procedures
    EXPECT_EQ(calls, 3);
}

TEST(Threads, SynchronizeOnTheUiThreadRunsDirectly) {
    bool ran = false;
    TThread::Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(platform::HasQueuedSynchronize());
}

TEST(Threads, RaisingBodyLeavesItsErrorInFatalException) {
    FunctionThread thread([](FunctionThread&) { throw std::logic_error("reader failed"); });
    thread.Start();
    thread.WaitFor();
    ASSERT_NE(thread.FatalException(), nullptr);
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::logic_error);
}

TEST(Threads, TerminateIsSeenByTheBody) {
    std::atomic<bool> running{false};
    FunctionThread thread([&](FunctionThread& self) {
        running = true;
        while (!self.Terminated())
            SleepEx(1, TRUE);
    });
    thread.Start();
    ASSERT_TRUE(eventually([&] { return running.load(); }));
    thread.Terminate();
    EXPECT_TRUE(thread.terminateWasSignalled());
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(Threads, SelfFreeingThreadDeletesItselfAfterItsBody) {
    std::atomic<bool> destroyed{false};
    auto* thread =
        new FunctionThread([](FunctionThread&) { TThread::Synchronize([] {}); }, &destroyed);
    thread->FreeOnTerminate = true;
    thread->Start();
    EXPECT_TRUE(pumpUntil([&] { return destroyed.load(); }));
}

TEST(Threads, WaitsThatCannotEndAreRefused) {
    FunctionThread neverStarted([](FunctionThread&) {});
    EXPECT_EQ(neverStarted.WaitFor(), 0u);

    std::promise<void> release;
    auto released = release.get_future().share();
    FunctionThread selfWaiting([&](FunctionThread& self) {
        released.wait();
        EXPECT_THROW(self.WaitFor(), std::logic_error);
    });
    selfWaiting.Start();
    release.set_value();
    selfWaiting.WaitFor();
}

TEST(Threads, DestroyingARunningThreadStopsIt) {
    std::atomic<bool> running{false};
    std::atomic<bool> bodyEnded{false};
    auto thread = std::make_unique<FunctionThread>([&](FunctionThread& self) {
        running = true;
        while (!self.Terminated())
            SleepEx(1, TRUE);
        bodyEnded = true;
    });
    thread->Start();
    ASSERT_TRUE(eventually([&] { return running.load(); }));
    thread.reset();
    EXPECT_TRUE(bodyEnded.load());
}

} // namespace
