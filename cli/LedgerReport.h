#pragma once
// tarvexctl ledger report: what the shared ledger says was provisioned, by which station, with
// which Location IDs; the IDs never given out between them (gaps), and the reservations a
// station never confirmed (unverified) or still holds open.

#include "cli/Commands.h"

#include <optional>
#include <string>

struct LedgerReportOptions {
    std::string ledger; // a libpq connection string
    std::optional<std::string> since;
    std::optional<std::string> station;
    bool csv = false;
};

// Raises ECliError Failure when the ledger cannot be reached, Usage for a --since it refuses.
void ledgerReportCommand(const TCliOptions& options, const LedgerReportOptions& report);
