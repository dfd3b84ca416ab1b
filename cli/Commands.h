#pragma once
// tarvexctl's subcommands. Each writes its result to stdout (one JSON document with --json,
// plain text otherwise) and raises ECliError for a failure; main turns that into the message
// on stderr, the JSON error document and the exit status.

#include "cli/LocatorLink.h"
#include "locator/LocatorProfile.h"

#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct TCliOptions {
    bool Json = false;
    std::string Device; // --device; empty: the one locator attached
    std::chrono::milliseconds Timeout{3000};
};

// Set by SIGINT/SIGTERM; the long-running commands finish what they are doing and stop.
extern std::atomic<bool> StopRequested;

void ListCommand(const TCliOptions& options);
void ReadCommand(const TCliOptions& options);
// Fields the profile leaves out keep the device's values, read first.
void SetCommand(const TCliOptions& options, const TLocatorProfile& profile);
void VerifyCommand(const TCliOptions& options, const TLocatorProfile& profile);
void ResetCommand(const TCliOptions& options, bool confirmed);
void WatchCommand(const TCliOptions& options);

// The profile a file holds; ECliError Usage naming the field when it is refused.
TLocatorProfile LoadProfileFile(const std::string& path);
// The two steps of LoadProfileFile, for a caller that also needs the bytes the profile came from:
// the file's bytes (at most 64 KiB), and the profile those bytes hold.
std::string ReadProfileFile(const std::string& path);
TLocatorProfile ParseProfileFile(const std::string& path, const std::string& text);
// "--LocationID 17" and the like, by field name; ECliError Usage naming the field.
TLocatorProfile ProfileFromArguments(const std::vector<std::pair<std::string, std::string>>& args);

// Shared with the station mode.
// The configuration an answer carries, from its report text.
TLocatorConfig DecodedAnswer(const std::string& Str);
// The profile applied to what the device holds now; the device is read only when the profile
// leaves fields out.
TLocatorConfig ConfigurationToWrite(TLocatorLink& link, const TLocatorProfile& profile);
std::string UtcTimestamp(std::chrono::system_clock::time_point when, bool milliseconds);
std::string HexWord(unsigned value);
// The fields of mismatching, as "NAME: wrote X, read Y" (or "expected" for verify).
std::string MismatchText(const std::vector<int>& fields, const TLocatorConfig& expected,
                         const TLocatorConfig& read, const char* expectedVerb);
