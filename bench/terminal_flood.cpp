// The simulated locator sends input reports at a fixed rate into the window's terminal handler
// (DeviceRead) for a while. Prints reports sent, shown and lost, the median, mean and worst time
// to append one block (trimming included) at the start and at the end of the run, how late the
// event loop answered a 20 ms timer at worst (the window's responsiveness), and the process's
// peak memory.
//
// With a stall given, the UI thread also stops for that many milliseconds once every second, as
// a window busy with something else would; the reader's hand-over must absorb what arrives.
// "Out of order" counts a report shown after one sent later, not the gaps lost reports leave.
//
// --long: 1,000 reports a second for ten minutes, with the resident memory sampled each second
// (the terminal's bound must keep it flat).
// --capture FILE: the window captures to FILE while the reports come; afterwards the program
// counts the reports in the file and replays it through the simulated source (sim:FILE), which
// must send the same reports in the same order.
//
// Usage: bench_terminal_flood [--long] [--capture FILE] [seconds = 60]
//                             [reports per second = 1000] [stall ms = 0]

#include "Percentile.h"
#include "SimulatedWindow.h"
#include "platform/sources/SimRecording.h"
#include "platform/sources/SimScenarioRunner.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Answers the save dialog with the capture file; any error box is printed.
class SilentDialogs : public TDialogs {
public:
    std::string captureFile;
    void ShowMessage(const std::string&) override {}
    Answer AskYesNo(const std::string&) override { return Answer::No; }
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    std::string AskSaveFileName(const std::string&) override { return captureFile; }
};

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

double meanMiB(const std::vector<long>& kib, std::size_t from, std::size_t to) {
    double sum = 0;
    to = std::min(to, kib.size());
    for (std::size_t i = from; i < to; ++i)
        sum += double(kib[i]);
    return from < to ? sum / double(to - from) / 1024.0 : 0.0;
}

int reportNumber(const BYTE* data) {
    int n = 0;
    std::memcpy(&n, data, sizeof n);
    return n;
}

// Counts the recorded reports and replays the file through the simulated source, reading what
// the replayed device sends. "In order" means each report's number is above the one before it
// (gaps left by lost reports are not disorder). Whether nothing was lost or reordered.
bool checkCapture(const std::string& file, int sent) {
    platform::ScenarioError error;
    const auto scenario = platform::loadScenarioFile(file, error);
    if (!scenario) {
        std::printf("capture: %s refused: %s\n", file.c_str(), error.message().c_str());
        return false;
    }
    const platform::Recording& recording = *scenario->recording;
    std::vector<int> recorded;
    for (const auto& report : recording.reports)
        recorded.push_back(reportNumber(recording.reportBytes(report).data()));
    const auto disordered = [](const std::vector<int>& numbers) {
        std::size_t count = 0;
        for (std::size_t i = 1; i < numbers.size(); ++i)
            count += numbers[i] <= numbers[i - 1];
        return count;
    };
    std::printf("capture: %zu reports in the file (sent %d, lost %d), out of order %zu\n",
                recorded.size(), sent, sent - int(recorded.size()), disordered(recorded));
    if (recorded.empty())
        return false;

    auto replay = platform::startScenario(*scenario);
    int openError = 0;
    auto connection = replay->open(replay->enumerate().at(0).path, &openError);
    if (!connection) {
        std::printf("replay: cannot open the replayed device\n");
        return false;
    }
    std::vector<int> replayed;
    std::vector<std::uint8_t> buffer(128);
    const auto deadline = Clock::now() + recording.reports.back().at + std::chrono::seconds(10);
    while (replayed.size() < recorded.size() && Clock::now() < deadline) {
        pollfd waiting{connection->inputFd(), POLLIN, 0};
        ::poll(&waiting, 1, 100);
        for (int length; (length = connection->readInput(buffer.data(), buffer.size())) > 0;)
            replayed.push_back(reportNumber(buffer.data() + 1));
    }
    const bool same = replayed == recorded;
    std::printf("replay through sim:FILE: %zu of %zu reports, out of order %zu, %s\n",
                replayed.size(), recorded.size(), disordered(replayed),
                same ? "the same reports in the same order" : "NOT the same sequence");
    return int(recorded.size()) == sent && disordered(recorded) == 0 && same;
}

