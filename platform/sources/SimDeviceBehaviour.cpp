#include "platform/sources/SimDeviceBehaviour.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::uint8_t LocatorReadCommand = 0x52;
constexpr std::uint8_t LocatorWriteCommand = 0x57;

// The locator's answer: the command byte echoed, the configuration, 0xFF to the end.
Report locatorAnswer(std::uint8_t command, const std::array<std::uint8_t, 16>& configuration) {
    Report answer(SimLocatorReportLength, 0xFF);
    answer[0] = 0;
    answer[1] = command;
    std::copy(configuration.begin(), configuration.end(), answer.begin() + 2);
    return answer;
}

} // namespace

const std::vector<std::uint8_t>& simLocatorDescriptor() {
    static const std::vector<std::uint8_t> descriptor = {
        0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x09, 0x02,       //   Usage (2)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x40,       //   Report Count (64)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x09, 0x03,       //   Usage (3)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x40,       //   Report Count (64)
        0x91, 0x02,       //   Output (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    return descriptor;
}

const std::vector<std::uint8_t>& simKeyboardDescriptor() {
    static const std::vector<std::uint8_t> descriptor = {
        0x05, 0x01, // Usage Page (Generic Desktop)
        0x09, 0x06, // Usage (Keyboard)
        0xA1, 0x01, // Collection (Application)
        0x05, 0x07, //   Usage Page (Keyboard)
        0x19, 0xE0, //   Usage Minimum (Left Control)
        0x29, 0xE7, //   Usage Maximum (Right GUI)
        0x15, 0x00, //   Logical Minimum (0)
        0x25, 0x01, //   Logical Maximum (1)
        0x75, 0x01, //   Report Size (1)
        0x95, 0x08, //   Report Count (8)
        0x81, 0x02, //   Input (Data, Variable, Absolute): modifiers
        0x95, 0x01, //   Report Count (1)
        0x75, 0x08, //   Report Size (8)
        0x81, 0x01, //   Input (Constant): reserved byte
        0x95, 0x05, //   Report Count (5)
        0x75, 0x01, //   Report Size (1)
        0x05, 0x08, //   Usage Page (LEDs)
        0x19, 0x01, //   Usage Minimum (Num Lock)
        0x29, 0x05, //   Usage Maximum (Kana)
        0x91, 0x02, //   Output (Data, Variable, Absolute): LEDs
        0x95, 0x01, //   Report Count (1)
        0x75, 0x03, //   Report Size (3)
        0x91, 0x01, //   Output (Constant): padding
        0x95, 0x06, //   Report Count (6)
        0x75, 0x08, //   Report Size (8)
        0x15, 0x00, //   Logical Minimum (0)
        0x25, 0x65, //   Logical Maximum (101)
        0x05, 0x07, //   Usage Page (Keyboard)
        0x19, 0x00, //   Usage Minimum (0)
        0x29, 0x65, //   Usage Maximum (101)
        0x81, 0x00, //   Input (Data, Array): key codes
        0xC0,       // End Collection
    };
    return descriptor;
}

std::optional<Report> SimLocatorAnswers::answer(const std::uint8_t* output, std::size_t size) {
    Report data(output, output + size);
    data.resize(std::max(data.size(), SimLocatorReportLength), 0);
    const std::uint8_t command = data[1];
    if (command != LocatorReadCommand && command != LocatorWriteCommand) {
        return std::nullopt;
    }
    if (command == LocatorWriteCommand) {
        std::copy_n(data.begin() + 2, configuration_.size(), configuration_.begin());
    }
    return locatorAnswer(command, configuration_);
}

Report SimLocatorAnswers::current() const {
    return locatorAnswer(LocatorReadCommand, configuration_);
}

} // namespace platform
