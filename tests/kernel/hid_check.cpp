// Drives the HID layer and the locator's protocol the way the window does, without a window:
// a controller on the device source TARVEX_HID_PLATFORM chooses, the locator checked out on
// ten attempts half a second apart, commands sent on the command road, and answers judged by
// the same comparisons. The kernel check runs it inside the VM against uhid devices.
//
//   tarvex_hidcheck list                   every listed device: ids, name, serial, node
//   tarvex_hidcheck read                   connects and prints the locator's configuration
//   tarvex_hidcheck set LOCATION_ID EXT1   writes the configuration read back with these two
//                                          fields changed, and verifies the answer
//   tarvex_hidcheck reset                  writes the factory defaults and verifies the answer
//   tarvex_hidcheck flood COUNT SECONDS    connects and counts a stream of numbered reports
//   tarvex_hidcheck replug SECONDS         prints "watching" once the locator is listed, then
//                                          waits for it to leave and come back
//
// Exit status: 0 done, 1 the device answered wrongly or lost reports, 2 bad arguments,
// 3 the device may not be opened (the permission message is printed), 4 the device went away
// (printed as "device gone"), 5 no locator or no answer in time.

#include "hid/HidControllerClass.h"
#include "locator/DeviceAccess.h"
#include "locator/DeviceCommand.h"
#include "locator/LocatorAnswer.h"
#include "locator/LocatorReport.h"
#include "platform/base/Convert.h"
#include "platform/device/DeviceSource.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"
#include "platform/sources/LinuxDeviceSource.h"
#include "platform/uithread/EventLoop.h"
#include "platform/win32/Utf16.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLocatorVID = 0x3F7C;
constexpr int kLocatorPID = 0x5A21;
constexpr int kConnectAttempts = 10;
constexpr auto kAttemptInterval = std::chrono::milliseconds(500);
constexpr auto kAnswerDeadline = std::chrono::seconds(10);
constexpr std::uint8_t kFloodMarker = 'F';

enum ExitStatus {
    Done = 0,
    WrongAnswer = 1,
    BadArguments = 2,
    PermissionDenied = 3,
    DeviceGone = 4,
    NothingInTime = 5,
};

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Pumps the UI thread's messages and synchronized procedures until the condition holds or the
// deadline passes; whether it holds.
bool pumpUntil(const std::function<bool()>& condition, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        platform::PumpMessages();
        if (condition())
            return true;
        if (Clock::now() >= deadline)
            return false;
        platform::WaitForPostedWork(10);
    }
}

std::string utf8(const std::u16string& text) {
    return platform::utf8FromUtf16(text.c_str());
}

// The device's serial number as the HID class call reports it (on Linux the kernel's HID_UNIQ).
std::string serialOf(THidDevice* device) {
    char16_t buffer[127] = {};
    if (!device->OpenFile())
        return "";
    const bool read = HidD_GetSerialNumberString(device->HidFileHandle(), buffer, sizeof buffer);
    device->CloseFile();
    return read ? utf8(buffer) : "";
}

// One controller and at most one connected locator, as the window holds them. Handlers the
// device holds call into the session, which outlives the device.
class Session {
public:
    Session() {
        controller_.SetOnDeviceUnplug(THidPlugEvent(std::function<void(THidDevice*)>(
            [this](THidDevice* device) { deviceUnplugged(device); })));
        // The controller lists the devices at the first pass of the loop.
        pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    }
    ~Session() {
        // Workers still waiting for this thread finish before the device goes.
        pumpUntil([] { return CommandsInFlight() == 0; }, std::chrono::seconds(2));
        delete device_;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    THidDeviceController& controller() { return controller_; }
    THidDevice* device() const { return device_; }
    bool gone() const { return gone_; }

    // Checks the locator out on up to ten attempts; Done, PermissionDenied or NothingInTime.
    ExitStatus connect() {
        std::string deniedPath;
        for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
            if (attempt > 0)
                pumpUntil([] { return false; }, kAttemptInterval);
            controller_.CheckIn(device_);
            if (!controller_.CheckOutByID(device_, kLocatorVID, kLocatorPID))
                continue;
            if (!device_->HasReadWriteAccess()) {
                deniedPath = utf8(device_->PnPInfo()->DevicePath());
                controller_.CheckIn(device_);
                continue;
            }
            device_->SetNumInputBuffers(64);
            device_->SetNumOverlappedBuffers(64);
            device_->SetOnDataError(THidDataErrorEvent(std::function<void(THidDevice*, DWORD)>(
                [this](THidDevice*, DWORD) { noteDataError(); })));
            return Done;
        }
        if (!deniedPath.empty()) {
            std::printf("%s\n", PermissionDeniedText(deniedPath).c_str());
            return PermissionDenied;
        }
        std::printf("no locator\n");
        return NothingInTime;
    }

    // Starts one command on the connected device; the handler takes what the device sends.
    void send(std::uint8_t code, std::function<void(TReport&)> complete, THidDataEvent handler) {
        TDeviceCommand command;
        command.Prepare = [code](TReport& HidData) { HidData.Data[0] = code; };
        command.Complete = std::move(complete);
        command.Handler = std::move(handler);
        sentAt_ = Clock::now();
        StartDeviceCommand([this] { return device_; }, std::move(command));
    }

