#include "platform/sources/SimRecording.h"

#include "platform/sources/ScenarioText.h"

#include <map>
#include <new>
#include <set>

namespace platform {

namespace {

using namespace scenario_text;

// "X: " keys, the two characters before the blank.
bool isRecorderKey(std::string_view line) {
    static constexpr std::string_view keys = "DRNPIE";
    return line.size() >= 2 && line[1] == ':' && keys.find(line[0]) != std::string_view::npos &&
           (line.size() == 2 || isBlank(line[2]));
}

class RecordingParser {
public:
    explicit RecordingParser(ScenarioError& error) : error_(error) {}

    std::optional<Recording> parse(std::string_view text) {
        const bool read = forEachLine(text, [this](int number, std::string_view line) {
            line_ = number;
            return parseLine(trimmed(line));
        });
        if (!read)
            return std::nullopt;
        for (const RecordedDevice& device : recording_.devices) {
            line_ = device.line;
            if (device.descriptor.empty())
                return fail("device " + std::to_string(device.index) + " has no 'R:' line");
            if (!idsSeen_.count(device.index))
                return fail("device " + std::to_string(device.index) + " has no 'I:' line");
        }
        if (recording_.devices.empty()) {
            line_ = 0;
            return fail("the recording describes no device");
        }
        return std::move(recording_);
    }

private:
    std::nullopt_t fail(std::string problem) {
        error_.line = line_;
        error_.problem = std::move(problem);
        return std::nullopt;
    }

    bool parseLine(std::string_view line) {
        if (line.empty() || line.front() == '#')
            return true;
        if (line.find('\0') != std::string_view::npos) {
            fail("the line holds a NUL byte; a recording is a text file");
            return false;
        }
        if (!isRecorderKey(line)) {
            fail("not a recording line: " + quoted(line) +
                 "; lines start with D:, R:, N:, P:, "
                 "I:, E: or #");
            return false;
        }
        const char key = line[0];
        const std::string_view value = trimmed(line.substr(2));
        switch (key) {
        case 'D':
            return selectDevice(value);
        case 'R':
            return descriptor(value);
        case 'N':
            current().name = std::string(value);
            return true;
        case 'P':
            current().physicalPath = std::string(value);
            return true;
        case 'I':
            return ids(value);
        default:
            return event(value);
        }
    }

    bool selectDevice(std::string_view value) {
        const auto index = parseDecimal(value, recording_limits::MaxDeviceIndex);
        if (!index) {
            fail("'D:' needs a device number from 0 to " +
                 std::to_string(recording_limits::MaxDeviceIndex) + ", not " + quoted(value));
            return false;
        }
        currentIndex_ = static_cast<int>(*index);
        return true;
    }

    // The device of the last D: line, named here for the first time or found again.
    RecordedDevice& current() {
        const auto [it, added] = positions_.emplace(currentIndex_, recording_.devices.size());
        if (added) {
            RecordedDevice& device = recording_.devices.emplace_back();
            device.index = currentIndex_;
            device.line = line_;
        }
        return recording_.devices[it->second];
    }

    // "LEN b1 b2 ...": the count first, then exactly that many bytes as hex pairs.
    bool countedBytes(std::string_view value, std::size_t limit, const char* what,
                      std::vector<std::uint8_t>& into) {
        const auto [countText, rest] = firstWord(value);
        const auto count = parseDecimal(countText, limit);
        if (!count || *count == 0) {
            fail(std::string(what) + " must start with its length, 1 to " + std::to_string(limit) +
                 ", not " + quoted(countText));
            return false;
        }
        std::size_t found = 0;
        for (std::string_view bytes = rest; !bytes.empty(); ++found) {
            const auto [word, after] = firstWord(bytes);
            const int high = word.size() == 2 ? hexDigit(word[0]) : -1;
            const int low = word.size() == 2 ? hexDigit(word[1]) : -1;
            if (high < 0 || low < 0) {
                fail(std::string(what) + ": " + quoted(word) + " is not a byte in two hex digits");
                return false;
            }
            if (found == *count) {
                fail(std::string(what) + " holds more than the " + std::to_string(*count) +
                     " bytes its length says");
                return false;
            }
            into.push_back(static_cast<std::uint8_t>(high * 16 + low));
            bytes = after;
        }
        if (found != *count) {
            fail(std::string(what) + " holds " + std::to_string(found) + " bytes, not the " +
                 std::to_string(*count) + " its length says");
            return false;
        }
        return true;
    }

    bool descriptor(std::string_view value) {
        RecordedDevice& device = current();
        if (!device.descriptor.empty()) {
            fail("device " + std::to_string(device.index) + " has a second 'R:' line");
            return false;
        }
        return countedBytes(value, scenario_limits::MaxDescriptorBytes, "'R:'", device.descriptor);
    }

    bool ids(std::string_view value) {
        const auto [busText, rest] = firstWord(value);
        const auto [vendorText, productText] = firstWord(rest);
        const auto bus = parseId(busText);
        const auto vendor = parseId(vendorText);
        const auto product = parseId(productText);
        if (!bus || !vendor || !product) {
            fail("'I:' needs bus, vendor and product as hex numbers of up to 4 digits, not " +
                 quoted(value));
            return false;
        }
        RecordedDevice& device = current();
        device.bus = *bus;
        device.vendorId = *vendor;
        device.productId = *product;
        idsSeen_.insert(device.index);
        return true;
    }

    // "SSSSSS.UUUUUU": seconds, a point and six digits of microseconds.
    std::optional<std::chrono::microseconds> time(std::string_view text) {
        const auto point = text.find('.');
        if (point == std::string_view::npos || text.size() - point - 1 != 6)
            return std::nullopt;
        const auto seconds = parseDecimal(text.substr(0, point), 999'999'999);
        const auto micros = parseDecimal(text.substr(point + 1), 999'999);
        if (!seconds || !micros)
            return std::nullopt;
        return std::chrono::seconds(*seconds) + std::chrono::microseconds(*micros);
    }

    bool event(std::string_view value) {
        const auto [timeText, rest] = firstWord(value);
        const auto at = time(timeText);
        if (!at) {
            fail("'E:' must start with the time as seconds.microseconds (000001.000250), not " +
                 quoted(timeText));
            return false;
        }
        const std::size_t offset = recording_.bytes.size();
        if (!countedBytes(rest, scenario_limits::MaxReportBytes, "'E:'", recording_.bytes))
            return false;
        const auto device = static_cast<std::size_t>(&current() - recording_.devices.data());
        recording_.reports.push_back({device, *at, offset, recording_.bytes.size() - offset});
        return true;
    }

    ScenarioError& error_;
    Recording recording_;
    int line_ = 0;
    int currentIndex_ = 0;
    std::map<int, std::size_t> positions_; // D: number -> position in recording_.devices
    std::set<int> idsSeen_;
};

} // namespace

bool looksLikeRecording(std::string_view text) {
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line != "\r" && line.front() != '#')
            return isRecorderKey(line);
    }
    return false;
}

std::optional<Recording> parseRecording(std::string_view text, ScenarioError& error) {
    if (text.size() > recording_limits::MaxFileBytes) {
        error = {0, "the recording is larger than " +
                        std::to_string(recording_limits::MaxFileBytes) + " bytes"};
        return std::nullopt;
    }
    try {
        return RecordingParser(error).parse(text);
    } catch (const std::bad_alloc&) {
        error = {0, "out of memory while reading the recording"};
        return std::nullopt;
    }
}

} // namespace platform
