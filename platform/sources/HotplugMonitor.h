#pragma once
// Turns a stream of device events into refreshes of the device list, on a thread of its own.
//
// Events come in bursts (one plug-in announces several nodes, and the udev daemon announces each
// once its rules are applied), so a refresh waits for a short quiet spell after the last event.
// When events may have been lost (the socket overflowed) or the stream breaks, the list is
// refreshed at once: whoever holds the old list compares it with the new one, so nothing is
// ever taken as removed on the strength of a lost event. A broken stream is not reopened; the
// monitor compares the list once a second from then on, as it does where no stream exists.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// Where hot-plug news comes from, best first.
enum class HotplugMode {
    UdevEvents,   // the udev daemon's processed events: nodes announced with their rules applied
    KernelEvents, // the kernel's own events, where no udev daemon runs (containers)
    Polling,      // no event stream at all: the list is compared once a second
};
// "udev", "kernel" or "polling".
const char* hotplugModeName(HotplugMode mode);

struct HotplugEvent {
    enum class Kind {
        None,      // nothing waiting
        Change,    // a node of the watched kind came, went or changed
        Unrelated, // some other device
        Overflow,  // events were lost
        Failure,   // the stream is broken
    };
    Kind kind = Kind::None;
    std::string removedNode; // for a removal: the node that went
};

class HotplugEventSource {
public:
    virtual ~HotplugEventSource() = default;
    virtual HotplugMode mode() const = 0;
    // Polls readable (or in error) while events wait.
    virtual int fd() const = 0;
    // Takes the next waiting event without blocking.
    virtual HotplugEvent next() = 0;
};

// How this machine's streams are reached; tests put their own in.
struct HotplugOpeners {
    std::function<bool()> udevDaemonRunning;
    // The stream of the mode asked for (never Polling), or null when the system refuses it.
    std::function<std::unique_ptr<HotplugEventSource>(HotplugMode)> open;
};
// The udev daemon's events where it runs, else the kernel's; null when neither can be had.
std::unique_ptr<HotplugEventSource> openHotplugEvents(const HotplugOpeners& openers);

// When to refresh, given the events so far; pure bookkeeping with the time passed in.
class RefreshSchedule {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration quietPeriod = std::chrono::milliseconds(150);
    // A stream that never goes quiet still refreshes this long after its first event.
    static constexpr Clock::duration longestDelay = std::chrono::seconds(1);
    static constexpr Clock::duration pollInterval = std::chrono::seconds(1);

    enum class Due { Nothing, Refresh, CompareList };

    RefreshSchedule(bool polling, Clock::time_point now);
    void note(HotplugEvent::Kind kind, Clock::time_point now);
    // Until when nothing can fall due; Clock::time_point::max() while nothing is awaited.
    Clock::time_point nextDeadline() const;
    // What falls due at now; once returned, it is done.
    Due take(Clock::time_point now);
    bool polling() const { return polling_; }

private:
    bool polling_;
    Clock::time_point nextPoll_;
    bool refreshNow_ = false;
    bool burstOpen_ = false;
    Clock::time_point burstStart_;
    Clock::time_point lastEvent_;
};

class HotplugMonitor {
public:
    struct Listener {
        std::function<std::vector<std::string>()> listNodes; // compared from poll to poll
        std::function<void(const std::string&)> nodeRemoved;
        std::function<void()> refresh;
    };

    // events null: poll from the start.
    HotplugMonitor(std::unique_ptr<HotplugEventSource> events, Listener listener);
    ~HotplugMonitor();
    HotplugMonitor(const HotplugMonitor&) = delete;
    HotplugMonitor& operator=(const HotplugMonitor&) = delete;

    HotplugMode mode() const { return mode_; }

private:
    void run();
    void takeEvents(RefreshSchedule& schedule, bool streamInError);
    void dropEventStream();
    void act(RefreshSchedule::Due due);

    std::unique_ptr<HotplugEventSource> events_;
    const Listener listener_;
    std::atomic<HotplugMode> mode_;
    std::vector<std::string> lastNodes_;
    int stopFd_ = -1;
    std::thread thread_;
};

} // namespace platform
