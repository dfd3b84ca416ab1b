#include "cli/Commands.h"

#include "locator/LocatorAnswer.h"
#include "locator/LocatorCommands.h"
#include "platform/base/Convert.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

using nlohmann::ordered_json;

std::atomic<bool> StopRequested{false};

namespace {

constexpr std::size_t kMaxProfileBytes = 64 * 1024;

ordered_json deviceJson(const TListedDevice& device) {
    return ordered_json{{"index", device.Index},
                        {"path", device.Path},
                        {"name", device.Name},
                        {"manufacturer", device.Manufacturer},
                        {"vendorId", HexWord(device.VendorId)},
                        {"productId", HexWord(device.ProductId)},
                        {"release", HexWord(device.Release)},
                        {"serial", device.Serial},
                        {"locator", device.Locator},
                        {"openable", device.Openable}};
}

void printJson(const ordered_json& document) {
    std::cout << document.dump(2) << std::endl;
}

} // namespace

TLocatorConfig DecodedAnswer(const std::string& Str) {
    std::uint8_t data[kReportDataBytes] = {};
    for (std::size_t k = 0; k < kReportDataBytes; ++k)
        data[k] = static_cast<std::uint8_t>(StrToInt("$" + Str.substr(3 * k, 2)));
    return DecodeLocatorConfig(data);
}

namespace {

void printFields(const TLocatorConfig& config) {
    for (int field = 0; field < kLocatorFieldCount; ++field)
        std::printf("%-24s %s\n", LocatorFields()[field].Name, FieldText(config, field).c_str());
}

// Opens the chosen locator: the link to it, checked out and locked.
struct TOpenLocator {
    explicit TOpenLocator(const TCliOptions& options) : Link(options.Timeout) {
        Link.Open(Link.Select(options.Device));
    }
    TLocatorLink Link;
};

TLocatorConfig readConfiguration(TLocatorLink& link) {
    return DecodedAnswer(link.Exchange(ReadConfigurationCommand(nullptr)));
}

} // namespace

TLocatorConfig ConfigurationToWrite(TLocatorLink& link, const TLocatorProfile& profile) {
    bool complete = true;
    for (const auto& value : profile.Fields)
        complete = complete && value.has_value();
    return profile.AppliedTo(complete ? TLocatorConfig{} : readConfiguration(link));
}

namespace {

bool askOnTerminal(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

} // namespace

std::string HexWord(unsigned value) {
    return IntToHex(value & 0xFFFF, 4);
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when, bool milliseconds) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string stamp = text;
    if (milliseconds) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()) % 1000;
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms.count()));
        stamp += fraction;
    }
    return stamp + "Z";
}

std::string MismatchText(const std::vector<int>& fields, const TLocatorConfig& expected,
                         const TLocatorConfig& read, const char* expectedVerb) {
    std::string text;
    for (const int field : fields)
        text += std::string(text.empty() ? "" : "; ") + LocatorFields()[field].Name + ": " +
                expectedVerb + " " + FieldText(expected, field) + ", read " +
                FieldText(read, field);
    return text;
}

TLocatorProfile LoadProfileFile(const std::string& path) {
    return ParseProfileFile(path, ReadProfileFile(path));
}

std::string ReadProfileFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ECliError(TExitCode::Usage, "Cannot read the profile " + path + ".");
    std::string text(kMaxProfileBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxProfileBytes)
        throw ECliError(TExitCode::Usage, "The profile " + path + " is larger than 64 KiB.");
    return text;
}

TLocatorProfile ParseProfileFile(const std::string& path, const std::string& text) {
    try {
        return ParseLocatorProfile(text);
    } catch (const EProfileError& error) {
        throw ECliError(TExitCode::Usage, "Profile " + path + " refused: " + error.what() + ".");
    }
}

TLocatorProfile ProfileFromArguments(const std::vector<std::pair<std::string, std::string>>& args) {
    TLocatorProfile profile;
    for (const auto& [name, value] : args) {
        const auto field = LocatorFieldIndex(name);
        if (!field)
            throw ECliError(TExitCode::Usage, "--" + name + ": unknown field.");
        const auto number = FieldNumberFromText(*field, value);
        if (!number)
            throw ECliError(TExitCode::Usage, "--" + name + " " + value +
                                                  " refused: " + FieldAllowedText(*field) + ".");
        profile.Fields[*field] = *number;
    }
    return profile;
}

void ListCommand(const TCliOptions& options) {
    TLocatorLink link(options.Timeout);
    const auto devices = link.List();
    if (options.Json) {
        ordered_json list = ordered_json::array();
        for (const TListedDevice& device : devices)
            list.push_back(deviceJson(device));
        printJson(list);
        return;
    }
    for (const TListedDevice& device : devices)
        std::printf("%d  %s  %s  %s:%s  %s  %s%s\n", device.Index, device.Path.c_str(),
                    device.Name.empty() ? "(no name)" : device.Name.c_str(),
                    HexWord(device.VendorId).c_str(), HexWord(device.ProductId).c_str(),
                    device.Serial.empty() ? "(no serial)" : ("serial " + device.Serial).c_str(),
                    device.Openable ? "read-write" : "no access",
                    device.Locator ? "  locator" : "");
}

