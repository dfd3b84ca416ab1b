// A virtual locator (or keyboard) in the kernel, made from user space through /dev/uhid: the
// kernel gives it a hid device and a hidraw node like a USB one, so the tool's native source
// meets it through hidraw, libudev and the udev rules. The locator answers output reports
// exactly as the simulated locator does; it shares that code.
//
//   tarvex_uhid_device [--keyboard] [--name TEXT] [--serial TEXT] [--unplug-after N]
//                      [--slow MS] [--flood RATE COUNT]
//
// --unplug-after N  destroys the device when the N-th output report arrives, before answering
// --slow MS         answers MS milliseconds after the output report
// --flood RATE COUNT  once the first output report is answered, sends COUNT input reports at
//                   RATE a second (never faster): data byte 0 'F', bytes 1-4 the sequence
//                   number from 0, bytes 5-12 the steady clock's time of sending in
//                   nanoseconds (both big-endian), 0xFF after
//
// Prints "created" once the kernel has the device and "destroyed" when it is gone (after how
// many stream reports it sent, with --flood, in what time, how often it fell behind its
// timetable, and the most it sent in one go catching up); SIGTERM destroys it too. Exits 0 then, 2
// on a bad option, 1 when uhid fails.

#include "platform/sources/SimDeviceBehaviour.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using platform::Report;

constexpr std::uint16_t BusUsb = 0x03; // as a USB device, so udev rules match it the same way
constexpr std::uint8_t FloodMarker = 'F';
constexpr auto kLongestCatchUp = std::chrono::milliseconds(10);

struct Options {
    bool keyboard = false;
    std::string name;
    std::string serial;
    long unplugAfter = 0; // 0: never
    long slowMs = 0;
    long floodRate = 0;
    long floodCount = 0;
};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

bool parseNumber(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--keyboard") {
            options.keyboard = true;
        } else if (option == "--name" && hasValue) {
            options.name = argv[++i];
        } else if (option == "--serial" && hasValue) {
            options.serial = argv[++i];
        } else if (option == "--unplug-after" && hasValue) {
            if (!parseNumber(argv[++i], options.unplugAfter))
                return false;
        } else if (option == "--slow" && hasValue) {
            if (!parseNumber(argv[++i], options.slowMs))
                return false;
        } else if (option == "--flood" && i + 2 < argc) {
            if (!parseNumber(argv[++i], options.floodRate) ||
                !parseNumber(argv[++i], options.floodCount) || options.floodRate == 0)
                return false;
        } else {
            return false;
        }
    }
    if (options.name.empty())
        options.name = options.keyboard ? "Tarvex Virtual Keyboard" : "Tarvex Virtual Locator";
    if (options.serial.empty())
        options.serial = options.keyboard ? "UHIDKBD0001" : "UHIDLOC0001";
    return options.name.size() < 128 && options.serial.size() < 64;
}

class UhidDevice {
public:
    explicit UhidDevice(const Options& options) : options_(options) {}
    ~UhidDevice() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool create() {
        fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            std::perror("tarvex_uhid_device: /dev/uhid");
            return false;
        }
        const auto& descriptor = options_.keyboard ? platform::simKeyboardDescriptor()
                                                   : platform::simLocatorDescriptor();
        uhid_event event{};
        event.type = UHID_CREATE2;
        auto& create = event.u.create2;
        std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s",
                      options_.name.c_str());
        std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "tarvex-uhid");
        std::snprintf(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, "%s",
                      options_.serial.c_str());
        create.rd_size = static_cast<std::uint16_t>(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), create.rd_data);
        create.bus = BusUsb;
        create.vendor = options_.keyboard ? 0x046D : platform::SimLocatorVendorId;
        create.product = options_.keyboard ? 0xC31C : platform::SimLocatorProductId;
        create.version = 0x0100;
        if (!send(event))
            return false;
        std::printf("created\n");
        std::fflush(stdout);
        return true;
    }

    // Runs until stopped by a signal or by unplugging itself; false when uhid fails. The stop
    // signals are blocked but while waiting, so none slips in between the check and the wait.
    bool run(const sigset_t& waitMask) {
        while (!stopRequested && !destroyed_) {
            pollfd watched{fd_, POLLIN, 0};
            const int ready = ::ppoll(&watched, 1, timeToNextDue(), &waitMask);
            if (ready < 0 && errno != EINTR) {
                std::perror("tarvex_uhid_device: poll");
                return false;
            }
            if (ready > 0 && !receive())
                return false;
            sendDueAnswers();
            sendDueFlood();
        }
        return destroy();
    }

