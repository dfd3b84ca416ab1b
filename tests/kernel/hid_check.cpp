// What the kernel check measures that tarvexctl does not show: which hot-plug events the native
// source follows, and how a stream of numbered reports from the uhid locator arrives, through
// the HID layer as the window reads it or through a plain hidraw read loop beside it.
//
//   tarvex_hidcheck hotplug                  prints the native source's hot-plug mode
//   tarvex_hidcheck flood [--stall MS] [--plain NODE] COUNT SECONDS
//       asks the locator for its configuration, which starts the uhid device's stream, and
//       counts the stream for up to SECONDS: by default through the HID layer, each report
//       taken by the device's OnData handler on the UI thread; with --plain, from NODE by
//       poll() and a blocking read() (the reference: what any hidraw reader does). --stall
//       holds the consumer (the UI thread, or the read loop) for MS milliseconds each second.
//
// flood prints one line: received, lost (gaps in the numbers; for the HID layer, how many of
// them its own queues dropped), out of order, not arrived by the deadline, the latency from the
// sender's time stamp to the consumer (median and 99th percentile), and the processor time the
// reader's threads used.
//
// Exit status: 0 every report arrived in order, 1 reports lost or reordered, 2 bad arguments,
// 3 no locator or no access to it, 4 the device went away.

#include "hid/HidControllerClass.h"
#include "locator/DeviceCommand.h"
#include "locator/LocatorReport.h"
#include "platform/device/DeviceSource.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"
#include "platform/sources/LinuxDeviceSource.h"
#include "platform/uithread/EventLoop.h"
#include "platform/win32/Handles.h"
#include "platform/win32/ReportPump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLocatorVID = 0x3F7C;
constexpr int kLocatorPID = 0x5A21;
constexpr std::uint8_t kStreamMarker = 'F';
constexpr std::size_t kReportBytes = 64; // the locator's reports, without a report ID

enum ExitStatus {
    Done = 0,
    Incomplete = 1,
    BadArguments = 2,
    NoLocator = 3,
    DeviceGone = 4,
};

struct FloodOptions {
    long count = 0;
    long seconds = 0;
    long stallMs = 0;
    std::string plainNode; // empty: through the HID layer
};

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Counts the stream: data byte 0 'F', bytes 1-4 the number and bytes 5-12 the sender's
// steady-clock time in nanoseconds (both big-endian). Other reports (the answer) are skipped.
class StreamCount {
public:
    explicit StreamCount(long count) { latencies_.reserve(static_cast<std::size_t>(count)); }

    void take(const std::uint8_t* data, std::size_t size) {
        if (size < 13 || data[0] != kStreamMarker)
            return;
        const auto received = Clock::now();
        const std::uint32_t number = static_cast<std::uint32_t>(bigEndian(data + 1, 4));
        const Clock::time_point sent{std::chrono::nanoseconds(bigEndian(data + 5, 8))};
        latencies_.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(received - sent).count());
        if (number < expected_)
            ++outOfOrder_;
        else if (number > expected_)
            noteGap(expected_, number - expected_);
        expected_ = std::max(expected_, number + 1);
    }

    bool seenUpTo(long count) const { return expected_ >= static_cast<std::uint32_t>(count); }

    // The figures, and whether every one of count reports arrived once, in order. `dropped`
    // says where the reports counted lost went, when the reader knows.
    bool report(long count, long long elapsedMs, const std::string& dropped,
                const std::string& cpu) {
        const long received = static_cast<long>(latencies_.size());
        std::printf("received %ld of %ld in %lld ms: %ld lost%s%s, %ld out of order, %ld not "
                    "arrived by the deadline; latency median %s, p99 %s; %s\n",
                    received, count, elapsedMs, lost_, dropped.c_str(), gaps_.c_str(), outOfOrder_,
                    count - static_cast<long>(expected_), percentile(50).c_str(),
                    percentile(99).c_str(), cpu.c_str());
        return received == count && lost_ == 0 && outOfOrder_ == 0;
    }

private:
    // Where reports went missing tells a slow start from a reader that fell behind later.
    void noteGap(std::uint32_t first, std::uint32_t length) {
        constexpr int kGapsShown = 4;
        lost_ += length;
        if (gapCount_++ < kGapsShown) {
            gaps_.append(gaps_.empty() ? " at report " : ", ");
            gaps_.append(std::to_string(first)).append(" (").append(std::to_string(length));
            gaps_.append(")");
        } else if (gapCount_ == kGapsShown + 1) {
            gaps_.append(", ...");
        }
    }

    static std::uint64_t bigEndian(const std::uint8_t* bytes, int length) {
        std::uint64_t value = 0;
        for (int k = 0; k < length; ++k)
            value = (value << 8) | bytes[k];
        return value;
    }

    std::string percentile(int which) {
        if (latencies_.empty())
            return "-";
        const auto at =
            latencies_.begin() + static_cast<long>((latencies_.size() - 1) * which / 100);
        std::nth_element(latencies_.begin(), at, latencies_.end());
        return std::to_string(*at) + " us";
    }

    std::vector<long long> latencies_;
    std::uint32_t expected_ = 0;
    long lost_ = 0;
    int gapCount_ = 0;
    std::string gaps_;
    long outOfOrder_ = 0;
};

