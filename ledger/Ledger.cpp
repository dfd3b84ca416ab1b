#include "ledger/Ledger.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <set>

namespace {

// Advisory lock keys: one serialises the first stations creating the schema at once; under the
// other, each running station holds its name.
constexpr const char* kSchemaLockKey = "7305501";
constexpr const char* kStationLockClass = "7305502";

constexpr const char* kCreateSchema = R"sql(
CREATE TABLE tarvex_ledger_schema (version integer NOT NULL);
CREATE TABLE tarvex_location_ids (
    location_id integer PRIMARY KEY CHECK (location_id BETWEEN 1 AND 4095),
    state text NOT NULL
        CHECK (state IN ('reserved', 'done', 'mismatch', 'failed', 'unverified')),
    station text NOT NULL,
    device_path text NOT NULL,
    serial text NOT NULL,
    profile_sha256 text NOT NULL,
    reserved_at timestamptz NOT NULL DEFAULT now(),
    settled_at timestamptz);
CREATE UNIQUE INDEX tarvex_location_ids_one_per_serial ON tarvex_location_ids (serial)
    WHERE serial <> '' AND state IN ('reserved', 'done', 'mismatch');
CREATE INDEX tarvex_location_ids_open ON tarvex_location_ids (station) WHERE state = 'reserved';
CREATE TABLE tarvex_attempts (
    attempt_id bigserial PRIMARY KEY,
    at timestamptz NOT NULL DEFAULT now(),
    station text NOT NULL,
    device_path text NOT NULL,
    serial text NOT NULL,
    profile_sha256 text NOT NULL,
    location_id integer,
    result text NOT NULL,
    error text NOT NULL,
    duration_ms bigint NOT NULL);
)sql";

constexpr const char* kUtc = R"sql('YYYY-MM-DD"T"HH24:MI:SS"Z"')sql";

using Params = std::initializer_list<std::optional<std::string>>;

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

std::string field(const Result& result, int row, int column) {
    return PQgetvalue(result.get(), row, column);
}

// The first line of a libpq message: what failed. Later lines guess at causes.
std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    for (std::size_t blanks; (blanks = line.find("  ")) != std::string::npos;)
        line.erase(blanks, 1);
    return line;
}

} // namespace

struct PgConnection {
    struct Deleter {
        void operator()(PGconn* conn) const { PQfinish(conn); }
    };
    std::unique_ptr<PGconn, Deleter> conn;

    // Runs one statement; raises LedgerUnavailable when the connection is lost, LedgerError
    // when the server refuses the statement, unless its SQLSTATE starts with `tolerated` (then
    // the result is null).
    Result exec(const char* sql, Params params, const char* tolerated = nullptr) {
        if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
            throw LedgerUnavailable("not connected to the ledger");
        std::vector<const char*> values;
        for (const auto& param : params)
            values.push_back(param ? param->c_str() : nullptr);
        Result result(PQexecParams(conn.get(), sql, static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0));
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return result;
        const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
        const std::string sqlState = state ? state : "";
        const std::string message = firstLine(PQerrorMessage(conn.get()));
        if (PQstatus(conn.get()) != CONNECTION_OK || sqlState.starts_with("08") ||
            sqlState.starts_with("57P")) {
            conn.reset();
            throw LedgerUnavailable(message);
        }
        if (tolerated && sqlState.starts_with(tolerated))
            return nullptr;
        throw LedgerError("the ledger refused a statement: " + message);
    }

    void execAll(const char* sql) {
        Result result(PQexec(conn.get(), sql));
        if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            const std::string message = firstLine(PQerrorMessage(conn.get()));
            if (PQstatus(conn.get()) != CONNECTION_OK) {
                conn.reset();
                throw LedgerUnavailable(message);
            }
            throw LedgerError("cannot create the ledger's tables: " + message);
        }
    }
};

const char* idStateName(IdState state) {
    switch (state) {
    case IdState::Reserved:
        return "reserved";
    case IdState::Done:
        return "done";
    case IdState::Mismatch:
        return "mismatch";
    case IdState::Failed:
        return "failed";
    case IdState::Unverified:
        return "unverified";
    }
    return "";
}

Ledger::Ledger(std::string connection)
    : connection_(std::move(connection)), pg_(std::make_unique<PgConnection>()) {}

Ledger::~Ledger() = default;