private:
    struct PendingAnswer {
        Clock::time_point due;
        Report report;
    };

    bool send(const uhid_event& event) {
        if (::write(fd_, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
            std::perror("tarvex_uhid_device: write");
            return false;
        }
        return true;
    }

    bool destroy() {
        if (destroyed_)
            return true;
        uhid_event event{};
        event.type = UHID_DESTROY;
        if (!send(event))
            return false;
        destroyed_ = true;
        if (options_.floodCount > 0)
            std::printf("sent %ld of %ld stream reports in %lld ms, fell behind %ld times, at "
                        "most %ld in one go\n",
                        floodSent_, options_.floodCount, floodMilliseconds(), floodRestarts_,
                        floodLongestBurst_);
        std::printf("destroyed\n");
        std::fflush(stdout);
        return true;
    }

    bool receive() {
        uhid_event event{};
        const ssize_t length = ::read(fd_, &event, sizeof event);
        if (length < 0)
            return errno == EINTR || errno == EAGAIN;
        switch (event.type) {
        case UHID_OUTPUT:
            return takeOutput(event.u.output.data, event.u.output.size);
        case UHID_GET_REPORT:
            return refuseGetReport(event.u.get_report.id);
        case UHID_SET_REPORT:
            return refuseSetReport(event.u.set_report.id);
        default:
            return true; // start, stop, open and close need nothing from us
        }
    }

    // The report arrives report ID first (0 here), as the tool wrote it to hidraw.
    bool takeOutput(const std::uint8_t* data, std::size_t size) {
        ++outputReports_;
        if (options_.unplugAfter > 0 && outputReports_ >= options_.unplugAfter)
            return destroy();
        if (options_.keyboard)
            return true; // LED states: nothing to answer
        if (auto answer = answers_.answer(data, size)) {
            pending_.push_back(
                {Clock::now() + std::chrono::milliseconds(options_.slowMs), std::move(*answer)});
        }
        return true;
    }

    // The locator has no feature reports and answers no report requests; it stalls them.
    bool refuseGetReport(std::uint32_t id) {
        uhid_event event{};
        event.type = UHID_GET_REPORT_REPLY;
        event.u.get_report_reply.id = id;
        event.u.get_report_reply.err = EIO;
        return send(event);
    }
    bool refuseSetReport(std::uint32_t id) {
        uhid_event event{};
        event.type = UHID_SET_REPORT_REPLY;
        event.u.set_report_reply.id = id;
        event.u.set_report_reply.err = EIO;
        return send(event);
    }

    // Without report IDs the kernel takes the report's data bytes only.
    bool sendInput(const Report& report) {
        uhid_event event{};
        event.type = UHID_INPUT2;
        event.u.input2.size = static_cast<std::uint16_t>(report.size() - 1);
        std::copy(report.begin() + 1, report.end(), event.u.input2.data);
        return send(event);
    }

    void sendDueAnswers() {
        const auto now = Clock::now();
        while (!pending_.empty() && pending_.front().due <= now) {
            sendInput(pending_.front().report);
            pending_.pop_front();
            startFloodOnce(now);
        }
    }

    void startFloodOnce(Clock::time_point now) {
        if (options_.floodCount > 0 && !flooding_ && floodSent_ == 0) {
            flooding_ = true;
            floodStart_ = floodFirst_ = floodLast_ = now;
        }
    }

    long long floodMilliseconds() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(floodLast_ - floodFirst_)
            .count();
    }

    // Reports go out on a fixed timetable, so the rate holds on average despite wake-up jitter.
    Clock::time_point nextFloodDue() const {
        return floodStart_ + std::chrono::microseconds((floodSent_ - floodSentAtStart_) *
                                                       1'000'000 / options_.floodRate);
    }

    void sendDueFlood() {
        const auto now = Clock::now();
        // After a stall (this process or the whole VM was not scheduled) the timetable starts
        // again rather than sending the missed reports in one burst: never faster than the rate.
        if (flooding_ && now - nextFloodDue() > kLongestCatchUp) {
            floodStart_ = now;
            floodSentAtStart_ = floodSent_;
            ++floodRestarts_;
        }
        // A late wake-up sends what fell due meanwhile back to back: a burst no USB device
        // sends, which a reader must take in at once.
        const long sentBefore = floodSent_;
        while (flooding_ && nextFloodDue() <= now) {
            Report report(platform::SimLocatorReportLength, 0xFF);
            report[0] = 0;
            report[1] = FloodMarker;
            putBigEndian(static_cast<std::uint64_t>(floodSent_), 4, &report[2]);
            floodLast_ = Clock::now();
            putBigEndian(
                static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               floodLast_.time_since_epoch())
                                               .count()),
                8, &report[6]);
            sendInput(report);
            if (++floodSent_ == options_.floodCount)
                flooding_ = false;
        }
        floodLongestBurst_ = std::max(floodLongestBurst_, floodSent_ - sentBefore);
    }

    static void putBigEndian(std::uint64_t value, int bytes, std::uint8_t* to) {
        for (int byte = 0; byte < bytes; ++byte)
            to[byte] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - byte)));
    }

    // Null (wait for an event) while nothing is due.
    const timespec* timeToNextDue() {
        auto next = Clock::time_point::max();
        if (!pending_.empty())
            next = pending_.front().due;
        if (flooding_)
            next = std::min(next, nextFloodDue());
        if (next == Clock::time_point::max())
            return nullptr;
        const auto wait = std::max<Clock::duration>(Clock::duration::zero(), next - Clock::now());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        wait_.tv_sec = seconds.count();
        wait_.tv_nsec =
            std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count();
        return &wait_;
    }

    const Options options_;
    int fd_ = -1;
    bool destroyed_ = false;
    long outputReports_ = 0;
    platform::SimLocatorAnswers answers_;
    std::deque<PendingAnswer> pending_; // due in order: every answer waits the same time
    bool flooding_ = false;
    long floodSent_ = 0;
    long floodSentAtStart_ = 0;
    long floodRestarts_ = 0;
    long floodLongestBurst_ = 0;
    Clock::time_point floodStart_;
    Clock::time_point floodFirst_; // the stream's first and latest report
    Clock::time_point floodLast_;
    timespec wait_{};
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: tarvex_uhid_device [--keyboard] [--name TEXT] [--serial TEXT] "
                             "[--unplug-after N] [--slow MS] [--flood RATE COUNT]\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);

    UhidDevice device(options);
    if (!device.create())
        return 1;
    return device.run(waitMask) ? 0 : 1;
}