// Sends numbered reports at a steady rate on its own thread.
class Sender {
public:
    Sender(platform::SimDeviceSource& sim, std::string path, int perSecond, int total)
        : thread_([&sim, path, perSecond, total, this] {
              const auto period = std::chrono::nanoseconds(1'000'000'000 / perSecond);
              auto next = Clock::now();
              for (int n = 0; n < total; ++n) {
                  platform::Report report(65, 0xFF);
                  report[0] = 0;
                  std::memcpy(&report[1], &n, sizeof n);
                  if (sim.injectInput(path, report))
                      ++sent;
                  next += period;
                  std::this_thread::sleep_until(next);
              }
              done = true;
          }) {}
    ~Sender() { thread_.join(); }
    std::atomic<int> sent{0};
    std::atomic<bool> done{false};

private:
    std::thread thread_;
};

// The append times of the first `window` blocks and of the latest `window`. Keeping every sample
// would grow this program's own memory by 8 bytes a report, which the long run's memory figure
// would then count against the terminal.
class AppendTimes {
public:
    explicit AppendTimes(std::size_t window) : window_(window) {
        first_.reserve(window);
        latest_.reserve(window);
    }
    void add(double ms) {
        if (first_.size() < window_)
            first_.push_back(ms);
        else if (latest_.size() < window_)
            latest_.push_back(ms);
        else
            latest_[next_++ % window_] = ms;
    }
    const std::vector<double>& first() const { return first_; }
    const std::vector<double>& latest() const { return latest_; }

private:
    std::size_t window_;
    std::vector<double> first_, latest_;
    std::size_t next_ = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    bool longRun = false;
    std::string captureFile;
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--long")
            longRun = true;
        else if (argument == "--capture" && i + 1 < argc)
            captureFile = argv[++i];
        else
            numbers.push_back(std::atoi(argv[i]));
    }
    const int seconds = numbers.size() > 0 ? numbers[0] : longRun ? 600 : 60;
    const int perSecond = numbers.size() > 1 ? numbers[1] : 1000;
    const int stallMs = numbers.size() > 2 ? numbers[2] : 0;
    QApplication application(argc, argv);
    SilentDialogs dialogs;
    dialogs.captureFile = captureFile;
    SimulatedWindow window(dialogs);
    if (!window.connect()) {
        std::fprintf(stderr, "the simulated locator did not connect\n");
        return 1;
    }
    TFormMain& form = window.form();
    platform::SimDeviceSource& sim = window.sim();
    const std::string& path = window.locatorPath();
    form.btnClear->click();
    if (!captureFile.empty()) {
        form.btnCapture->click();
        if (!form.Capturing())
            return 1;
    }

    // Every report goes through the window's own handler; only the timing is added here.
    const int total = seconds * perSecond;
    AppendTimes appendMs(std::min(total / 10, 5000));
    int shown = 0, reordered = 0, expected = 0;
    form.HIDDevice->SetOnData(
        THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
            [&](THidDevice* device, BYTE id, const BYTE* data, USHORT size) {
                const int n = reportNumber(data);
                reordered += n < expected;
                expected = std::max(expected, n + 1);
                const auto start = Clock::now();
                form.DeviceRead(device, id, data, size);
                appendMs.add(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                ++shown;
            })));

    // How late a 20 ms timer fires at worst: what a user's click would wait for.
    double worstLateMs = 0;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worstLateMs = std::max(worstLateMs, double(sinceTick.nsecsElapsed()) / 1e6 - 20.0);
        sinceTick.restart();
    });
    sinceTick.start();
    probe.start();
    QTimer stall;
    QObject::connect(&stall, &QTimer::timeout, [stallMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
    });
    if (stallMs > 0)
        stall.start(1000);
    std::vector<long> residentKiB; // once a second
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { residentKiB.push_back(statusKiB("VmRSS:")); });
    sampler.start(1000);

    {
        Sender sender(sim, path, perSecond, total);
        const auto accounted = [&] {
            return shown + static_cast<int>(form.HIDDevice->DroppedInputReports()) >= sender.sent;
        };
        while (!sender.done)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        stall.stop();
        QElapsedTimer draining;
        draining.start();
        while (!accounted() && draining.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        probe.stop();
        const int sent = sender.sent;
        const std::vector<double>& first = appendMs.first();
        const std::vector<double>& last = appendMs.latest();
        const double medianFirst = percentile(first, 0.5), medianLast = percentile(last, 0.5);
        // The mean carries the terminal's trims, which come once per many blocks.
        const auto mean = [](const std::vector<double>& samples) {
            return samples.empty() ? 0.0
                                   : std::accumulate(samples.begin(), samples.end(), 0.0) /
                                         double(samples.size());
        };
        std::printf("%d reports/s for %d s, UI thread stalled %d ms every second\n", perSecond,
                    seconds, stallMs);
        std::printf("reports: sent %d, shown %d, lost %d (counted as dropped: %llu), out of "
                    "order %d\n",
                    sent, shown, sent - shown,
                    static_cast<unsigned long long>(form.HIDDevice->DroppedInputReports()),
                    reordered);
        std::printf("append one block, first %zu: median %.3f ms, mean %.3f ms, worst %.3f ms\n",
                    first.size(), medianFirst, mean(first), percentile(first, 1.0));
        std::printf("append one block, last %zu:  median %.3f ms, mean %.3f ms, worst %.3f ms\n",
                    last.size(), medianLast, mean(last), percentile(last, 1.0));
        std::printf("median ratio last/first: %.2f (target < 1.5), mean ratio %.2f\n",
                    medianLast / medianFirst, mean(last) / mean(first));
        std::printf("terminal lines: %d\n", form.Memo1->document()->blockCount());
        std::printf("event loop: a 20 ms timer fired at worst %.1f ms late%s\n", worstLateMs,
                    stallMs > 0 ? " (the stalls included)" : "");
        std::printf("peak resident memory: %.1f MiB\n", double(statusKiB("VmHWM:")) / 1024.0);
        bool passed = sent == shown && reordered == 0;
        if (residentKiB.size() >= 180) {
            const double second = meanMiB(residentKiB, 60, 120);
            const double last = meanMiB(residentKiB, residentKiB.size() - 60, residentKiB.size());
            std::printf("resident memory, mean of the second minute %.1f MiB, of the last minute "
                        "%.1f MiB: %+.1f%% (target within 5%%)\n",
                        second, last, 100.0 * (last - second) / second);
        }
        if (!captureFile.empty()) {
            form.btnCapture->click();
            passed = checkCapture(captureFile, sent) && passed;
        }
        return passed ? 0 : 1;
    }
}