// Holds the consumer's thread for the stall's length once every second from the start.
class StallSchedule {
public:
    explicit StallSchedule(long stallMs) : length_(std::chrono::milliseconds(stallMs)) {}
    void start() { next_ = Clock::now() + std::chrono::seconds(1); }
    void stallIfDue() {
        if (length_.count() == 0 || Clock::now() < next_)
            return;
        std::this_thread::sleep_for(length_);
        next_ += std::chrono::seconds(1);
    }

private:
    const std::chrono::milliseconds length_;
    Clock::time_point next_;
};

// Runs the work posted to this (the UI) thread until the condition holds or the deadline
// passes, calling eachTurn after every pass.
void pumpUntil(const std::function<bool()>& done, Clock::time_point deadline,
               const std::function<void()>& eachTurn) {
    while (!done() && Clock::now() < deadline) {
        platform::PumpMessages();
        eachTurn();
        platform::WaitForPostedWork(10);
    }
}

// The processor time this process's threads have used, in milliseconds: this (the UI) thread,
// the devices' readers, the report I/O thread, and the rest. Where the time goes shows where a
// reader that falls behind spends it.
std::string threadTimes() {
    long long ui = 0, readers = 0, io = 0, rest = 0;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    DIR* tasks = ::opendir("/proc/self/task");
    while (const dirent* task = tasks ? ::readdir(tasks) : nullptr) {
        const std::string stat = "/proc/self/task/" + std::string(task->d_name) + "/stat";
        std::FILE* file = task->d_name[0] == '.' ? nullptr : std::fopen(stat.c_str(), "r");
        if (!file)
            continue;
        char line[512] = {};
        const bool read = std::fgets(line, sizeof line, file) != nullptr;
        std::fclose(file);
        // "tid (name) state ..." with user and system time the 12th and 13th fields after it.
        const char* open = std::strchr(line, '(');
        const char* close = std::strrchr(line, ')');
        unsigned long long user = 0, system = 0;
        if (!read || !open || !close ||
            std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                        &system) != 2)
            continue;
        const long long ms = static_cast<long long>(user + system) * 1000 / ticksPerSecond;
        const std::string name(open + 1, close);
        if (std::atoi(task->d_name) == ::getpid())
            ui += ms;
        else if (name.starts_with("THidDeviceRead"))
            readers += ms;
        else if (name == platform::ReportPump::kThreadName)
            io += ms;
        else
            rest += ms;
    }
    if (tasks)
        ::closedir(tasks);
    return "CPU " + std::to_string(ui) + " ms on the UI thread, " + std::to_string(readers) +
           " ms on the reader, " + std::to_string(io) + " ms on the I/O thread, " +
           std::to_string(rest) + " ms on others";
}

// The HID layer as the window uses it: the locator checked out of a controller, its reports
// delivered to OnData on this (the UI) thread, which pumps the posted work itself.
int floodThroughHidLayer(const FloodOptions& options) {
    StreamCount stream(options.count); // before the controller: the device's handler uses it
    StallSchedule stall(options.stallMs);
    bool gone = false;
    THidDevice* device = nullptr;
    THidDeviceController controller{nullptr, nullptr};
    controller.SetOnDeviceUnplug(THidPlugEvent(std::function<void(THidDevice*)>(
        [&](THidDevice* unplugged) { gone = gone || unplugged == device; })));
    platform::PumpMessages(); // the controller lists the devices here
    if (!controller.CheckOutByID(device, kLocatorVID, kLocatorPID)) {
        std::printf("no locator\n");
        return NoLocator;
    }
    if (!device->HasReadWriteAccess()) {
        std::printf("no access to the locator\n");
        controller.CheckIn(device);
        return NoLocator;
    }
    device->SetNumInputBuffers(64);
    device->SetNumOverlappedBuffers(64);

    TDeviceCommand command;
    command.Prepare = [](TReport& HidData) { HidData.Data[0] = cmdReadConfig; };
    command.Handler = THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
        [&stream](THidDevice*, BYTE, const BYTE* Data, USHORT Size) { stream.take(Data, Size); }));
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(options.seconds);
    stall.start();
    StartDeviceCommand([&] { return gone ? nullptr : device; }, std::move(command));
    pumpUntil([&] { return stream.seenUpTo(options.count) || gone; }, deadline,
              [&] { stall.stallIfDue(); });
    const long long elapsed = millisecondsSince(start);
    const std::string cpu = threadTimes(); // while the reader still runs
    // The layer counts what its own queues drop: the platform's queue of the read handle, and
    // the hand-over to this thread. The rest of the lost never left the kernel's buffer.
    const std::uint64_t platformQueue =
        gone ? 0 : platform::droppedInputReports(device->HidOverlappedRead());
    const std::uint64_t handOver = gone ? 0 : device->DroppedInputReports() - platformQueue;
    // A command worker still waiting for this thread finishes before the device goes back.
    pumpUntil([] { return CommandsInFlight() == 0; }, Clock::now() + std::chrono::seconds(2),
              [] {});
    controller.CheckIn(device);
    if (gone) {
        std::printf("device gone\n");
        return DeviceGone;
    }
    return stream.report(options.count, elapsed,
                         " (" + std::to_string(platformQueue) +
                             " dropped by the platform's queue, " + std::to_string(handOver) +
                             " by the hand-over)",
                         cpu)
               ? Done
               : Incomplete;
}

