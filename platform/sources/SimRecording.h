#pragma once
// Recordings in the line format of hid-recorder (hid-tools), which the Linux HID tools share:
//
//   # text                  a comment; readers skip it
//   D: N                    the lines below belong to device N (0 until the first D: line)
//   R: LEN hex bytes        the device's report descriptor
//   N: name                 its name
//   P: physical path        where it was attached
//   I: bus vendor product   three hex numbers, as in "I: 3 3f7c 5a21"
//   E: SSSSSS.UUUUUU LEN hex bytes
//                           one input report as the device node handed it out (no report ID
//                           byte for a device without numbered reports), seconds and
//                           microseconds after the recording began
//
// Blank lines are skipped. Every device needs its R: and I: lines. Anything else is refused
// with the line and the problem named, as a scenario is.

#include "platform/sources/SimScenario.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace recording_limits {
constexpr std::size_t MaxFileBytes = 512u * 1024 * 1024;
constexpr int MaxDeviceIndex = 9999;
} // namespace recording_limits

struct RecordedDevice {
    int index = 0; // its D: number
    int line = 0;  // where the file first names it
    std::string name;
    std::string physicalPath;
    std::uint16_t bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<std::uint8_t> descriptor;
};

struct RecordedReport {
    std::size_t device; // position in Recording::devices
    std::chrono::microseconds at;
    std::size_t offset; // of its bytes in Recording::bytes
    std::size_t length;
};

struct Recording {
    std::vector<RecordedDevice> devices; // in the order the file names them
    std::vector<RecordedReport> reports; // in file order
    std::vector<std::uint8_t> bytes;     // every report's bytes, one after the other

    std::vector<std::uint8_t> reportBytes(const RecordedReport& report) const {
        return {bytes.begin() + static_cast<std::ptrdiff_t>(report.offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(report.offset + report.length)};
    }
};

// Whether the first line that is neither blank nor a comment is one of the keys above.
bool looksLikeRecording(std::string_view text);
// Never throws; on any fault fills error and returns nothing.
std::optional<Recording> parseRecording(std::string_view text, ScenarioError& error);

} // namespace platform
