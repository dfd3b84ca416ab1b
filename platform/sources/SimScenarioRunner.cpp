#include "platform/sources/SimScenarioRunner.h"

#include "platform/hidclass/HidReportDescriptor.h"
#include "platform/sources/SimRecording.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The streams are topped up this often; at the highest rate that is 20 reports a time.
constexpr auto StreamTick = std::chrono::milliseconds(1);

SimDeviceModel builtInModel(SimBuiltIn device) {
    switch (device) {
    case SimBuiltIn::Keyboard:
        return makeSimKeyboard();
    case SimBuiltIn::Mouse:
        return makeSimMouse();
    case SimBuiltIn::Locator:
        break;
    }
    return makeSimLocator();
}

std::function<std::vector<Report>(const Report&)> answerFor(const ScenarioDevice& device) {
    switch (device.answer.value_or(SimAnswer::Silent)) {
    case SimAnswer::Echo:
        return makeSimLocator().answer;
    case SimAnswer::Report:
        return [report = device.answerReport](const Report&) -> std::vector<Report> {
            return {report};
        };
    case SimAnswer::Silent:
        break;
    }
    return [](const Report&) -> std::vector<Report> { return {}; };
}

} // namespace

SimDeviceModel simModelFor(const ScenarioDevice& device) {
    SimDeviceModel model = builtInModel(device.base);
    HidInterfaceInfo& info = model.info;
    info.vendorId = device.vendorId.value_or(info.vendorId);
    info.productId = device.productId.value_or(info.productId);
    info.manufacturer = device.manufacturer.value_or(info.manufacturer);
    info.product = device.product.value_or(info.product);
    info.serialNumber = device.serialNumber.value_or(info.serialNumber);
    if (device.descriptor) {
        info.reportDescriptor = *device.descriptor;
    } else if (device.builtInDescriptor) {
        info.reportDescriptor = builtInModel(*device.builtInDescriptor).info.reportDescriptor;
    }
    model.numberedReports = DeclaresReportIds(info.reportDescriptor);
    info.readWriteAllowed = !device.readWriteDenied;
    if (!info.hardwareIds.empty()) {
        info.hardwareIds.front() = simHardwareId(info.vendorId, info.productId);
    }
    info.friendlyName = info.product;
    if (device.answer) {
        model.answer = answerFor(device);
    }
    return model;
}

namespace {

// One scenario device while the scenario runs. Only the runner's thread touches it once the
// thread has started.
struct LiveDevice {
    SimDeviceModel model;
    std::vector<ScenarioEvent> timeline;
    std::size_t nextEvent = 0;
    std::chrono::milliseconds late{0};
    bool readWriteAllowed = true;
    unsigned streamRate = 0;
    Report streamReport;

