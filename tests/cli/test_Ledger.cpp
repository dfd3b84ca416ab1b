// Stations sharing one ledger on a real PostgreSQL server: tarvexctl batch processes, each on its
// own simulated bench, against the throwaway cluster with-postgresql.sh starts (pg_virtualenv
// sets PGHOST, PGPORT, PGUSER, PGPASSWORD and PGDATABASE, which libpq reads).

#include "TarvexctlTestSupport.h"
#include "ledger/Ledger.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <set>

namespace {

using namespace tarvexctl_test;

constexpr const char* kLedger = "postgresql://";

enum Column { colSerial = 3, colLocationId = 8, colResult = 9, colError = 10 };

// A bench where locators are plugged one after another, `step` ms apart from `first` ms.
std::string bench(const std::vector<std::string>& serials, int first, int step,
                  const std::string& lastExtra = "") {
    std::string text;
    for (std::size_t n = 0; n < serials.size(); ++n)
        text += "device locator\nserial " + serials[n] + "\nattached no\nplug " +
                std::to_string(first + step * static_cast<int>(n)) + "\n" +
                (n + 1 == serials.size() ? lastExtra : "");
    return text;
}

std::vector<std::string> serials(const std::string& prefix, int count) {
    std::vector<std::string> names;
    for (int n = 0; n < count; ++n)
        names.push_back(prefix + std::to_string(n));
    return names;
}

std::vector<LedgerIdRecord> ledgerRecords() {
    Ledger ledger(kLedger);
    ledger.connect();
    return ledger.records(std::nullopt, std::nullopt);
}

class LedgerTest : public TarvexctlTest {
protected:
    void SetUp() override {
        TarvexctlTest::SetUp();
        ASSERT_EQ(std::system("psql -q -c 'DROP TABLE IF EXISTS tarvex_ledger_schema, "
                              "tarvex_location_ids, tarvex_attempts' >/dev/null"),
                  0);
        profile_ = file("p.json", R"({"format": "tarvex-profile", "version": 1})");
    }
    void TearDown() override {
        for (auto& station : stations_)
            station->signal(SIGKILL), station->wait();
        TarvexctlTest::TearDown();
    }

    Tarvexctl& station(const std::string& name, const std::string& scenario,
                       std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"batch",     "--profile", profile_,   "--log", log(name),
                                      "--station", name,        "--ledger", kLedger};
        args.insert(args.end(), extra.begin(), extra.end());
        stations_.push_back(
            std::make_unique<Tarvexctl>(dir_, file(name + ".txt", scenario), std::move(args)));
        return *stations_.back();
    }
    std::string log(const std::string& name) { return (dir_ / (name + ".csv")).string(); }
    std::vector<std::vector<std::string>> rows(const std::string& name) {
        return fs::exists(log(name)) ? logRows(log(name)) : std::vector<std::vector<std::string>>{};
    }
    std::size_t countRows(const std::string& name, const std::string& result) {
        std::size_t count = 0;
        for (const auto& row : rows(name))
            count += row[colResult] == result;
        return count;
    }

    // Every locator a log says was written holds an ID the ledger has as written for its
    // serial, and no ID is held twice.
    void expectLogsMatchTheLedger(const std::vector<std::string>& names) {
        std::map<int, LedgerIdRecord> byId;
        for (const LedgerIdRecord& record : ledgerRecords())
            EXPECT_TRUE(byId.emplace(record.locationId, record).second);
        std::set<int> written;
        for (const std::string& name : names)
            for (const auto& row : rows(name)) {
                if (row[colResult] != "ok")
                    continue;
                const int id = std::stoi(row[colLocationId]);
                EXPECT_TRUE(written.insert(id).second) << "ID " << id << " written twice";
                ASSERT_TRUE(byId.contains(id)) << "ID " << id << " not from the ledger";
                EXPECT_EQ(byId[id].state, "done");
                EXPECT_EQ(byId[id].serial, row[colSerial]);
                EXPECT_EQ(byId[id].station, name);
            }
    }

