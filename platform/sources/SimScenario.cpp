#include "platform/sources/SimScenario.h"

#include "platform/sources/ScenarioText.h"
#include "platform/sources/SimRecording.h"
#include "platform/win32/Utf16.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <vector>

namespace platform {

namespace {

using namespace scenario_limits;
using namespace scenario_text;

std::optional<SimBuiltIn> parseBuiltIn(std::string_view name) {
    if (name == "locator") {
        return SimBuiltIn::Locator;
    }
    if (name == "keyboard") {
        return SimBuiltIn::Keyboard;
    }
    if (name == "mouse") {
        return SimBuiltIn::Mouse;
    }
    return std::nullopt;
}

const char* eventName(ScenarioEvent::Kind kind) {
    switch (kind) {
    case ScenarioEvent::Kind::Unplug:
        return "unplug";
    case ScenarioEvent::Kind::Plug:
        return "plug";
    case ScenarioEvent::Kind::Grant:
        return "grant";
    }
    return "";
}

class Parser {
public:
    explicit Parser(ScenarioError& error) : error_(error) {}

    std::optional<Scenario> parse(std::string_view text) {
        const bool read = forEachLine(text, [this](int number, std::string_view line) {
            line_ = number;
            return parseLine(line);
        });
        if (!read) {
            return std::nullopt;
        }
        if (!finishDevice()) {
            return std::nullopt;
        }
        if (scenario_.devices.empty()) {
            line_ = 0;
            fail("the file describes no device; it needs at least one 'device' line");
            return std::nullopt;
        }
        return std::move(scenario_);
    }

private:
    using Setting = bool (Parser::*)(std::string_view value);

    bool fail(std::string problem) {
        error_.line = line_;
        error_.problem = std::move(problem);
        return false;
    }

    bool parseLine(std::string_view line) {
        if (line.size() > MaxLineLength) {
            return fail("the line is longer than " + std::to_string(MaxLineLength) + " characters");
        }
        if (line.find('\0') != std::string_view::npos) {
            return fail("the line holds a NUL byte; a scenario is a text file");
        }
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            return true;
        }
        const auto [keyword, value] = firstWord(line);
        static const std::map<std::string_view, Setting> settings = {
            {"device", &Parser::device},
            {"vid", &Parser::vendorId},
            {"pid", &Parser::productId},
            {"manufacturer", &Parser::manufacturer},
            {"product", &Parser::product},
            {"serial", &Parser::serial},
            {"descriptor", &Parser::descriptor},
            {"access", &Parser::access},
            {"grant", &Parser::grant},
            {"answer", &Parser::answer},
            {"late", &Parser::late},
            {"stream", &Parser::stream},
            {"attached", &Parser::attached},
            {"unplug", &Parser::unplug},
            {"plug", &Parser::plug},
        };
        const auto setting = settings.find(keyword);
        if (setting == settings.end()) {
            return fail("unknown setting " + quoted(keyword));
        }
        if (keyword != "device" && !settingAllowed(keyword)) {
            return false;
        }
        return (this->*setting->second)(value);
    }

    // A setting needs a device to belong to, and all but the timeline are set once a device.
    bool settingAllowed(std::string_view keyword) {
        if (scenario_.devices.empty()) {
            return fail(quoted(keyword) + " comes before the first 'device' line");
        }
        if (keyword == "grant" || keyword == "unplug" || keyword == "plug") {
            return true;
        }
        const auto [it, first] = setOnLine_.emplace(std::string(keyword), line_);
        if (!first) {
            return fail(quoted(keyword) + " is already set for this device on line " +
                        std::to_string(it->second));
        }
        return true;
    }

    ScenarioDevice& current() { return scenario_.devices.back(); }

    bool device(std::string_view value) {
        if (!finishDevice()) {
            return false;
        }
        if (scenario_.devices.size() == MaxDevices) {
            return fail("more than " + std::to_string(MaxDevices) + " devices");
        }
        ScenarioDevice next;
        next.line = line_;
        if (!value.empty()) {
            const auto base = parseBuiltIn(value);
            if (!base) {
                return fail("unknown built-in device " + quoted(value) +
                            "; use locator, keyboard or mouse");
            }
            next.base = *base;
        }
        scenario_.devices.push_back(std::move(next));
        setOnLine_.clear();
        return true;
    }

    bool id(std::string_view value, std::optional<std::uint16_t>& target, const char* what) {
        const auto id = parseId(value);
        if (!id) {
            return fail(std::string(what) + " must be 1 to 4 hex digits, not " + quoted(value));
        }
        target = id;
        return true;
    }
    bool vendorId(std::string_view value) { return id(value, current().vendorId, "vid"); }
    bool productId(std::string_view value) { return id(value, current().productId, "pid"); }