    std::optional<std::string> path; // while attached
    Clock::time_point streamSince;
    std::uint64_t streamed = 0; // reports sent since streamSince
};

class ScenarioRunner {
public:
    ScenarioRunner(SimDeviceSource& source, const Scenario& scenario)
        : source_(source), start_(Clock::now()), recording_(scenario.recording) {
        if (recording_) {
            replayOrder_.resize(recording_->reports.size());
            std::iota(replayOrder_.begin(), replayOrder_.end(), std::size_t{0});
            std::stable_sort(replayOrder_.begin(), replayOrder_.end(),
                             [this](std::size_t a, std::size_t b) {
                                 return recording_->reports[a].at < recording_->reports[b].at;
                             });
        }
        for (const ScenarioDevice& device : scenario.devices) {
            LiveDevice& live = devices_.emplace_back();
            live.model = simModelFor(device);
            live.timeline = device.timeline;
            live.late = device.late;
            live.readWriteAllowed = !device.readWriteDenied;
            live.streamRate = device.streamRate;
            live.streamReport = device.streamReport;
            if (device.attachedAtStart) {
                plugIn(live, start_);
            }
        }
        thread_ = std::thread([this] { run(); });
    }
    ~ScenarioRunner() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    ScenarioRunner(const ScenarioRunner&) = delete;
    ScenarioRunner& operator=(const ScenarioRunner&) = delete;

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            const auto now = Clock::now();
            for (LiveDevice& device : devices_) {
                applyDueEvents(device, now);
                topUpStream(device, now);
            }
            replayDue(now);
            const auto wake = nextWake(now);
            lock.lock();
            const auto stopRequested = [this] { return stopping_; };
            if (wake) {
                wake_.wait_until(lock, *wake, stopRequested);
            } else {
                wake_.wait(lock, stopRequested);
            }
        }
    }

    void plugIn(LiveDevice& device, Clock::time_point now) {
        SimDeviceModel model = device.model;
        model.info.readWriteAllowed = device.readWriteAllowed;
        device.path = source_.plug(std::move(model));
        if (device.late.count() > 0) {
            source_.setAnswerDelay(*device.path, device.late);
        }
        device.streamSince = now;
        device.streamed = 0;
    }

    void applyDueEvents(LiveDevice& device, Clock::time_point now) {
        while (device.nextEvent < device.timeline.size() &&
               start_ + device.timeline[device.nextEvent].at <= now) {
            switch (device.timeline[device.nextEvent++].kind) {
            case ScenarioEvent::Kind::Unplug:
                source_.unplug(*device.path);
                device.path.reset();
                break;
            case ScenarioEvent::Kind::Plug:
                plugIn(device, now);
                break;
            case ScenarioEvent::Kind::Grant:
                device.readWriteAllowed = true;
                if (device.path) {
                    source_.setReadWriteAllowed(*device.path, true);
                }
                break;
            }
        }
    }

    // Sends the reports due by now. After a stall of more than a second, the backlog beyond
    // one second's worth is skipped rather than sent in one burst.
    void topUpStream(LiveDevice& device, Clock::time_point now) {
        if (!device.path || device.streamRate == 0) {
            return;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(now - device.streamSince);
        const std::uint64_t due =
            static_cast<std::uint64_t>(elapsed.count()) * device.streamRate / 1000000;
        device.streamed =
            std::max(device.streamed, due - std::min<std::uint64_t>(due, device.streamRate));
        for (; device.streamed < due; ++device.streamed) {
            source_.injectInput(*device.path, device.streamReport);
        }
    }

    // Sends the recorded reports due by now, each by the device that sent it. A device node hands
    // out reports of a device without numbered reports without their ID byte; the simulated
    // source takes them with one.
    void replayDue(Clock::time_point now) {
        for (; nextReplayed_ < replayOrder_.size(); ++nextReplayed_) {
            const RecordedReport& report = recording_->reports[replayOrder_[nextReplayed_]];
            if (start_ + report.at > now) {
                return;
            }
            const LiveDevice& device = devices_[report.device];
            if (!device.path) {
                continue;
            }
            Report bytes = recording_->reportBytes(report);
            if (!device.model.numberedReports) {
                bytes.insert(bytes.begin(), 0);
            }
            source_.injectInput(*device.path, bytes);
        }
    }

    // When there is next something to do; none when the timeline is over and nothing streams.
    std::optional<Clock::time_point> nextWake(Clock::time_point now) const {
        std::optional<Clock::time_point> wake;
        const auto earliest = [&wake](Clock::time_point when) {
            wake = wake ? std::min(*wake, when) : when;
        };
        for (const LiveDevice& device : devices_) {
            if (device.nextEvent < device.timeline.size()) {
                earliest(start_ + device.timeline[device.nextEvent].at);
            }
            if (device.path && device.streamRate > 0) {
                earliest(now + StreamTick);
            }
        }
        if (nextReplayed_ < replayOrder_.size()) {
            earliest(start_ + recording_->reports[replayOrder_[nextReplayed_]].at);
        }
        return wake;
    }

    SimDeviceSource& source_;
    const Clock::time_point start_;
    const std::shared_ptr<const Recording> recording_;
    std::vector<std::size_t> replayOrder_; // positions in recording_->reports, in time order
    std::size_t nextReplayed_ = 0;
    std::vector<LiveDevice> devices_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything above exists
};

class ScenarioSimulation : public SimDeviceSource {
public:
    explicit ScenarioSimulation(const Scenario& scenario) : runner_(*this, scenario) {}

private:
    ScenarioRunner runner_; // destroyed, and so stopped, before the devices it plays with
};

} // namespace

std::unique_ptr<SimDeviceSource> startScenario(const Scenario& scenario) {
    return std::make_unique<ScenarioSimulation>(scenario);
}

} // namespace platform