    std::string profile_;
    std::vector<std::unique_ptr<Tarvexctl>> stations_;
};

TEST_F(LedgerTest, StationsNeverShareAnIdWriteASharedLocatorOnceAndSettleAKilledWrite) {
    auto a = serials("A-", 5), b = serials("B-", 5);
    a.push_back("SHARED-1");
    b.push_back("SHARED-1");
    station("A", bench(a, 200, 150), {"--location-id", "10-40"});
    station("B", bench(b, 200, 150), {"--location-id", "10-40"});
    // C-SLOW's write is answered after a minute: the station is killed while it waits.
    Tarvexctl& c = station("C", bench({"C-0", "C-1", "C-SLOW"}, 200, 150, "late 60000\n"),
                           {"--location-id", "30-70", "--timeout", "120000"});

    const auto openForC = [] {
        for (const LedgerIdRecord& record : ledgerRecords())
            if (record.serial == "C-SLOW" && record.state == "reserved")
                return record.locationId;
        return 0;
    };
    int killedId = 0;
    ASSERT_TRUE(eventually([&] { return (killedId = openForC()) != 0; }));
    c.signal(SIGKILL);
    EXPECT_EQ(c.wait(), -SIGKILL);
    ASSERT_TRUE(eventually([&] { return rows("A").size() == 6 && rows("B").size() == 6; }));

    std::size_t sharedWrites = 0, sharedRefusals = 0;
    for (const std::string name : {"A", "B"})
        for (const auto& row : rows(name))
            if (row[colSerial] == "SHARED-1") {
                sharedWrites += row[colResult] == "ok";
                sharedRefusals += row[colResult] == "refused";
                if (row[colResult] == "refused") {
                    EXPECT_NE(row[colError].find("station"), std::string::npos) << row[colError];
                }
            }
    EXPECT_EQ(sharedWrites, 1u);
    EXPECT_EQ(sharedRefusals, 1u);

    // Restarted with the slow locator still plugged in: it does not hold the reserved ID (it
    // was killed unanswered), so that ID is used-unverified, and the locator gets a new one.
    Tarvexctl& again = station("C", "device locator\nserial C-SLOW\n" + bench({"C-2"}, 300, 0),
                               {"--location-id", "30-70"});
    ASSERT_TRUE(eventually([&] { return countRows("C", "ok") == 4; })) << again.out();
    again.signal(SIGINT);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_NE(again.out().find("Location ID " + std::to_string(killedId) +
                               " was left reserved for serial C-SLOW; recorded as used-unverified "
                               "(read back: it holds Location ID 1)"),
              std::string::npos)
        << again.out();
    for (auto& s : stations_)
        s->signal(SIGINT);

    std::map<int, std::string> states;
    for (const LedgerIdRecord& record : ledgerRecords())
        states[record.locationId] = record.state;
    EXPECT_EQ(states[killedId], "unverified");
    expectLogsMatchTheLedger({"A", "B", "C"});

    Result report = run(file("none.txt", ""), {"ledger", "report", "--ledger", kLedger, "--csv"});
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find("\n" + std::to_string(killedId) + ",unverified,C,C-SLOW,"),
              std::string::npos)
        << report.out;
    const int highestOfAB = std::prev(states.lower_bound(30))->first;
    if (highestOfAB + 1 < 30) {
        EXPECT_NE(report.out.find("\n" + std::to_string(highestOfAB + 1) + ",gap,"),
                  std::string::npos)
            << "IDs between the ranges in use are gaps:\n"
            << report.out;
    }

    Result ofC = run(file("none.txt", ""),
                     {"ledger", "report", "--ledger", kLedger, "--csv", "--station", "C"});
    ASSERT_EQ(ofC.status, 0) << ofC.err;
    std::istringstream lines(ofC.out);
    std::string line;
    std::getline(lines, line); // header
    while (std::getline(lines, line))
        EXPECT_TRUE(line.find(",C,") != std::string::npos ||
                    line.find(",gap,") != std::string::npos)
            << line;
    Result future = run(file("none.txt", ""),
                        {"ledger", "report", "--ledger", kLedger, "--since", "2999-01-01"});
    EXPECT_EQ(future.out, "The ledger holds no Location IDs that match.\n");
}

