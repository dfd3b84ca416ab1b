#pragma once
// tarvexctl ledger report: what the shared ledger says was provisioned, by which station, with
// which Location IDs; the IDs never given out between them (gaps), and the reservations a
// station never confirmed (unverified) or still holds open.

#include "cli/Commands.h"

#include <optional>
#include <string>

struct TLedgerReportOptions {
    std::string Ledger; // a libpq connection string
    std::optional<std::string> Since;
    std::optional<std::string> Station;
    bool Csv = false;
};

// Raises ECliError Failure when the ledger cannot be reached, Usage for a --since it refuses.
void LedgerReportCommand(const TCliOptions& options, const TLedgerReportOptions& report);