    bool text(std::string_view value, std::optional<std::u16string>& target) {
        std::u16string converted = utf16FromUtf8(std::string(value));
        if (converted.size() > MaxStringLength) {
            return fail("the string is longer than " + std::to_string(MaxStringLength) +
                        " characters");
        }
        target = std::move(converted);
        return true;
    }
    bool manufacturer(std::string_view value) { return text(value, current().manufacturer); }
    bool product(std::string_view value) { return text(value, current().product); }
    bool serial(std::string_view value) { return text(value, current().serialNumber); }

    // Hex digit pairs, blanks allowed between bytes, 1 to limit bytes.
    std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view value, std::size_t limit,
                                                      const char* what) {
        std::vector<std::uint8_t> bytes;
        while (!value.empty()) {
            const auto [word, rest] = firstWord(value);
            if (word.size() % 2 != 0) {
                fail(std::string(what) + ": " + quoted(word) +
                     " has an odd number of hex digits; write each byte as two");
                return std::nullopt;
            }
            for (std::size_t i = 0; i < word.size(); i += 2) {
                const int high = hexDigit(word[i]);
                const int low = hexDigit(word[i + 1]);
                if (high < 0 || low < 0) {
                    fail(std::string(what) + ": " + quoted(word) + " is not hex");
                    return std::nullopt;
                }
                if (bytes.size() == limit) {
                    fail(std::string(what) + " is longer than " + std::to_string(limit) + " bytes");
                    return std::nullopt;
                }
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            }
            value = rest;
        }
        if (bytes.empty()) {
            fail(std::string(what) + " needs at least one byte in hex");
            return std::nullopt;
        }
        return bytes;
    }

    bool descriptor(std::string_view value) {
        if (const auto builtIn = parseBuiltIn(value)) {
            current().builtInDescriptor = builtIn;
            return true;
        }
        auto bytes = hexBytes(value, MaxDescriptorBytes, "the descriptor");
        current().descriptor = std::move(bytes);
        return current().descriptor.has_value();
    }

    bool access(std::string_view value) {
        if (value != "read-write" && value != "denied") {
            return fail("access must be read-write or denied, not " + quoted(value));
        }
        current().readWriteDenied = value == "denied";
        return true;
    }

    bool answer(std::string_view value) {
        const auto [mode, rest] = firstWord(value);
        if ((mode == "echo" || mode == "silent") && !rest.empty()) {
            return fail("'answer " + std::string(mode) + "' takes nothing after it");
        }
        if (mode == "echo") {
            current().answer = SimAnswer::Echo;
        } else if (mode == "silent") {
            current().answer = SimAnswer::Silent;
        } else if (mode == "report") {
            auto report = hexBytes(rest, MaxReportBytes, "the answer report");
            if (!report) {
                return false;
            }
            current().answer = SimAnswer::Report;
            current().answerReport = std::move(*report);
        } else {
            return fail("answer must be echo, silent or report followed by hex, not " +
                        quoted(value));
        }
        return true;
    }

    std::optional<std::chrono::milliseconds>
    time(std::string_view value, std::chrono::milliseconds limit, const char* what) {
        const auto ms = parseDecimal(value, static_cast<unsigned long>(limit.count()));
        if (!ms) {
            fail(std::string(what) + " must be a whole number of milliseconds from 0 to " +
                 std::to_string(limit.count()) + ", not " + quoted(value));
            return std::nullopt;
        }
        return std::chrono::milliseconds(*ms);
    }

    bool late(std::string_view value) {
        const auto delay = time(value, MaxLate, "late");
        if (delay) {
            current().late = *delay;
        }
        return delay.has_value();
    }

    bool stream(std::string_view value) {
        const auto [rateText, reportText] = firstWord(value);
        const auto rate = parseDecimal(rateText, MaxStreamRate);
        if (!rate || *rate == 0) {
            return fail("the stream rate must be a whole number of reports a second from 1 to " +
                        std::to_string(MaxStreamRate) + ", not " + quoted(rateText));
        }
        if (streamTotal_ + *rate > MaxStreamRate) {
            return fail("the streams of all devices together would send more than " +
                        std::to_string(MaxStreamRate) + " reports a second");
        }
        auto report = hexBytes(reportText, MaxReportBytes, "the stream report");
        if (!report) {
            return false;
        }
        streamTotal_ += *rate;
        current().streamRate = static_cast<unsigned>(*rate);
        current().streamReport = std::move(*report);
        return true;
    }

