// The simulated locator sends input reports at a fixed rate into the window's terminal handler
// (DeviceRead) for a while. Prints reports sent, shown and lost, the median and worst time to
// append one block at the start and at the end of the run, how late the event loop answered a
// 20 ms timer at worst (the window's responsiveness), and the process's peak memory.
//
// With a stall given, the UI thread also stops for that many milliseconds once every second, as
// a window busy with something else would; the reader's queue must absorb what arrives.
//
// Usage: bench_terminal_flood [seconds = 60] [reports per second = 1000] [stall ms = 0]

#include "Percentile.h"
#include "SimulatedWindow.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class SilentDialogs : public TDialogs {
public:
    void ShowMessage(const std::string&) override {}
    Answer AskYesNo(const std::string&) override { return Answer::No; }
    void ShowError(const std::string&) override {}
    std::string AskSaveFileName(const std::string&) override { return {}; }
};

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
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

} // namespace

int main(int argc, char* argv[]) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int perSecond = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int stallMs = argc > 3 ? std::atoi(argv[3]) : 0;
    QApplication application(argc, argv);
    SilentDialogs dialogs;
    SimulatedWindow window(dialogs);
    if (!window.connect()) {
        std::fprintf(stderr, "the simulated locator did not connect\n");
        return 1;
    }
    TFormMain& form = window.form();
    platform::SimDeviceSource& sim = window.sim();
    const std::string& path = window.locatorPath();
    form.btnClear->click();

    // Every report goes through the window's own handler; only the timing is added here.
    std::vector<double> appendMs;
    int shown = 0, reordered = 0, expected = 0;
    form.HIDDevice->SetOnData(
        THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
            [&](THidDevice* device, BYTE id, const BYTE* data, USHORT size) {
                int n = 0;
                std::memcpy(&n, data, sizeof n);
                reordered += n != expected;
                expected = n + 1;
                const auto start = Clock::now();
                form.DeviceRead(device, id, data, size);
                appendMs.push_back(
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

    const int total = seconds * perSecond;
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
        const std::size_t window = std::min<std::size_t>(appendMs.size() / 10, 5000);
        const std::vector<double> first(appendMs.begin(), appendMs.begin() + window);
        const std::vector<double> last(appendMs.end() - window, appendMs.end());
        const double medianFirst = percentile(first, 0.5), medianLast = percentile(last, 0.5);
        std::printf("%d reports/s for %d s, UI thread stalled %d ms every second\n", perSecond,
                    seconds, stallMs);
        std::printf("reports: sent %d, shown %d, lost %d (counted as dropped: %llu), out of "
                    "order %d\n",
                    sent, shown, sent - shown,
                    static_cast<unsigned long long>(form.HIDDevice->DroppedInputReports()),
                    reordered);
        std::printf("append one block, first %zu: median %.3f ms, worst %.3f ms\n", window,
                    medianFirst, percentile(first, 1.0));
        std::printf("append one block, last %zu:  median %.3f ms, worst %.3f ms\n", window,
                    medianLast, percentile(last, 1.0));
        std::printf("median ratio last/first: %.2f (target < 1.5)\n", medianLast / medianFirst);
        std::printf("terminal lines: %d\n", form.Memo1->document()->blockCount());
        std::printf("event loop: a 20 ms timer fired at worst %.1f ms late%s\n", worstLateMs,
                    stallMs > 0 ? " (the stalls included)" : "");
        std::printf("peak resident memory: %.1f MiB\n", double(peakResidentKiB()) / 1024.0);
        return sent == shown ? 0 : 1;
    }
}