void ReadCommand(const TCliOptions& options) {
    TOpenLocator locator(options);
    const TLocatorConfig config = readConfiguration(locator.Link);
    if (options.Json) {
        std::cout << LocatorProfileText(config, deviceJson(locator.Link.Opened()).dump());
        return;
    }
    std::printf("%s (%s)\n", locator.Link.Opened().Path.c_str(),
                locator.Link.Opened().Name.c_str());
    printFields(config);
}

void SetCommand(const TCliOptions& options, const TLocatorProfile& profile) {
    TOpenLocator locator(options);
    const TLocatorConfig written = ConfigurationToWrite(locator.Link, profile);
    const std::string Str = locator.Link.Exchange(WriteConfigurationCommand(written, nullptr));
    const std::vector<int> differing = DifferingFields(Str, SelectionFromConfig(written));
    if (!differing.empty())
        throw ECliError(TExitCode::VerifyMismatch,
                        "Configuration might not have been set correctly! " +
                            MismatchText(differing, written, DecodedAnswer(Str), "wrote"));
    if (options.Json) {
        std::cout << LocatorProfileText(written, deviceJson(locator.Link.Opened()).dump());
        return;
    }
    std::printf("Configuration has been set.\n");
    printFields(written);
}

void VerifyCommand(const TCliOptions& options, const TLocatorProfile& profile) {
    TOpenLocator locator(options);
    const std::string Str = locator.Link.Exchange(ReadConfigurationCommand(nullptr));
    const TLocatorConfig read = DecodedAnswer(Str);
    const TLocatorConfig expected = profile.AppliedTo(read);
    const std::vector<int> differing = DifferingFields(Str, SelectionFromConfig(expected));
    if (!differing.empty())
        throw ECliError(TExitCode::VerifyMismatch,
                        "The device differs from the profile. " +
                            MismatchText(differing, expected, read, "expected"));
    if (options.Json)
        printJson({{"result", "ok"}, {"device", deviceJson(locator.Link.Opened())}});
    else
        std::printf("The device matches the profile.\n");
}

void ResetCommand(const TCliOptions& options, bool confirmed) {
    if (!confirmed && !::isatty(STDIN_FILENO))
        throw ECliError(TExitCode::Usage,
                        "Factory reset needs --yes when there is no terminal to ask.");
    TOpenLocator locator(options);
    if (!confirmed &&
        !askOnTerminal("Are you sure you want to Reset the Device to the Factory Defaults?"))
        throw ECliError(TExitCode::Usage, "Factory reset not confirmed; nothing was written.");
    const std::string Str = locator.Link.Exchange(FactoryResetCommand(nullptr));
    if (!MatchesFactoryDefaults(Str)) {
        const TLocatorConfig read = DecodedAnswer(Str);
        std::vector<int> differing;
        for (int field = 0; field < kLocatorFieldCount; ++field)
            if (FieldNumber(read, field) != FieldNumber(kFactoryDefaults, field))
                differing.push_back(field);
        throw ECliError(TExitCode::VerifyMismatch,
                        "Factory reset might not have been set correctly. " +
                            MismatchText(differing, kFactoryDefaults, read, "wrote"));
    }
    if (options.Json)
        std::cout << LocatorProfileText(kFactoryDefaults, deviceJson(locator.Link.Opened()).dump());
    else
        std::printf("Factory reset complete.\n");
}

void WatchCommand(const TCliOptions& options) {
    TOpenLocator locator(options);
    const std::string path = locator.Link.Opened().Path;
    locator.Link.Watch(THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
        // By value: stopping the reader when `locator` goes delivers what was already handed
        // over, after `path` is gone.
        [json = options.Json, path](THidDevice*, BYTE ReportID, const BYTE* Data, USHORT Size) {
            if (json) {
                std::string bytes;
                for (USHORT k = 0; k < Size; ++k)
                    bytes += IntToHex(Data[k], 2);
                std::cout << ordered_json{{"time",
                                           UtcTimestamp(std::chrono::system_clock::now(), true)},
                                          {"device", path},
                                          {"reportId", ReportID},
                                          {"bytes", bytes}}
                                 .dump()
                          << std::endl;
                return;
            }
            for (const std::string& line : ReportBlockLines(Data, Size))
                std::printf("%s\n", line.c_str());
            std::printf("\n");
            std::fflush(stdout);
        })));
    while (!StopRequested && !locator.Link.DeviceGone())
        locator.Link.Pump(std::chrono::milliseconds(50));
    if (locator.Link.DeviceGone())
        throw ECliError(TExitCode::DeviceGone, path + " was unplugged.");
}
