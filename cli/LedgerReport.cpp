#include "cli/LedgerReport.h"

#include "cli/StationLog.h"
#include "ledger/Ledger.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <stdexcept>

namespace {

std::string idRange(const std::pair<int, int>& run) {
    return run.first == run.second ? std::to_string(run.first)
                                   : std::to_string(run.first) + "-" + std::to_string(run.second);
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

void printCsv(const std::vector<LedgerIdRecord>& records,
              const std::vector<std::pair<int, int>>& gaps) {
    std::vector<LedgerIdRecord> rows = records;
    for (const auto& [first, last] : gaps)
        for (int id = first; id <= last; ++id)
            rows.push_back({id, "gap", "", "", "", "", ""});
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.locationId < b.locationId; });
    std::printf("location_id,state,station,serial,device_path,profile_sha256,time_utc\n");
    for (const LedgerIdRecord& row : rows)
        std::printf("%d,%s,%s,%s,%s,%s,%s\n", row.locationId, row.state.c_str(),
                    TStationLog::CsvField(row.station).c_str(),
                    TStationLog::CsvField(row.serial).c_str(),
                    TStationLog::CsvField(row.devicePath).c_str(), row.profileSha256.c_str(),
                    row.time.c_str());
}

void printJson(const std::vector<LedgerIdRecord>& records,
               const std::vector<std::pair<int, int>>& gaps) {
    nlohmann::ordered_json ids = nlohmann::ordered_json::array();
    for (const LedgerIdRecord& row : records)
        ids.push_back({{"locationId", row.locationId},
                       {"state", row.state},
                       {"station", row.station},
                       {"serial", row.serial},
                       {"devicePath", row.devicePath},
                       {"profileSha256", row.profileSha256},
                       {"time", row.time}});
    nlohmann::ordered_json runs = nlohmann::ordered_json::array();
    for (const auto& [first, last] : gaps)
        runs.push_back({first, last});
    std::cout << nlohmann::ordered_json{{"ids", ids}, {"gaps", runs}}.dump(2) << std::endl;
}

// What a station holds for the summary lines: "bench-1 (serial TRAY-0001, 2026-...)".
std::string held(const LedgerIdRecord& row) {
    return std::to_string(row.locationId) + " (" + row.station +
           (row.serial.empty() ? "" : ", serial " + row.serial) + ", " + row.time + ")";
}

void printText(const std::vector<LedgerIdRecord>& records,
               const std::vector<std::pair<int, int>>& gaps) {
    std::size_t station = 7, serial = 6, state = 5;
    for (const LedgerIdRecord& row : records) {
        station = std::max(station, row.station.size());
        serial = std::max(serial, row.serial.size());
        state = std::max(state, row.state.size());
    }
    const auto line = [&](const std::string& id, const std::string& s1, const std::string& s2,
                          const std::string& s3, const std::string& time,
                          const std::string& device) {
        std::printf("%-4s  %-*s  %-*s  %-*s  %-20s  %s\n", id.c_str(), static_cast<int>(state),
                    s1.c_str(), static_cast<int>(station), s2.c_str(), static_cast<int>(serial),
                    s3.c_str(), time.c_str(), device.c_str());
    };
    line("ID", "State", "Station", "Serial", "Time (UTC)", "Device");
    std::map<std::string, int> written;
    std::vector<std::string> unverified, open;
    for (const LedgerIdRecord& row : records) {
        line(std::to_string(row.locationId), row.state, row.station,
             row.serial.empty() ? "-" : row.serial, row.time, row.devicePath);
        if (row.state == "done" || row.state == "mismatch")
            ++written[row.station];
        else if (row.state == "unverified")
            unverified.push_back(held(row));
        else if (row.state == "reserved")
            open.push_back(held(row));
    }
    std::vector<std::string> byStation, runs;
    int total = 0;
    for (const auto& [name, count] : written) {
        byStation.push_back(name + ": " + std::to_string(count));
        total += count;
    }
    for (const auto& run : gaps)
        runs.push_back(idRange(run));
    std::printf("\nWritten: %d locators%s\n", total,
                byStation.empty() ? "" : (" (" + joined(byStation) + ")").c_str());
    std::printf("Gaps (IDs never given out): %s\n", runs.empty() ? "none" : joined(runs).c_str());
    std::printf("Unverified reservations: %s\n",
                unverified.empty() ? "none" : joined(unverified).c_str());
    if (!open.empty())
        std::printf("Open reservations (being written, or left by a station not restarted "
                    "since): %s\n",
                    joined(open).c_str());
}

} // namespace

void ledgerReportCommand(const TCliOptions& options, const LedgerReportOptions& report) {
    Ledger ledger(report.ledger);
    std::vector<LedgerIdRecord> records;
    std::vector<int> heldIds;
    try {
        ledger.connect();
        records = ledger.records(report.since, report.station);
        heldIds = ledger.heldIds();
    } catch (const LedgerUnavailable& error) {
        throw ECliError(TExitCode::Failure,
                        std::string("The ledger cannot be reached: ") + error.what() + ".");
    } catch (const LedgerError& error) {
        throw ECliError(TExitCode::Failure, std::string(error.what()) + ".");
    } catch (const std::invalid_argument& error) {
        throw ECliError(TExitCode::Usage, std::string(error.what()) + ".");
    }
    const auto gaps = idGaps(records, heldIds);
    if (options.Json)
        printJson(records, gaps);
    else if (report.csv)
        printCsv(records, gaps);
    else if (records.empty())
        std::printf("The ledger holds no Location IDs%s.\n",
                    report.since || report.station ? " that match" : "");
    else
        printText(records, gaps);
}
