#pragma once
// The station's CSV log: one row per device and attempt. A row is appended whole, by one
// write() on a descriptor opened with O_APPEND, and flushed to disk (fsync) before the next
// device is touched, so a run killed at any moment leaves a valid CSV. A last row cut short by
// such a kill is found when the log is opened again and cut off, never appended to.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct TStationRow {
    std::string TimeUtc; // ISO 8601
    std::string Station;
    std::string DevicePath;
    std::string Serial;
    std::string Product;
    std::string Release;
    std::string ProfileName;
    std::string ProfileSha256;
    int LocationId = 0; // 0: none given
    std::string Result; // "ok", "mismatch" or "error"
    std::string Error;
    long long DurationMs = 0;
};

class TStationLog {
public:
    // Opens (creating it with its header) and repairs the log; raises std::runtime_error with
    // the reason when it cannot be read or written.
    explicit TStationLog(const std::string& path);
    ~TStationLog();
    TStationLog(const TStationLog&) = delete;
    TStationLog& operator=(const TStationLog&) = delete;

    // Appends and flushes one row; raises std::runtime_error when it could not.
    void Append(const TStationRow& row);

    // What earlier rows say: the serial numbers written (ok or mismatch) and every Location ID
    // given out, whatever came of it.
    const std::set<std::string>& WrittenSerials() const { return FWrittenSerials; }
    const std::set<int>& UsedLocationIds() const { return FUsedLocationIds; }
    // Bytes cut off a last row left half-written; 0 when the log was whole.
    std::size_t RepairedBytes() const { return FRepairedBytes; }

    static std::string Header();
    static std::string FormatRow(const TStationRow& row);
    // One field as a CSV line holds it: quoted where it has a comma, a quote or a line break.
    static std::string CsvField(const std::string& field);
    // The fields of one CSV line (quotes as FormatRow writes them).
    static std::vector<std::string> SplitRow(const std::string& line);

private:
    void Remember(const std::vector<std::string>& fields);

    int FFd = -1;
    std::set<std::string> FWrittenSerials;
    std::set<int> FUsedLocationIds;
    std::size_t FRepairedBytes = 0;
};