// The same stream from the hidraw node with nothing in between: one report per read().
int floodThroughPlainRead(const FloodOptions& options) {
    const int fd = ::open(options.plainNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::printf("%s: %s\n", options.plainNode.c_str(), std::strerror(errno));
        return NoLocator;
    }
    StreamCount stream(options.count);
    StallSchedule stall(options.stallMs);
    std::uint8_t report[1 + kReportBytes]; // report ID 0, then the data bytes
    std::fill(std::begin(report), std::end(report), 0xFF);
    report[0] = 0;
    report[1] = cmdReadConfig;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(options.seconds);
    stall.start();
    int status = ::write(fd, report, sizeof report) == sizeof report ? Done : DeviceGone;
    while (status == Done && !stream.seenUpTo(options.count) && Clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 100) < 0 && errno != EINTR)
            status = DeviceGone;
        if ((readable.revents & (POLLERR | POLLHUP)) && !(readable.revents & POLLIN))
            status = DeviceGone;
        if (readable.revents & POLLIN) {
            const ssize_t length = ::read(fd, report, sizeof report);
            if (length < 0 && errno != EINTR)
                status = DeviceGone;
            if (length > 0)
                stream.take(report, static_cast<std::size_t>(length));
        }
        stall.stallIfDue();
    }
    const long long elapsed = millisecondsSince(start);
    ::close(fd);
    if (status == DeviceGone) {
        std::printf("device gone\n");
        return DeviceGone;
    }
    rusage used{};
    ::getrusage(RUSAGE_SELF, &used);
    const auto ms = [](const timeval& time) { return time.tv_sec * 1000LL + time.tv_usec / 1000; };
    return stream.report(options.count, elapsed, "",
                         "CPU " + std::to_string(ms(used.ru_utime) + ms(used.ru_stime)) + " ms")
               ? Done
               : Incomplete;
}

int hotplug() {
    const auto* native =
        dynamic_cast<const platform::LinuxDeviceSource*>(&platform::deviceSource());
    std::printf("%s\n", native ? platform::hotplugModeName(native->hotplugMode()) : "simulation");
    return Done;
}

bool number(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0;
}

bool parseFlood(int argc, char** argv, FloodOptions& options) {
    int next = 2;
    for (; next + 1 < argc && argv[next][0] == '-'; next += 2) {
        const std::string option = argv[next];
        if (option == "--stall" && number(argv[next + 1], options.stallMs))
            continue;
        if (option == "--plain") {
            options.plainNode = argv[next + 1];
            continue;
        }
        return false;
    }
    return argc == next + 2 && number(argv[next], options.count) &&
           number(argv[next + 1], options.seconds) && options.count > 0 && options.seconds > 0 &&
           options.stallMs < 1000;
}

int usage() {
    std::fprintf(stderr, "usage: tarvex_hidcheck hotplug | "
                         "flood [--stall MS] [--plain NODE] COUNT SECONDS\n");
    return BadArguments;
}

} // namespace

int main(int argc, char** argv) {
    auto source = platform::deviceSourceFromEnvironment();
    if (!source)
        return BadArguments;
    platform::installDeviceSource(std::move(source));
    const std::string verb = argc > 1 ? argv[1] : "";
    FloodOptions flood;
    int status = BadArguments;
    if (verb == "hotplug" && argc == 2)
        status = hotplug();
    else if (verb == "flood" && parseFlood(argc, argv, flood))
        status =
            flood.plainNode.empty() ? floodThroughHidLayer(flood) : floodThroughPlainRead(flood);
    else
        return usage();
    std::fflush(stdout);
    platform::installDeviceSource(nullptr);
    return status;
}