    bool attached(std::string_view value) {
        if (value != "yes" && value != "no") {
            return fail("attached must be yes or no, not " + quoted(value));
        }
        current().attachedAtStart = value == "yes";
        return true;
    }

    bool event(std::string_view value, ScenarioEvent::Kind kind) {
        if (current().timeline.size() == MaxEventsPerDevice) {
            return fail("more than " + std::to_string(MaxEventsPerDevice) +
                        " plug, unplug and grant lines for one device");
        }
        const auto at = time(value, MaxTime, eventName(kind));
        if (at) {
            current().timeline.push_back({kind, *at, line_});
        }
        return at.has_value();
    }
    bool grant(std::string_view value) { return event(value, ScenarioEvent::Kind::Grant); }
    bool unplug(std::string_view value) { return event(value, ScenarioEvent::Kind::Unplug); }
    bool plug(std::string_view value) { return event(value, ScenarioEvent::Kind::Plug); }

    // Puts the device's timeline in time order and checks that it makes sense.
    bool finishDevice() {
        if (scenario_.devices.empty()) {
            return true;
        }
        ScenarioDevice& device = current();
        std::stable_sort(device.timeline.begin(), device.timeline.end(),
                         [](const auto& a, const auto& b) { return a.at < b.at; });
        bool attached = device.attachedAtStart;
        for (const ScenarioEvent& event : device.timeline) {
            line_ = event.line;
            switch (event.kind) {
            case ScenarioEvent::Kind::Unplug:
                if (!attached) {
                    return fail("'unplug " + std::to_string(event.at.count()) +
                                "' finds the device already unplugged");
                }
                attached = false;
                break;
            case ScenarioEvent::Kind::Plug:
                if (attached) {
                    return fail("'plug " + std::to_string(event.at.count()) +
                                "' finds the device already plugged in");
                }
                attached = true;
                break;
            case ScenarioEvent::Kind::Grant:
                if (!device.readWriteDenied) {
                    return fail("'grant' needs 'access denied' for this device");
                }
                break;
            }
        }
        return true;
    }

    ScenarioError& error_;
    Scenario scenario_;
    int line_ = 0;
    std::map<std::string, int, std::less<>> setOnLine_; // the current device's settings
    unsigned long streamTotal_ = 0;
};

} // namespace

std::string ScenarioError::message() const {
    return line > 0 ? "line " + std::to_string(line) + ": " + problem : problem;
}

namespace {

// Each recorded device as a silent device of its own identity and descriptor.
Scenario scenarioOfRecording(Recording recording) {
    Scenario scenario;
    for (const RecordedDevice& recorded : recording.devices) {
        ScenarioDevice& device = scenario.devices.emplace_back();
        device.line = recorded.line;
        device.vendorId = recorded.vendorId;
        device.productId = recorded.productId;
        std::u16string name = utf16FromUtf8(recorded.name);
        name.resize(std::min(name.size(), MaxStringLength));
        device.product = std::move(name);
        device.manufacturer = u"";
        device.serialNumber = u"";
        device.descriptor = recorded.descriptor;
        device.answer = SimAnswer::Silent;
    }
    scenario.recording = std::make_shared<const Recording>(std::move(recording));
    return scenario;
}

} // namespace

std::optional<Scenario> parseScenario(std::string_view text, ScenarioError& error) {
    if (looksLikeRecording(text)) {
        auto recording = parseRecording(text, error);
        if (!recording) {
            return std::nullopt;
        }
        return scenarioOfRecording(std::move(*recording));
    }
    if (text.size() > MaxFileBytes) {
        error = {0, "the file is larger than " + std::to_string(MaxFileBytes) + " bytes"};
        return std::nullopt;
    }
    try {
        return Parser(error).parse(text);
    } catch (const std::bad_alloc&) {
        error = {0, "out of memory while reading the file"};
        return std::nullopt;
    }
}

std::optional<Scenario> loadScenarioFile(const std::string& path, ScenarioError& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = {0, std::string("cannot open the file: ") + std::strerror(errno)};
        return std::nullopt;
    }
    // Up to one byte more than a recording may hold, to tell a file at the limit from one
    // beyond it; a scenario's own, smaller limit is checked once the kind of file is known.
    std::string text;
    std::vector<char> chunk(64 * 1024);
    std::size_t got = 0;
    while (text.size() <= recording_limits::MaxFileBytes &&
           (got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        text.append(chunk.data(), got);
    }
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    std::fclose(file);
    if (failed) {
        error = {0, std::string("cannot read the file: ") + std::strerror(readError)};
        return std::nullopt;
    }
    return parseScenario(text, error);
}

} // namespace platform
