#pragma once
// The ledger several stations share: which Location ID went to which locator, at which station,
// and every attempt, in PostgreSQL (libpq). IDs are rows keyed by the ID, so no two stations can
// hold the same one; a locator's serial may hold one ID at a time (reserved or written), so a
// locator plugged at two stations is written at one. Every statement passes its values as
// parameters. The schema is created on first use and carries its version.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr int kLedgerSchemaVersion = 1;

// The server cannot be reached or went away; nothing may be assumed about it.
class LedgerUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The ledger refuses: a newer schema, a station name in use, a statement it rejects.
class LedgerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a Location ID is in the ledger. `Reserved` until its device is written and verified;
// an ID leaves `Reserved` once and is never given out again, whatever it became.
enum class IdState { Reserved, Done, Mismatch, Failed, Unverified };
const char* idStateName(IdState state); // "reserved", "done", ...

struct LedgerDevice {
    std::string devicePath;
    std::string serial; // empty: none
    std::string profileSha256;
};

struct Reservation {
    enum class Outcome {
        Reserved,    // locationId is this station's
        Provisioned, // the serial holds an ID already, written: holder and time say where, when
        InProgress,  // the serial's ID is reserved and being written at holderStation
        RangeUsedUp, // every ID of the range is taken
    };
    Outcome outcome = Outcome::RangeUsedUp;
    int locationId = 0;
    std::string holderStation;
    std::string holderTime; // ISO 8601, UTC
};

struct LedgerAttempt {
    LedgerDevice device;
    int locationId = 0; // 0: none
    std::string result; // "ok", "mismatch", "error", "refused", "reconciled", "unverified"
    std::string error;
    long long durationMs = 0;
};

// One Location ID as the ledger holds it.
struct LedgerIdRecord {
    int locationId = 0;
    std::string state;
    std::string station;
    std::string serial;
    std::string devicePath;
    std::string profileSha256;
    std::string time; // ISO 8601, UTC: when settled, or when reserved while open
};

struct PgConnection;

class Ledger {
public:
    // Remembers where the ledger is (a libpq connection string or URI); connects on connect().
    explicit Ledger(std::string connection);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // Connects (again), creating the schema on first use. Raises LedgerUnavailable, or
    // LedgerError for a schema newer than this program knows.
    void connect();
    bool connected() const;
    // Takes the station's name for this session: a second process under the same name is
    // refused with LedgerError, since each station settles its own reservations.
    void claimStation(const std::string& station);

    // The lowest free ID of first..last for the device, unless its serial holds one already.
    Reservation reserve(const std::string& station, const LedgerDevice& device, int first,
                        int last);
    // Leaves `Reserved` for state and records the attempt, in one transaction. Settling an ID
    // already settled changes nothing and records nothing (a repeat after a lost answer).
    void settle(const std::string& station, int locationId, IdState state,
                const LedgerAttempt& attempt);
    // An attempt that holds no ID (a refusal).
    void record(const std::string& station, const LedgerAttempt& attempt);
    // The station's IDs still reserved.
    std::vector<LedgerIdRecord> openReservations(const std::string& station);

    // IDs settled or reserved since `since` (any time text PostgreSQL reads), of one station;
    // by ID. Raises std::invalid_argument for a time it cannot read.
    std::vector<LedgerIdRecord> records(const std::optional<std::string>& since,
                                        const std::optional<std::string>& station);
    // Every ID any station holds, ascending.
    std::vector<int> heldIds();

private:
    std::string connection_;
    std::unique_ptr<PgConnection> pg_;
};

// Runs of IDs between the lowest and highest of `listed` that no record of `held` has.
std::vector<std::pair<int, int>> idGaps(const std::vector<LedgerIdRecord>& listed,
                                        const std::vector<int>& held);
