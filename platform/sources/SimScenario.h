#pragma once
// A scenario file describes the simulated devices the tool starts on, so that a situation met
// on a customer's machine can be reproduced without the hardware. The format is line-oriented:
// one setting per line, a keyword and its value separated by blanks. Blank lines and lines
// whose first non-blank character is '#' are skipped. Keywords are lower case.
//
//   device [locator|keyboard|mouse]   starts a device, taking everything not set below from
//                                     that built-in device (default: locator)
//   vid HEX / pid HEX                 vendor and product identifier, 1 to 4 hex digits
//   manufacturer TEXT / product TEXT / serial TEXT
//                                     the strings (UTF-8, up to 126 characters; the rest of
//                                     the line, so they may contain blanks)
//   descriptor locator|keyboard|mouse|HEX
//                                     the report descriptor: a built-in one, or its bytes as
//                                     hex digit pairs, blanks between bytes optional
//   access read-write|denied          whether an open for reading and writing succeeds
//   grant MS                          read-write access is allowed from MS on
//   answer echo|silent|report HEX     how output reports are answered: the locator protocol
//                                     (echo the command with the configuration), never, or
//                                     always with the input report HEX (report ID first)
//   late MS                           answers go out MS after the output report
//   stream RATE HEX                   sends the input report HEX RATE times a second while
//                                     the device is attached
//   attached yes|no                   whether the device is plugged in at the start
//   unplug MS / plug MS               the device is unplugged or plugged back MS after the
//                                     start; repeatable, and must alternate in time order
//
// Reports start with their report ID byte, 00 on a device whose descriptor declares none.
// Times are milliseconds from the start. Example, a locator that answers half a second late
// and is pulled out for two seconds after ten:
//
//   device locator
//   serial CUST-0042
//   late 500
//   unplug 10000
//   plug 12000
//
// Everything is bounded (see the limits below); a file that breaks any rule is refused as a
// whole with one message naming the line and the problem.
//
// A file in the hid-recorder line format (SimRecording.h) is a scenario too: each of its
// devices is attached at the start, answers nothing, and sends its recorded input reports at
// their recorded times.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace scenario_limits {
constexpr std::size_t MaxFileBytes = 1024 * 1024;
constexpr std::size_t MaxLineLength = 32 * 1024;
constexpr std::size_t MaxDevices = 64;
constexpr std::size_t MaxEventsPerDevice = 1000;
constexpr std::size_t MaxStringLength = 126; // UTF-16 units, as a USB string descriptor holds
constexpr std::size_t MaxDescriptorBytes = 8192;
constexpr std::size_t MaxReportBytes = 4096;
constexpr unsigned MaxStreamRate = 20000; // per device, and for all devices together
constexpr std::chrono::milliseconds MaxTime{24 * 60 * 60 * 1000};
constexpr std::chrono::milliseconds MaxLate{60 * 1000};
} // namespace scenario_limits

enum class SimBuiltIn { Locator, Keyboard, Mouse };
enum class SimAnswer { Echo, Silent, Report };

struct ScenarioEvent {
    enum class Kind { Unplug, Plug, Grant };
    Kind kind;
    std::chrono::milliseconds at;
    int line; // where the file sets it
};

// One device as the file describes it; unset values come from the built-in device.
struct ScenarioDevice {
    int line = 0; // of its "device" line
    SimBuiltIn base = SimBuiltIn::Locator;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::optional<std::u16string> manufacturer;
    std::optional<std::u16string> product;
    std::optional<std::u16string> serialNumber;
    std::optional<SimBuiltIn> builtInDescriptor;
    std::optional<std::vector<std::uint8_t>> descriptor;
    bool readWriteDenied = false;
    std::optional<SimAnswer> answer;
    std::vector<std::uint8_t> answerReport; // for SimAnswer::Report
    std::chrono::milliseconds late{0};
    unsigned streamRate = 0; // reports a second; 0: no stream
    std::vector<std::uint8_t> streamReport;
    bool attachedAtStart = true;
    std::vector<ScenarioEvent> timeline; // in time order; equal times in file order
};

struct Recording;

struct Scenario {
    std::vector<ScenarioDevice> devices;
    // For a recording: its reports, devices[i] playing its i-th device.
    std::shared_ptr<const Recording> recording;
};

struct ScenarioError {
    int line = 0; // 0: the file as a whole
    std::string problem;

    std::string message() const; // "line 7: ..." or the problem alone
};

// Never throws; on any fault fills error and returns nothing. Takes recordings as well.
std::optional<Scenario> parseScenario(std::string_view text, ScenarioError& error);
std::optional<Scenario> loadScenarioFile(const std::string& path, ScenarioError& error);

} // namespace platform
