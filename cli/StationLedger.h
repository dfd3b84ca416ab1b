#pragma once
// A station's side of the shared ledger. While the server is away the station writes nothing:
// every use refuses, and the connection is tried again after a back-off (0.5 s, doubling up to
// 10 s). Settlements that could not be delivered are held and delivered first on the next
// connection. After every connection the station's own reservations still open are settled by
// reading their locators back: those a crash (or a lost answer) left behind.

#include "ledger/Ledger.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class StationLedger {
public:
    using Say = std::function<void(const std::string&)>;
    // The Location ID the locator of a reservation holds now; none when it is not attached or
    // does not answer.
    using ReadBack = std::function<std::optional<int>(const LedgerIdRecord&)>;

    StationLedger(const std::string& connection, std::string station, Say say, ReadBack readBack);

    // Whether the ledger can be used now; connects when the back-off allows. Raises LedgerError
    // when the ledger refuses this station (a newer schema, its name in use).
    bool ready();
    // Why the ledger cannot be used, while it cannot.
    const std::string& whyAway() const { return whyAway_; }

    // Raises LedgerUnavailable (and starts the back-off) when the server is away.
    Reservation reserve(const LedgerDevice& device, int first, int last);
    // Never raise for an absent server: what cannot be delivered now is delivered on reconnect.
    void settle(int locationId, IdState state, const LedgerAttempt& attempt);
    void record(const LedgerAttempt& attempt);

    // Time spent waiting for the server, since the last call.
    std::chrono::microseconds takeBusyTime();

private:
    // A settlement, or an attempt only (no ID, state unused).
    struct Held {
        int locationId;
        IdState state;
        LedgerAttempt attempt;
    };

    void connect();
    // Sends now, or holds for the next connection while the server is away.
    void deliver(Held held);
    void send(const Held& held);
    void reconcile();
    void lost(const LedgerUnavailable& error);
    template <class Call> auto timed(Call call);

    Ledger ledger_;
    std::string station_;
    Say say_;
    ReadBack readBack_;
    std::vector<Held> held_;
    std::string whyAway_ = "not connected yet";
    std::chrono::steady_clock::time_point retryAt_{};
    std::chrono::milliseconds backoff_{500};
    bool away_ = false; // said so since the last connection
    std::chrono::microseconds busy_{0};
};
