#include "platform/sources/HotplugMonitor.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

using Clock = RefreshSchedule::Clock;

// Events taken per wake-up, so a storm of them cannot keep the stop request waiting.
constexpr int maxEventsPerWake = 64;

int pollTimeoutUntil(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max())
        return -1;
    const auto now = Clock::now();
    if (deadline <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    return static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
}

} // namespace

const char* hotplugModeName(HotplugMode mode) {
    switch (mode) {
    case HotplugMode::UdevEvents:
        return "udev";
    case HotplugMode::KernelEvents:
        return "kernel";
    case HotplugMode::Polling:
        break;
    }
    return "polling";
}

std::unique_ptr<HotplugEventSource> openHotplugEvents(const HotplugOpeners& openers) {
    if (openers.udevDaemonRunning()) {
        if (auto events = openers.open(HotplugMode::UdevEvents))
            return events;
    }
    return openers.open(HotplugMode::KernelEvents);
}

RefreshSchedule::RefreshSchedule(bool polling, Clock::time_point now)
    : polling_(polling), nextPoll_(now + pollInterval) {}

void RefreshSchedule::note(HotplugEvent::Kind kind, Clock::time_point now) {
    switch (kind) {
    case HotplugEvent::Kind::Change:
        if (!burstOpen_)
            burstStart_ = now;
        burstOpen_ = true;
        lastEvent_ = now;
        break;
    case HotplugEvent::Kind::Failure:
        polling_ = true;
        nextPoll_ = now + pollInterval;
        [[fallthrough]];
    case HotplugEvent::Kind::Overflow:
        refreshNow_ = true;
        break;
    case HotplugEvent::Kind::None:
    case HotplugEvent::Kind::Unrelated:
        break;
    }
}

Clock::time_point RefreshSchedule::nextDeadline() const {
    if (refreshNow_)
        return Clock::time_point::min();
    Clock::time_point deadline = Clock::time_point::max();
    if (burstOpen_)
        deadline = std::min(lastEvent_ + quietPeriod, burstStart_ + longestDelay);
    if (polling_)
        deadline = std::min(deadline, nextPoll_);
    return deadline;
}

// A refresh also ends any burst in progress: the listing it causes sees what the burst did.
RefreshSchedule::Due RefreshSchedule::take(Clock::time_point now) {
    const bool burstOver =
        burstOpen_ && now >= std::min(lastEvent_ + quietPeriod, burstStart_ + longestDelay);
    if (refreshNow_ || burstOver) {
        refreshNow_ = false;
        burstOpen_ = false;
        return Due::Refresh;
    }
    if (polling_ && now >= nextPoll_) {
        nextPoll_ = now + pollInterval;
        return Due::CompareList;
    }
    return Due::Nothing;
}

HotplugMonitor::HotplugMonitor(std::unique_ptr<HotplugEventSource> events, Listener listener)
    : events_(std::move(events)), listener_(std::move(listener)),
      mode_(events_ ? events_->mode() : HotplugMode::Polling),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (stopFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "hot-plug monitor");
    if (!events_)
        lastNodes_ = listener_.listNodes();
    thread_ = std::thread([this] { run(); });
}

HotplugMonitor::~HotplugMonitor() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
}

void HotplugMonitor::run() {
    RefreshSchedule schedule(!events_, Clock::now());
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {events_ ? events_->fd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, pollTimeoutUntil(schedule.nextDeadline()));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents != 0)
            takeEvents(schedule, (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0);
        act(schedule.take(Clock::now()));
    }
}

// A stream in error that yields nothing will never yield anything: it counts as broken.
void HotplugMonitor::takeEvents(RefreshSchedule& schedule, bool streamInError) {
    for (int taken = 0; taken < maxEventsPerWake; ++taken) {
        HotplugEvent event = events_->next();
        if (event.kind == HotplugEvent::Kind::None && taken == 0 && streamInError)
            event.kind = HotplugEvent::Kind::Failure;
        if (event.kind == HotplugEvent::Kind::None)
            return;
        if (!event.removedNode.empty())
            listener_.nodeRemoved(event.removedNode);
        schedule.note(event.kind, Clock::now());
        if (event.kind == HotplugEvent::Kind::Failure) {
            dropEventStream();
            return;
        }
    }
}

void HotplugMonitor::dropEventStream() {
    events_.reset();
    mode_ = HotplugMode::Polling;
    lastNodes_ = listener_.listNodes();
}

void HotplugMonitor::act(RefreshSchedule::Due due) {
    if (due == RefreshSchedule::Due::Refresh) {
        listener_.refresh();
        return;
    }
    if (due != RefreshSchedule::Due::CompareList)
        return;
    auto nodes = listener_.listNodes();
    if (nodes == lastNodes_)
        return;
    lastNodes_ = std::move(nodes);
    listener_.refresh();
}

} // namespace platform