    // Sends one command and waits for its answer (the first report whose first data byte
    // echoes the command), the device leaving, or the deadline.
    ExitStatus command(std::uint8_t code, std::function<void(TReport&)> complete,
                       std::vector<std::uint8_t>& answer) {
        awaited_ = code;
        answer_.reset();
        send(code, std::move(complete),
             THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
                 [this](THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
                     if (!answer_ && Size > 0 && Data[0] == awaited_)
                         answer_.emplace(Data, Data + Size);
                 })));
        pumpUntil([&] { return answer_ || gone_; }, kAnswerDeadline);
        if (answer_) {
            answer = *answer_;
            return Done;
        }
        if (gone_)
            return reportGone();
        std::printf("no answer in time\n");
        return NothingInTime;
    }

    // How a command cut short by the device leaving ended: when the reader saw the error and
    // when the unplug reached this thread, counted from the command's start.
    ExitStatus reportGone() const {
        const auto since = [&](Clock::time_point at) {
            return std::to_string(
                       std::chrono::duration_cast<std::chrono::milliseconds>(at - sentAt_)
                           .count()) +
                   " ms";
        };
        std::printf("device gone: data error after %s, unplug after %s, %d commands in flight\n",
                    dataErrorAt_ ? since(*dataErrorAt_).c_str() : "none", since(goneAt_).c_str(),
                    CommandsInFlight());
        return DeviceGone;
    }

private:
    void deviceUnplugged(THidDevice* device) {
        if (device == nullptr || device != device_)
            return;
        gone_ = true;
        goneAt_ = Clock::now();
        delete device_;
        device_ = nullptr;
    }
    void noteDataError() {
        if (!dataErrorAt_)
            dataErrorAt_ = Clock::now();
    }

    THidDeviceController controller_{nullptr, nullptr};
    THidDevice* device_ = nullptr;
    std::uint8_t awaited_ = 0;
    std::optional<std::vector<std::uint8_t>> answer_;
    bool gone_ = false;
    Clock::time_point sentAt_;
    Clock::time_point goneAt_;
    std::optional<Clock::time_point> dataErrorAt_;
};

// The 64 data bytes of an answer as the report text, or empty when it is short.
std::string answerText(const std::vector<std::uint8_t>& answer) {
    return answer.size() >= kReportDataBytes ? ReportText(answer.data()) : "";
}

ExitStatus connectAndRead(Session& session, std::vector<std::uint8_t>& answer) {
    if (const ExitStatus connected = session.connect(); connected != Done)
        return connected;
    return session.command(cmdReadConfig, nullptr, answer);
}

// Offers every device as the window's menu does, and reads its names while it is offered.
int list() {
    Session session;
    THidDeviceController& controller = session.controller();
    controller.OnEnumerate =
        THidEnumerateEvent(std::function<bool(THidDevice*, int)>([](THidDevice* device, int) {
            std::printf("%04X:%04X\t%s\t%s\t%s\n", device->Attributes().VendorID,
                        device->Attributes().ProductID, utf8(device->ProductName()).c_str(),
                        serialOf(device).c_str(), utf8(device->PnPInfo()->DevicePath()).c_str());
            return true;
        }));
    return controller.Enumerate() > 0 ? Done : NothingInTime;
}

int read() {
    Session session;
    std::vector<std::uint8_t> answer;
    if (const ExitStatus status = connectAndRead(session, answer); status != Done)
        return status;
    const std::string text = answerText(answer);
    if (text.empty()) {
        std::printf("short answer of %zu bytes\n", answer.size());
        return WrongAnswer;
    }
    std::printf("%s\n", text.substr(0, 17 * 3 - 1).c_str()); // the command and 16 fields
    return Done;
}

int set(const std::string& locationId, const std::string& ext1) {
    Session session;
    std::vector<std::uint8_t> answer;
    if (const ExitStatus status = connectAndRead(session, answer); status != Done)
        return status;
    if (answer.size() < kReportDataBytes)
        return WrongAnswer;
    TLocatorConfig config = DecodeLocatorConfig(answer.data());
    try {
        config.LocationID = static_cast<std::uint16_t>(StrToInt(locationId));
        config.Ext1 = static_cast<std::uint8_t>(StrToInt("$" + ext1));
    } catch (const EConvertError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return BadArguments;
    }
    TReport sent;
    const ExitStatus status = session.command(
        cmdWriteConfig,
        [&](TReport& HidData) {
            EncodeLocatorConfig(config, HidData);
            sent = HidData;
        },
        answer);
    if (status != Done)
        return status;
    // What the window's controls would show for the configuration sent, against the answer.
    const std::vector<std::string> failed =
        CompareLocatorUIValues(answerText(answer), SelectionFromReportText(ReportText(sent.Data)));
    for (const std::string& line : failed)
        std::printf("%s\n", line.c_str());
    std::printf("%s\n", failed.empty() ? "Configuration has been set."
                                       : "Configuration might not have been set correctly!");
    return failed.empty() ? Done : WrongAnswer;
}

