#pragma once
// tarvexctl's outcomes: every failure has its own exit status, listed in --help and the README.

#include <stdexcept>
#include <string>

enum class TExitCode : int {
    Success = 0,
    Failure = 1,          // anything else: a log that cannot be written, a broken platform
    Usage = 2,            // bad arguments, a refused profile, several locators and no --device
    NoLocator = 3,        // no locator (or no device matching --device) attached
    PermissionDenied = 4, // the device node may not be opened for reading and writing
    DeviceBusy = 5,       // another process (a window, another tarvexctl) uses the device
    VerifyMismatch = 6,   // the device's answer differs from what was written or expected
    NoAnswer = 7,         // the device did not answer in time
    DeviceGone = 8,       // the device was unplugged during the command
};

// The exit statuses as --help lists them.
const char* ExitCodeTable();

class ECliError : public std::runtime_error {
public:
    ECliError(TExitCode code, const std::string& message)
        : std::runtime_error(message), Code(code) {}
    TExitCode Code;
};
