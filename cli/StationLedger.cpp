#include "cli/StationLedger.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kFirstBackoff{500};
constexpr std::chrono::milliseconds kLongestBackoff{10000};

std::string seconds(std::chrono::milliseconds wait) {
    char text[16];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(wait.count()) / 1000.0);
    return text;
}

} // namespace

StationLedger::StationLedger(const std::string& connection, std::string station, Say say,
                             ReadBack readBack)
    : ledger_(connection), station_(std::move(station)), say_(std::move(say)),
      readBack_(std::move(readBack)) {}

template <class Call> auto StationLedger::timed(Call call) {
    const auto start = Clock::now();
    struct AddBusy {
        std::chrono::microseconds& busy;
        Clock::time_point start;
        ~AddBusy() {
            busy += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        }
    } addBusy{busy_, start};
    return call();
}

std::chrono::microseconds StationLedger::takeBusyTime() {
    return std::exchange(busy_, std::chrono::microseconds{0});
}

bool StationLedger::ready() {
    if (ledger_.connected())
        return true;
    if (Clock::now() < retryAt_)
        return false;
    try {
        connect();
    } catch (const LedgerUnavailable& error) {
        lost(error);
        return false;
    }
    return true;
}

void StationLedger::connect() {
    ledger_.connect();
    ledger_.claimStation(station_);
    std::vector<Held> held = std::move(held_);
    held_.clear();
    for (std::size_t k = 0; k < held.size(); ++k) {
        try {
            send(held[k]);
        } catch (const LedgerUnavailable&) {
            held_.assign(held.begin() + static_cast<std::ptrdiff_t>(k), held.end());
            throw;
        }
    }
    reconcile();
    if (away_)
        say_("The ledger is reachable again; resuming.");
    away_ = false;
    whyAway_.clear();
    backoff_ = kFirstBackoff;
}

void StationLedger::reconcile() {
    for (const LedgerIdRecord& open : ledger_.openReservations(station_)) {
        const std::optional<int> found = readBack_(open);
        const bool written = found == open.locationId;
        LedgerAttempt attempt{{open.devicePath, open.serial, open.profileSha256},
                              open.locationId,
                              written ? "reconciled" : "unverified",
                              !found ? "not plugged in, or no answer, when it was settled"
                              : written
                                  ? "read back: it holds its Location ID"
                                  : "read back: it holds Location ID " + std::to_string(*found),
                              0};
        ledger_.settle(station_, open.locationId, written ? IdState::Done : IdState::Unverified,
                       attempt);
        say_("Location ID " + std::to_string(open.locationId) + " was left reserved for " +
             (open.serial.empty() ? open.devicePath : "serial " + open.serial) + "; " +
             (written ? "its locator holds it, so it is recorded as written."
                      : "recorded as used-unverified (" + attempt.error +
                            "); it will not be given again."));
    }
}

void StationLedger::lost(const LedgerUnavailable& error) {
    const bool firstTime = !away_;
    away_ = true;
    whyAway_ = error.what();
    retryAt_ = Clock::now() + backoff_;
    say_(std::string(firstTime ? "The ledger cannot be reached"
                               : "The ledger is still unreachable") +
         " (" + whyAway_ + "); no locator is written until it is back. Trying again in " +
         seconds(backoff_) + ".");
    backoff_ = std::min(backoff_ * 2, kLongestBackoff);
}

Reservation StationLedger::reserve(const LedgerDevice& device, int first, int last) {
    try {
        return timed([&] { return ledger_.reserve(station_, device, first, last); });
    } catch (const LedgerUnavailable& error) {
        lost(error);
        throw;
    }
}

void StationLedger::settle(int locationId, IdState state, const LedgerAttempt& attempt) {
    deliver({locationId, state, attempt});
}

void StationLedger::record(const LedgerAttempt& attempt) {
    deliver({0, IdState::Failed, attempt});
}

void StationLedger::deliver(Held held) {
    if (!ledger_.connected()) {
        held_.push_back(std::move(held));
        return;
    }
    try {
        timed([&] { send(held); });
    } catch (const LedgerUnavailable& error) {
        held_.push_back(std::move(held));
        lost(error);
    }
}

void StationLedger::send(const Held& held) {
    if (held.locationId)
        ledger_.settle(station_, held.locationId, held.state, held.attempt);
    else
        ledger_.record(station_, held.attempt);
}