int reset() {
    Session session;
    std::vector<std::uint8_t> answer;
    if (const ExitStatus status = connectAndRead(session, answer); status != Done)
        return status;
    const ExitStatus status = session.command(
        cmdWriteConfig, [](TReport& HidData) { EncodeLocatorConfig(kFactoryDefaults, HidData); },
        answer);
    if (status != Done)
        return status;
    const bool reset = MatchesFactoryDefaults(answerText(answer));
    std::printf("%s\n", reset ? "Factory reset complete."
                              : "Factory reset might not have been set correctly.");
    return reset ? Done : WrongAnswer;
}

// Counts a stream of numbered reports: data byte 0 'F', bytes 1-4 the number (big-endian).
struct StreamCount {
    long received = 0;
    long lost = 0;
    long outOfOrder = 0;
    std::uint32_t expected = 0;

    void take(const BYTE* Data, USHORT Size) {
        if (Size < 5 || Data[0] != kFloodMarker)
            return;
        const std::uint32_t number = (std::uint32_t{Data[1]} << 24) |
                                     (std::uint32_t{Data[2]} << 16) |
                                     (std::uint32_t{Data[3]} << 8) | Data[4];
        ++received;
        if (number < expected)
            ++outOfOrder;
        else
            lost += number - expected;
        expected = number + 1;
    }
};

// The stream starts once the device has answered a read.
int flood(long count, long seconds) {
    StreamCount stream; // before the session: the device's handler points at it
    Session session;
    if (const ExitStatus connected = session.connect(); connected != Done)
        return connected;
    const auto start = Clock::now();
    session.send(cmdReadConfig, nullptr,
                 THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
                     [&stream](THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
                         stream.take(Data, Size);
                     })));
    pumpUntil([&] { return stream.expected >= count || session.gone(); },
              std::chrono::seconds(seconds));
    const std::uint64_t dropped = session.device() ? session.device()->DroppedInputReports() : 0;
    const long long elapsed = std::max(1LL, millisecondsSince(start));
    const long late = count - static_cast<long>(stream.expected); // never seen: lost or unsent
    std::printf("received %ld of %ld in %lld ms (%lld a second): %ld missing in the sequence, "
                "%ld out of order, %llu dropped by the reader, %ld not arrived by the deadline\n",
                stream.received, count, elapsed, stream.received * 1000LL / elapsed, stream.lost,
                stream.outOfOrder, static_cast<unsigned long long>(dropped), late);
    const bool whole = stream.received == count && stream.lost == 0 && stream.outOfOrder == 0;
    return whole && dropped == 0 ? Done : WrongAnswer;
}

bool locatorListed(THidDeviceController& controller) {
    return controller.CountByID(kLocatorVID, kLocatorPID) > 0;
}

int replug(long seconds) {
    Session session;
    THidDeviceController& controller = session.controller();
    const auto timeout = std::chrono::seconds(seconds);
    if (!pumpUntil([&] { return locatorListed(controller); }, timeout)) {
        std::printf("no locator\n");
        return NothingInTime;
    }
    const auto* native =
        dynamic_cast<const platform::LinuxDeviceSource*>(&platform::deviceSource());
    std::printf("watching, hot-plug from %s\n",
                native ? platform::hotplugModeName(native->hotplugMode()) : "the simulation");
    std::fflush(stdout);
    if (!pumpUntil([&] { return !locatorListed(controller); }, timeout)) {
        std::printf("the locator never left\n");
        return NothingInTime;
    }
    const auto left = Clock::now();
    std::printf("gone\n");
    std::fflush(stdout);
    if (!pumpUntil([&] { return locatorListed(controller); }, timeout)) {
        std::printf("the locator never came back\n");
        return NothingInTime;
    }
    std::printf("back %lld ms after it left\n", millisecondsSince(left));
    return Done;
}

bool number(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value > 0;
}

int usage() {
    std::fprintf(stderr, "usage: tarvex_hidcheck list | read | set LOCATION_ID EXT1 | reset | "
                         "flood COUNT SECONDS | replug SECONDS\n");
    return BadArguments;
}

} // namespace

int main(int argc, char** argv) {
    auto source = platform::deviceSourceFromEnvironment();
    if (!source)
        return BadArguments;
    platform::installDeviceSource(std::move(source));
    const std::string verb = argc > 1 ? argv[1] : "";
    long first = 0, second = 0;
    int status = BadArguments;
    if (verb == "list" && argc == 2)
        status = list();
    else if (verb == "read" && argc == 2)
        status = read();
    else if (verb == "set" && argc == 4)
        status = set(argv[2], argv[3]);
    else if (verb == "reset" && argc == 2)
        status = reset();
    else if (verb == "flood" && argc == 4 && number(argv[2], first) && number(argv[3], second))
        status = flood(first, second);
    else if (verb == "replug" && argc == 3 && number(argv[2], first))
        status = replug(first);
    else
        return usage();
    std::fflush(stdout);
    platform::installDeviceSource(nullptr);
    return status;
}
