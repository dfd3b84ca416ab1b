#pragma once
// Station mode: locators are plugged in one after another; each new one is written with the
// profile (and the next Location ID), verified, and logged. A locator already written in the
// log is never written again. Identity is the serial number where the device has one; without
// one, the device's path (its port) until it is unplugged.
//
// With a ledger (a PostgreSQL server several stations share), Location IDs come from it rather
// than from the log: each is reserved before its device is written and settled once the device
// is verified, and a serial the ledger holds as written at any station is refused there.

#include "cli/Commands.h"
#include "cli/StationLog.h"

#include <chrono>
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
    std::string Ledger;       // --ledger: a libpq connection string; empty: none
};

// Sees each row once it is on disk, with the time the ledger took for that device.
using RowObserver =
    std::function<void(const TStationRow& row, std::chrono::microseconds ledgerTime)>;

// Parses "FIRST" or "FIRST-LAST" into options; ECliError Usage when it is not a range in 1-4095.
void ParseLocationIdRange(const std::string& text, TBatchOptions& options);

// Runs until Count locators are written, the ID range is used up, or StopRequested. Progress
// goes to `progress` (stdout, or stderr with --json). onRow, when set, sees each row once it is
// on disk (the benchmarks time it).
void BatchCommand(const TCliOptions& options, const TBatchOptions& batch, std::FILE* progress,
                  const RowObserver& onRow = {});