bool Ledger::connected() const {
    return pg_->conn && PQstatus(pg_->conn.get()) == CONNECTION_OK;
}

void Ledger::connect() {
    // A dead server must not hold the station for long; times in UTC for every session.
    const char* keys[] = {"dbname", "connect_timeout", "application_name", "options", nullptr};
    const char* values[] = {connection_.c_str(), "5", "tarvexctl", "-c TimeZone=UTC", nullptr};
    pg_->conn.reset(PQconnectdbParams(keys, values, 1));
    if (!pg_->conn || PQstatus(pg_->conn.get()) != CONNECTION_OK) {
        const std::string message =
            pg_->conn ? firstLine(PQerrorMessage(pg_->conn.get())) : "out of memory";
        pg_->conn.reset();
        throw LedgerUnavailable(message);
    }
    try {
        pg_->exec("BEGIN", {});
        pg_->exec("SELECT pg_advisory_xact_lock($1::bigint)", {kSchemaLockKey});
        const Result exists =
            pg_->exec("SELECT to_regclass('tarvex_ledger_schema') IS NOT NULL", {});
        if (field(exists, 0, 0) != "t") {
            pg_->execAll(kCreateSchema);
            pg_->exec("INSERT INTO tarvex_ledger_schema (version) VALUES ($1::integer)",
                      {std::to_string(kLedgerSchemaVersion)});
        }
        const Result version = pg_->exec("SELECT max(version) FROM tarvex_ledger_schema", {});
        const int found = std::atoi(field(version, 0, 0).c_str());
        if (found > kLedgerSchemaVersion)
            throw LedgerError("the ledger's schema is version " + std::to_string(found) +
                              "; this tarvexctl knows version " +
                              std::to_string(kLedgerSchemaVersion) +
                              " at most; update tarvexctl on this station");
        pg_->exec("COMMIT", {});
    } catch (const LedgerError&) {
        pg_->conn.reset();
        throw;
    }
}

void Ledger::claimStation(const std::string& station) {
    const Result claimed = pg_->exec("SELECT pg_try_advisory_lock($1::integer, hashtext($2::text))",
                                     {kStationLockClass, station});
    if (field(claimed, 0, 0) != "t")
        throw LedgerError("a station named " + station +
                          " is already running on this ledger; give each station its own name");
}

Reservation Ledger::reserve(const std::string& station, const LedgerDevice& device, int first,
                            int last) {
    // One statement: the serial's holder if it has one, else the lowest free ID, inserted.
    // Two stations may pick the same free ID, or the same serial, at once: the loser's insert
    // finds the ID taken (no row back) or the serial held (a unique violation), and looks again.
    const std::string sql =
        std::string("WITH holder AS (SELECT state, location_id, station, "
                    "to_char(coalesce(settled_at, reserved_at), ") +
        kUtc +
        ") AS at FROM tarvex_location_ids WHERE $3 <> '' AND serial = $3 "
        "AND state IN ('reserved', 'done', 'mismatch')), "
        "free AS (SELECT min(c) AS id FROM generate_series($1::integer, $2::integer) c "
        "WHERE NOT EXISTS (SELECT 1 FROM tarvex_location_ids WHERE location_id = c) "
        "AND NOT EXISTS (SELECT 1 FROM holder)), "
        "taken AS (INSERT INTO tarvex_location_ids "
        "(location_id, state, station, device_path, serial, profile_sha256) "
        "SELECT id, 'reserved', $4, $5, $3, $6 FROM free WHERE id IS NOT NULL "
        "ON CONFLICT (location_id) DO NOTHING RETURNING location_id) "
        "SELECT (SELECT location_id FROM taken), (SELECT id FROM free), h.state, h.location_id, "
        "h.station, h.at FROM (SELECT 1) one LEFT JOIN holder h ON true";
    for (;;) {
        const Result found = pg_->exec(sql.c_str(),
                                       {std::to_string(first), std::to_string(last), device.serial,
                                        station, device.devicePath, device.profileSha256},
                                       "23505");
        if (!found)
            continue;
        if (!PQgetisnull(found.get(), 0, 2))
            return {field(found, 0, 2) == "reserved" ? Reservation::Outcome::InProgress
                                                     : Reservation::Outcome::Provisioned,
                    std::stoi(field(found, 0, 3)), field(found, 0, 4), field(found, 0, 5)};
        if (!PQgetisnull(found.get(), 0, 0))
            return {Reservation::Outcome::Reserved, std::stoi(field(found, 0, 0)), "", ""};
        if (PQgetisnull(found.get(), 0, 1))
            return {Reservation::Outcome::RangeUsedUp, 0, "", ""};
    }
}

