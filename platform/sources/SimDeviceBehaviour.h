#pragma once
// What the simulated devices are and how the locator answers, without the means of simulating
// them: the simulated source plays these in this process, and the uhid test device plays them
// in the kernel, so both answer alike. No threads, no locks: one caller at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

using Report = std::vector<std::uint8_t>; // report ID byte first

constexpr std::uint16_t SimLocatorVendorId = 0x3F7C;
constexpr std::uint16_t SimLocatorProductId = 0x5A21;
constexpr std::size_t SimLocatorReportLength = 65; // ID byte and 64 data bytes
constexpr std::array<std::uint8_t, 16> SimLocatorFactoryConfiguration = {
    0x90, 0x90, 0x00, 0x01, 0x02, 0x3C, 0x00, 0x3C, 0x04, 0x00, 0x3F, 0x00, 0x00, 0x18, 0x00, 0x00};

// Vendor-defined page, one application collection, 64-byte input and output reports, no IDs.
const std::vector<std::uint8_t>& simLocatorDescriptor();
// A boot keyboard: modifiers, a reserved byte, six key codes in; five LEDs out.
const std::vector<std::uint8_t>& simKeyboardDescriptor();

// The locator keeps a 16-byte configuration, starting at the factory values. An output report
// whose first data byte is 'R' (0x52) or 'W' (0x57) is answered with an input report echoing
// that byte, then the configuration, then 0xFF to the end; a 'W' stores the 16 bytes after
// the command byte first. Any other report goes unanswered.
class SimLocatorAnswers {
public:
    // The input report (ID byte first) that answers one output report (ID byte first), if any.
    // A short report reads as zero-padded, as the device would take it.
    std::optional<Report> answer(const std::uint8_t* output, std::size_t size);
    // The answer a read would get now: what a request for the current input report returns.
    Report current() const;

private:
    std::array<std::uint8_t, 16> configuration_ = SimLocatorFactoryConfiguration;
};

} // namespace platform