TEST_F(LedgerTest, ARestartedStationRecordsAsWrittenTheIdItsLocatorHolds) {
    // The simulated locator starts at Location ID 1, as one written with reservation 1 and
    // killed before the station saw the answer would hold it.
    Tarvexctl& killed = station("G", bench({"G-0"}, 0, 0, "late 60000\n"),
                                {"--location-id", "1-1", "--timeout", "120000"});
    ASSERT_TRUE(eventually([] { return ledgerRecords().size() == 1; }));
    killed.signal(SIGKILL);
    killed.wait();
    Tarvexctl& again = station("G", "device locator\nserial G-0\n", {"--location-id", "1-1"});
    ASSERT_TRUE(eventually([&] { return again.out().find("refused") != std::string::npos; }))
        << again.out();
    again.signal(SIGINT);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_NE(again.out().find("Location ID 1 was left reserved for serial G-0; its locator holds "
                               "it, so it is recorded as written."),
              std::string::npos)
        << again.out();
    EXPECT_NE(again.out().find("refused: already provisioned at station G"), std::string::npos);
    EXPECT_EQ(ledgerRecords().at(0).state, "done");
}

TEST_F(LedgerTest, StationsWriteNothingWhileTheServerIsAwayAndResumeWhenItIsBack) {
    const char* stop = std::getenv("TARVEX_LEDGER_TEST_STOP");
    const char* start = std::getenv("TARVEX_LEDGER_TEST_START");
    ASSERT_TRUE(stop && start) << "run by with-postgresql.sh";
    Tarvexctl& d = station("D", bench(serials("D-", 10), 200, 300), {"--count", "10"});
    Tarvexctl& e = station("E", bench(serials("E-", 10), 200, 300), {"--count", "10"});
    ASSERT_TRUE(eventually([&] { return countRows("D", "ok") >= 2 && countRows("E", "ok") >= 2; }));
    // Each station settles its own reservations, so a second process under a name is refused.
    Result twin = run(file("twin.txt", bench({"T-0"}, 0, 0)),
                      {"batch", "--profile", profile_, "--log", (dir_ / "twin.csv").string(),
                       "--station", "D", "--ledger", kLedger});
    EXPECT_EQ(twin.status, 1);
    EXPECT_NE(twin.err.find("a station named D is already running"), std::string::npos) << twin.err;
    ASSERT_EQ(std::system(stop), 0);
    ASSERT_TRUE(eventually(
        [&] { return countRows("D", "refused") >= 1 && countRows("E", "refused") >= 1; }));
    EXPECT_NE(d.out().find("The ledger cannot be reached"), std::string::npos) << d.out();
    ASSERT_EQ(std::system(start), 0);
    ASSERT_TRUE(
        eventually([&] { return countRows("D", "ok") == 10 && countRows("E", "ok") == 10; }));
    EXPECT_EQ(d.wait(), 0);
    EXPECT_EQ(e.wait(), 0);
    EXPECT_NE(d.out().find("The ledger is reachable again; resuming."), std::string::npos);
    expectLogsMatchTheLedger({"D", "E"});

    // A ledger a newer tarvexctl has upgraded is refused before anything is written.
    ASSERT_EQ(std::system("psql -q -c 'UPDATE tarvex_ledger_schema SET version = 2'"), 0);
    Tarvexctl& newer = station("F", bench({"F-0"}, 0, 0));
    EXPECT_EQ(newer.wait(), 1);
    EXPECT_NE(newer.err().find("schema is version 2"), std::string::npos) << newer.err();
    EXPECT_TRUE(rows("F").empty());
}

} // namespace
