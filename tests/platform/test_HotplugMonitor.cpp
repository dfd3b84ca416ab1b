// The hot-plug monitor: when refreshes fall due (on a clock the tests move by hand), which event
// stream is chosen, and the monitor thread fed by a scripted stream.

#include "platform/sources/HotplugMonitor.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using testing_support::eventually;
using Kind = HotplugEvent::Kind;
using Due = RefreshSchedule::Due;
using std::chrono::milliseconds;

class RefreshScheduleTest : public ::testing::Test {
protected:
    RefreshSchedule::Clock::time_point at(int ms) const { return start + milliseconds(ms); }
    const RefreshSchedule::Clock::time_point start = RefreshSchedule::Clock::now();
};

TEST_F(RefreshScheduleTest, BurstOfChangesGivesOneRefreshOnceItGoesQuiet) {
    RefreshSchedule schedule(false, at(0));
    EXPECT_EQ(schedule.nextDeadline(), RefreshSchedule::Clock::time_point::max());
    for (int ms : {0, 10, 40}) {
        schedule.note(Kind::Change, at(ms));
        EXPECT_EQ(schedule.take(at(ms)), Due::Nothing);
    }
    EXPECT_EQ(schedule.nextDeadline(), at(40) + RefreshSchedule::quietPeriod);
    EXPECT_EQ(schedule.take(at(40) + RefreshSchedule::quietPeriod - milliseconds(1)), Due::Nothing);
    EXPECT_EQ(schedule.take(at(40) + RefreshSchedule::quietPeriod), Due::Refresh);
    EXPECT_EQ(schedule.take(at(5000)), Due::Nothing);
    EXPECT_EQ(schedule.nextDeadline(), RefreshSchedule::Clock::time_point::max());
}

TEST_F(RefreshScheduleTest, EventsOfOtherDevicesCauseNothing) {
    RefreshSchedule schedule(false, at(0));
    schedule.note(Kind::Unrelated, at(0));
    schedule.note(Kind::None, at(1));
    EXPECT_EQ(schedule.nextDeadline(), RefreshSchedule::Clock::time_point::max());
    EXPECT_EQ(schedule.take(at(5000)), Due::Nothing);
}

TEST_F(RefreshScheduleTest, StreamThatNeverGoesQuietStillRefreshesOncePerLongestDelay) {
    RefreshSchedule schedule(false, at(0));
    std::vector<int> refreshedAt;
    for (int ms = 0; ms <= 2500; ms += 50) {
        schedule.note(Kind::Change, at(ms));
        if (schedule.take(at(ms)) == Due::Refresh)
            refreshedAt.push_back(ms);
    }
    const int longest = static_cast<int>(
        std::chrono::duration_cast<milliseconds>(RefreshSchedule::longestDelay).count());
    EXPECT_EQ(refreshedAt, (std::vector<int>{longest, 2 * longest + 50}));
}

TEST_F(RefreshScheduleTest, LostEventsRefreshAtOnceAndCoverTheBurstInProgress) {
    RefreshSchedule schedule(false, at(0));
    schedule.note(Kind::Change, at(0));
    schedule.note(Kind::Overflow, at(5));
    EXPECT_LE(schedule.nextDeadline(), at(5));
    EXPECT_EQ(schedule.take(at(5)), Due::Refresh);
    EXPECT_EQ(schedule.take(at(1000)), Due::Nothing);
    EXPECT_FALSE(schedule.polling());
}

TEST_F(RefreshScheduleTest, BrokenStreamRefreshesAtOnceThenComparesOncePerSecond) {
    RefreshSchedule schedule(false, at(0));
    schedule.note(Kind::Failure, at(100));
    EXPECT_TRUE(schedule.polling());
    EXPECT_EQ(schedule.take(at(100)), Due::Refresh);
    EXPECT_EQ(schedule.nextDeadline(), at(100) + RefreshSchedule::pollInterval);
    EXPECT_EQ(schedule.take(at(100) + RefreshSchedule::pollInterval - milliseconds(1)),
              Due::Nothing);
    EXPECT_EQ(schedule.take(at(100) + RefreshSchedule::pollInterval), Due::CompareList);
    EXPECT_EQ(schedule.nextDeadline(), at(100) + 2 * RefreshSchedule::pollInterval);
}

TEST_F(RefreshScheduleTest, PollingComparesTheListOncePerInterval) {
    RefreshSchedule schedule(true, at(0));
    int compares = 0;
    for (int ms = 0; ms <= 3500; ms += 100)
        compares += schedule.take(at(ms)) == Due::CompareList;
    EXPECT_EQ(compares, 3);
}