namespace {

constexpr const char* kAttemptColumns =
    "(station, device_path, serial, profile_sha256, location_id, result, error, duration_ms)";

std::optional<std::string> idParam(int locationId) {
    return locationId ? std::optional(std::to_string(locationId)) : std::nullopt;
}

} // namespace

void Ledger::settle(const std::string& station, int locationId, IdState state,
                    const LedgerAttempt& attempt) {
    pg_->exec((std::string("WITH settled AS (UPDATE tarvex_location_ids "
                           "SET state = $3, settled_at = now() "
                           "WHERE location_id = $2::integer AND station = $1 "
                           "AND state = 'reserved' RETURNING location_id) "
                           "INSERT INTO tarvex_attempts ") +
               kAttemptColumns +
               " SELECT $1, $4, $5, $6, location_id, $7, $8, $9::bigint FROM settled")
                  .c_str(),
              {station, std::to_string(locationId), idStateName(state), attempt.device.devicePath,
               attempt.device.serial, attempt.device.profileSha256, attempt.result, attempt.error,
               std::to_string(attempt.durationMs)});
}

void Ledger::record(const std::string& station, const LedgerAttempt& attempt) {
    pg_->exec((std::string("INSERT INTO tarvex_attempts ") + kAttemptColumns +
               " VALUES ($1, $2, $3, $4, $5::integer, $6, $7, $8::bigint)")
                  .c_str(),
              {station, attempt.device.devicePath, attempt.device.serial,
               attempt.device.profileSha256, idParam(attempt.locationId), attempt.result,
               attempt.error, std::to_string(attempt.durationMs)});
}

namespace {

std::vector<LedgerIdRecord> idRecords(const Result& result) {
    std::vector<LedgerIdRecord> records;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        records.push_back({std::stoi(field(result, row, 0)), field(result, row, 1),
                           field(result, row, 2), field(result, row, 3), field(result, row, 4),
                           field(result, row, 5), field(result, row, 6)});
    return records;
}

std::string recordQuery(const char* where) {
    return std::string("SELECT location_id, state, station, serial, device_path, profile_sha256, "
                       "to_char(coalesce(settled_at, reserved_at), ") +
           kUtc + ") FROM tarvex_location_ids WHERE " + where + " ORDER BY location_id";
}

} // namespace

std::vector<LedgerIdRecord> Ledger::openReservations(const std::string& station) {
    return idRecords(
        pg_->exec(recordQuery("station = $1 AND state = 'reserved'").c_str(), {station}));
}

std::vector<LedgerIdRecord> Ledger::records(const std::optional<std::string>& since,
                                            const std::optional<std::string>& station) {
    const Result result = pg_->exec(
        recordQuery("($1::timestamptz IS NULL OR coalesce(settled_at, reserved_at) >= $1) "
                    "AND ($2::text IS NULL OR station = $2)")
            .c_str(),
        {since, station}, "22");
    if (!result) // class 22: a time it cannot read
        throw std::invalid_argument(
            "--since " + since.value_or("") +
            ": not a time (for example 2026-12-10 or 2026-12-10T08:00:00Z)");
    return idRecords(result);
}

std::vector<int> Ledger::heldIds() {
    const Result result =
        pg_->exec("SELECT location_id FROM tarvex_location_ids ORDER BY location_id", {});
    std::vector<int> ids;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        ids.push_back(std::stoi(field(result, row, 0)));
    return ids;
}

std::vector<std::pair<int, int>> idGaps(const std::vector<LedgerIdRecord>& listed,
                                        const std::vector<int>& held) {
    std::vector<std::pair<int, int>> gaps;
    if (listed.empty())
        return gaps;
    const auto [lowest, highest] =
        std::minmax_element(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
            return a.locationId < b.locationId;
        });
    const std::set<int> taken(held.begin(), held.end());
    for (int id = lowest->locationId; id <= highest->locationId; ++id) {
        if (taken.contains(id))
            continue;
        if (!gaps.empty() && gaps.back().second == id - 1)
            gaps.back().second = id;
        else
            gaps.emplace_back(id, id);
    }
    return gaps;
}
