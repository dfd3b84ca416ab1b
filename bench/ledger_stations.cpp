// Three stations sharing one ledger, each a process of its own with a tray of simulated
// locators plugged one after another (the next once the previous one's row is on disk). Every
// tenth locator of a tray has a serial the other trays carry too, at the same place, so the
// stations race for it. Prints the time the ledger adds per device written (reserve, then
// settle: the round trips to the server; median and 99th percentile), the IDs used, duplicate
// IDs and locators written twice. Run it against a throwaway cluster, for instance with
// pg_virtualenv; the connection string defaults to libpq's environment (PGHOST, PGPORT, ...).
// Usage: bench_ledger_stations [connection] [locators per station]

#include "Percentile.h"
#include "cli/Batch.h"
#include "platform/sources/SimDeviceSource.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kStations = 3;
constexpr int kSharedEvery = 10;

std::string serialAt(int station, int n, long long run) {
    char serial[48];
    if (n % kSharedEvery == 0)
        std::snprintf(serial, sizeof serial, "SHARED-%lld-%03d", run, n);
    else
        std::snprintf(serial, sizeof serial, "S%d-%lld-%03d", station, run, n);
    return serial;
}

// One station: plugs its tray and writes one line per row, "serial result id ledger-us".
int runStation(int station, int locators, long long run, const std::string& connection,
               const std::filesystem::path& dir) {
    auto owned = std::make_unique<platform::SimDeviceSource>();
    platform::SimDeviceSource& source = *owned;
    platform::installDeviceSource(std::move(owned));

    const std::string name = "bench-" + std::to_string(station);
    TBatchOptions batch;
    batch.ProfilePath = (dir / "profile.json").string();
    batch.LogPath = (dir / (name + ".csv")).string();
    batch.Station = name;
    batch.Ledger = connection;
    std::ofstream results(dir / (name + ".txt"));

    std::mutex mutex;
    std::condition_variable logged;
    std::set<std::string> done;
    std::thread tray([&] {
        for (int n = 0; n < locators; ++n) {
            const std::string serial = serialAt(station, n, run);
            auto model = platform::makeSimLocator();
            model.info.serialNumber = std::u16string(serial.begin(), serial.end());
            std::unique_lock lock(mutex);
            const std::string path = source.plug(std::move(model));
            if (!logged.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return done.contains(serial); }))
                std::fprintf(stderr, "%s: no row for %s within 10 s\n", name.c_str(),
                             serial.c_str());
            lock.unlock();
            source.unplug(path);
        }
        StopRequested = true;
    });
    std::FILE* quiet = std::fopen("/dev/null", "w");
    BatchCommand(TCliOptions{}, batch, quiet,
                 [&](const TStationRow& row, std::chrono::microseconds ledgerTime) {
                     std::lock_guard lock(mutex);
                     results << row.Serial << ' ' << row.Result << ' ' << row.LocationId << ' '
                             << ledgerTime.count() << '\n';
                     done.insert(row.Serial);
                     logged.notify_all();
                 });
    tray.join();
    std::fclose(quiet);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string connection = argc > 1 ? argv[1] : "";
    const int locators = argc > 2 ? std::atoi(argv[2]) : 200;
    const long long run = static_cast<long long>(::getpid());
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarvex-bench-ledger-" + std::to_string(run));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "profile.json") << R"({"format": "tarvex-profile", "version": 1})";

    std::vector<pid_t> children;
    for (int station = 1; station <= kStations; ++station) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(runStation(station, locators, run, connection, dir));
        children.push_back(child);
    }
    bool stationsOk = true;
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        stationsOk = stationsOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::vector<double> ledgerMs;
    std::map<int, int> idUses;
    std::map<std::string, int> writesBySerial;
    int refused = 0, failed = 0;
    for (int station = 1; station <= kStations; ++station) {
        std::ifstream results(dir / ("bench-" + std::to_string(station) + ".txt"));
        std::string serial, result;
        int id = 0;
        long long micros = 0;
        while (results >> serial >> result >> id >> micros) {
            if (result == "refused") {
                ++refused;
                continue;
            }
            if (result != "ok") {
                ++failed;
                continue;
            }
            ++idUses[id];
            ++writesBySerial[serial];
            ledgerMs.push_back(static_cast<double>(micros) / 1000.0);
        }
    }
    int duplicates = 0, doubleWrites = 0;
    for (const auto& [id, uses] : idUses)
        duplicates += uses - 1;
    for (const auto& [serial, writes] : writesBySerial)
        doubleWrites += writes - 1;
    const int expected = kStations * locators - (kStations - 1) * ((locators + 9) / kSharedEvery);
    std::printf("stations: %d x %d locators (every %dth shared by all)\n", kStations, locators,
                kSharedEvery);
    std::printf("written: %zu of %d distinct locators; refused: %d; failed: %d\n",
                writesBySerial.size(), expected, refused, failed);
    std::printf("ledger time per device written, median: %.2f ms\n", percentile(ledgerMs, 0.5));
    std::printf("ledger time per device written, p99:    %.2f ms\n", percentile(ledgerMs, 0.99));
    std::printf("Location IDs used: %zu unique, %d to %d\n", idUses.size(),
                idUses.empty() ? 0 : idUses.begin()->first,
                idUses.empty() ? 0 : idUses.rbegin()->first);
    std::printf("duplicate IDs: %d  locators written twice: %d\n", duplicates, doubleWrites);
    std::filesystem::remove_all(dir);
    const bool met = stationsOk && percentile(ledgerMs, 0.5) < 5.0 && duplicates == 0 &&
                     doubleWrites == 0 && static_cast<int>(writesBySerial.size()) == expected;
    std::printf("target (median < 5 ms, 0 duplicates, 0 double writes, every locator written): "
                "%s\n",
                met ? "met" : "NOT met");
    return met ? 0 : 1;
}
