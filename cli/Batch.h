#pragma once
// Station mode: locators are plugged in one after another; each new one is written with the
// profile (and the next Location ID), verified, and logged. A locator already written in the
// log is never written again. Identity is the serial number where the device has one; without
// one, the device's path (its port) until it is unplugged.

#include "cli/Commands.h"
#include "cli/StationLog.h"

#include <functional>
#include <optional>
#include <string>

struct TBatchOptions {
    std::string ProfilePath;
    std::string LogPath;
    std::string Station;
    std::optional<int> FirstLocationId; // --location-id FIRST[-LAST]
    int LastLocationId = 4095;
    std::optional<int> Count; // stop after this many locators written
    bool Reuse = false;       // Location IDs in the log may be given again
};

// Parses "FIRST" or "FIRST-LAST" into options; ECliError Usage when it is not a range in 1-4095.
void ParseLocationIdRange(const std::string& text, TBatchOptions& options);

// Runs until Count locators are written, the ID range is used up, or StopRequested. Progress
// goes to `progress` (stdout, or stderr with --json). onRow, when set, sees each row once it is
// on disk (the benchmark times it).
void BatchCommand(const TCliOptions& options, const TBatchOptions& batch, std::FILE* progress,
                  const std::function<void(const TStationRow&)>& onRow = {});
