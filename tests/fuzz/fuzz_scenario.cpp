// Feeds arbitrary bytes to the scenario reader and checks what any outcome must be: a refusal
// names a line of the input (or none) and a problem; an accepted scenario keeps every bound and
// has a timeline that alternates between unplugged and plugged in. A final newline or CR LF
// line ends never change the outcome.

#include "platform/sources/SimScenario.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace platform;
using namespace platform::scenario_limits;

void require(bool condition) {
    if (!condition)
        std::abort();
}

void checkDevice(const ScenarioDevice& device) {
    require(device.line > 0);
    require(!device.descriptor ||
            (!device.descriptor->empty() && device.descriptor->size() <= MaxDescriptorBytes));
    require(device.late <= MaxLate);
    require(device.streamRate <= MaxStreamRate);
    require((device.streamRate == 0) == device.streamReport.empty());
    require(device.streamReport.size() <= MaxReportBytes);
    require(device.answerReport.size() <= MaxReportBytes);
    require(device.timeline.size() <= MaxEventsPerDevice);
    for (const auto* text : {&device.manufacturer, &device.product, &device.serialNumber}) {
        require(!*text || (*text)->size() <= MaxStringLength);
    }
    bool attached = device.attachedAtStart;
    std::chrono::milliseconds last{0};
    for (const ScenarioEvent& event : device.timeline) {
        require(event.at >= last && event.at <= MaxTime);
        last = event.at;
        if (event.kind == ScenarioEvent::Kind::Grant) {
            require(device.readWriteDenied);
            continue;
        }
        require(attached == (event.kind == ScenarioEvent::Kind::Unplug));
        attached = !attached;
    }
}

std::string withCrLf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ScenarioError error;
    const auto scenario = parseScenario(text, error);
    if (scenario) {
        require(!scenario->devices.empty() && scenario->devices.size() <= MaxDevices);
        unsigned long total = 0;
        for (const ScenarioDevice& device : scenario->devices) {
            checkDevice(device);
            total += device.streamRate;
        }
        require(total <= MaxStreamRate);
    } else {
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        require(error.line >= 0 && error.line <= lines);
        require(!error.problem.empty());
    }

    if (size >= MaxFileBytes / 2)
        return 0; // the variants below could cross the size limit
    ScenarioError again;
    const auto ended = parseScenario(std::string(text) + "\n", again);
    require(ended.has_value() == scenario.has_value());
    require(again.message() == error.message());
    // Lines already ending in CR would end in two; only clean LF text is compared.
    if (text.find('\r') == std::string_view::npos) {
        const auto crlf = parseScenario(withCrLf(text), again);
        require(crlf.has_value() == scenario.has_value());
        require(crlf || again.line == error.line);
    }
    return 0;
}