// A stream of events the test scripts; readable while any wait, like a netlink socket.
class ScriptedEvents : public HotplugEventSource {
public:
    explicit ScriptedEvents(HotplugMode mode) : mode_(mode) {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~ScriptedEvents() override {
        ::close(pipe_[0]);
        closeWriteEnd();
    }

    HotplugMode mode() const override { return mode_; }
    int fd() const override { return pipe_[0]; }
    HotplugEvent next() override {
        char token;
        if (::read(pipe_[0], &token, 1) != 1)
            return {};
        std::lock_guard lock(mutex_);
        HotplugEvent event = std::move(waiting_.front());
        waiting_.pop_front();
        return event;
    }

    // All of them become readable at once, as one burst.
    void push(std::vector<HotplugEvent> events) {
        std::lock_guard lock(mutex_);
        waiting_.insert(waiting_.end(), events.begin(), events.end());
        const std::string tokens(events.size(), 'e');
        if (::write(pipe_[1], tokens.data(), tokens.size()) != static_cast<ssize_t>(events.size()))
            throw std::runtime_error("pipe write failed");
    }
    // The stream breaks without a word: the read end hangs up with nothing to read.
    void closeWriteEnd() {
        std::lock_guard lock(mutex_);
        if (pipe_[1] >= 0)
            ::close(pipe_[1]);
        pipe_[1] = -1;
    }

private:
    const HotplugMode mode_;
    int pipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<HotplugEvent> waiting_;
};

// What the monitor told, and the node list it is shown.
struct RecordingListener {
    HotplugMonitor::Listener listener() {
        return {[this] {
                    std::lock_guard lock(mutex);
                    return nodes;
                },
                [this](const std::string& node) {
                    std::lock_guard lock(mutex);
                    removed.push_back(node);
                },
                [this] { ++refreshes; }};
    }
    void setNodes(std::vector<std::string> now) {
        std::lock_guard lock(mutex);
        nodes = std::move(now);
    }
    std::vector<std::string> removedNodes() {
        std::lock_guard lock(mutex);
        return removed;
    }

    std::mutex mutex;
    std::vector<std::string> nodes{"/sys/hidraw0"};
    std::vector<std::string> removed;
    std::atomic<int> refreshes{0};
};

class HotplugMonitorTest : public ::testing::Test {
protected:
    void startWithStream(HotplugMode mode) {
        auto owned = std::make_unique<ScriptedEvents>(mode);
        events = owned.get();
        monitor = std::make_unique<HotplugMonitor>(std::move(owned), recorder.listener());
    }

    RecordingListener recorder;
    ScriptedEvents* events = nullptr;
    std::unique_ptr<HotplugMonitor> monitor;
};

TEST_F(HotplugMonitorTest, BurstFromOnePlugInBecomesOneRefresh) {
    startWithStream(HotplugMode::UdevEvents);
    events->push({{Kind::Change, {}},
                  {Kind::Unrelated, {}},
                  {Kind::Change, "/sys/hidraw1"},
                  {Kind::Change, {}}});
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 1; }));
    EXPECT_EQ(recorder.removedNodes(), std::vector<std::string>{"/sys/hidraw1"});
    // The next event starts a burst of its own.
    events->push({{Kind::Overflow, {}}});
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 2; }));
    EXPECT_EQ(monitor->mode(), HotplugMode::UdevEvents);
}

TEST_F(HotplugMonitorTest, BrokenStreamRefreshesAndFallsBackToPolling) {
    startWithStream(HotplugMode::KernelEvents);
    events->push({{Kind::Failure, {}}});
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 1; }));
    EXPECT_EQ(monitor->mode(), HotplugMode::Polling);
    recorder.setNodes({"/sys/hidraw0", "/sys/hidraw1"});
    EXPECT_TRUE(eventually([&] { return recorder.refreshes == 2; }));
}

TEST_F(HotplugMonitorTest, StreamThatHangsUpSilentlyCountsAsBroken) {
    startWithStream(HotplugMode::KernelEvents);
    events->closeWriteEnd();
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 1; }));
    EXPECT_EQ(monitor->mode(), HotplugMode::Polling);
}

TEST_F(HotplugMonitorTest, WithoutAStreamSeesPlugAndUnplugByComparingTheList) {
    monitor = std::make_unique<HotplugMonitor>(nullptr, recorder.listener());
    EXPECT_EQ(monitor->mode(), HotplugMode::Polling);
    recorder.setNodes({});
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 1; }));
    recorder.setNodes({"/sys/hidraw0"});
    ASSERT_TRUE(eventually([&] { return recorder.refreshes == 2; }));
    EXPECT_TRUE(recorder.removedNodes().empty());
}

// Opens whatever it is told to allow, and records what it was asked for.
struct FakeOpeners {
    HotplugOpeners openers() {
        return {[this] { return daemonRunning; },
                [this](HotplugMode mode) -> std::unique_ptr<HotplugEventSource> {
                    asked.push_back(mode);
                    const bool allowed =
                        mode == HotplugMode::UdevEvents ? udevAllowed : kernelAllowed;
                    return allowed ? std::make_unique<ScriptedEvents>(mode) : nullptr;
                }};
    }
    bool daemonRunning = true;
    bool udevAllowed = true;
    bool kernelAllowed = true;
    std::vector<HotplugMode> asked;
};

TEST(HotplugEventChoice, PrefersTheUdevDaemonThenTheKernelThenNothing) {
    constexpr auto udev = HotplugMode::UdevEvents;
    constexpr auto kernel = HotplugMode::KernelEvents;
    struct Case {
        const char* name;
        bool daemonRunning, udevAllowed, kernelAllowed;
        std::optional<HotplugMode> expected;
        std::vector<HotplugMode> asked;
    };
    const Case cases[] = {
        {"daemon running", true, true, true, udev, {udev}},
        {"no daemon (container)", false, true, true, kernel, {kernel}},
        {"daemon's stream refused", true, false, true, kernel, {udev, kernel}},
        {"netlink refused", false, false, false, std::nullopt, {kernel}},
    };
    for (const Case& c : cases) {
        FakeOpeners fake{c.daemonRunning, c.udevAllowed, c.kernelAllowed, {}};
        const auto events = openHotplugEvents(fake.openers());
        EXPECT_EQ(events ? std::optional(events->mode()) : std::nullopt, c.expected) << c.name;
        EXPECT_EQ(fake.asked, c.asked) << c.name;
    }
}

} // namespace
} // namespace platform
