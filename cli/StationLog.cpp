#include "cli/StationLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Column { colSerial = 3, colLocationId = 8, colResult = 9, kColumns = 12 };

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

std::string readAll(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (got < 0)
            throw systemError("cannot read the log");
        if (got == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

void writeWhole(int fd, const std::string& text) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        if (written >= 0)
            errno = ENOSPC;
        throw systemError("cannot write the log");
    }
    if (::fsync(fd) != 0)
        throw systemError("cannot flush the log to disk");
}

} // namespace

TStationLog::TStationLog(const std::string& path) {
    FFd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (FFd < 0)
        throw systemError("cannot open the log " + path);
    try {
        std::string text = readAll(FFd);
        const std::size_t whole = text.empty() ? 0 : text.rfind('\n') + 1; // npos + 1 == 0
        if (whole < text.size()) {
            FRepairedBytes = text.size() - whole;
            if (::ftruncate(FFd, static_cast<off_t>(whole)) != 0 || ::fsync(FFd) != 0)
                throw systemError("cannot cut the half-written last row of the log");
            text.resize(whole);
        }
        if (text.empty())
            writeWhole(FFd, Header());
        std::size_t begin = text.find('\n') + 1; // after the header
        for (std::size_t end; begin < text.size(); begin = end + 1) {
            end = text.find('\n', begin);
            Remember(SplitRow(text.substr(begin, end - begin)));
        }
    } catch (...) {
        ::close(FFd);
        throw;
    }
}

TStationLog::~TStationLog() {
    ::close(FFd);
}

void TStationLog::Append(const TStationRow& row) {
    const std::string line = FormatRow(row);
    writeWhole(FFd, line);
    Remember(SplitRow(line.substr(0, line.size() - 1)));
}

void TStationLog::Remember(const std::vector<std::string>& fields) {
    if (fields.size() != kColumns)
        return;
    if (!fields[colLocationId].empty())
        FUsedLocationIds.insert(std::atoi(fields[colLocationId].c_str()));
    if (!fields[colSerial].empty() &&
        (fields[colResult] == "ok" || fields[colResult] == "mismatch"))
        FWrittenSerials.insert(fields[colSerial]);
}

std::string TStationLog::Header() {
    return "time_utc,station,device_path,serial,product,release,profile,profile_sha256,"
           "location_id,result,error,duration_ms\n";
}

std::string TStationLog::CsvField(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string text = "\"";
    for (const char c : field)
        text += c == '"' ? std::string("\"\"") : std::string(1, c == '\n' || c == '\r' ? ' ' : c);
    return text + "\"";
}

std::string TStationLog::FormatRow(const TStationRow& row) {
    const std::string fields[kColumns] = {
        row.TimeUtc,     row.Station,       row.DevicePath,
        row.Serial,      row.Product,       row.Release,
        row.ProfileName, row.ProfileSha256, row.LocationId ? std::to_string(row.LocationId) : "",
        row.Result,      row.Error,         std::to_string(row.DurationMs)};
    std::string line = CsvField(fields[0]);
    for (int column = 1; column < kColumns; ++column) {
        line += ',';
        line += CsvField(fields[column]);
    }
    return line + "\n";
}

std::vector<std::string> TStationLog::SplitRow(const std::string& line) {
    std::vector<std::string> fields(1);
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ',' && !inQuotes)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}
