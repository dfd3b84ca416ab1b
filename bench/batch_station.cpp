// Station mode under a tray of 200 simulated locators plugged one after another: each is
// plugged once the previous one's row is on disk, and unplugged then. Prints the tool's
// overhead per locator (plug, then verified row flushed; the simulated locator answers at once,
// so it adds no delay of its own), duplicates, misses and the Location IDs given.
// Usage: bench_batch_station [locators]

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
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Rows {
    std::mutex mutex;
    std::condition_variable logged;
    std::map<std::string, int> okBySerial;
    std::map<std::string, Clock::time_point> flushedAt;
    std::vector<int> locationIds;
    int errors = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    const int locators = argc > 1 ? std::atoi(argv[1]) : 200;
    auto owned = std::make_unique<platform::SimDeviceSource>();
    platform::SimDeviceSource& source = *owned;
    platform::installDeviceSource(std::move(owned));

    const auto dir = std::filesystem::temp_directory_path() /
                     ("tarvex-bench-station-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    TBatchOptions batch;
    batch.ProfilePath = (dir / "profile.json").string();
    batch.LogPath = (dir / "run.csv").string();
    batch.Station = "bench";
    batch.FirstLocationId = 1;
    batch.LastLocationId = 4095;
    batch.Count = locators;
    std::ofstream(batch.ProfilePath)
        << R"({"format": "tarvex-profile", "version": 1, "fields": {"Frequency": "869 Single"}})";

    Rows rows;
    std::map<std::string, Clock::time_point> pluggedAt;
    std::thread tray([&] {
        for (int n = 0; n < locators; ++n) {
            auto model = platform::makeSimLocator();
            char serial[24];
            std::snprintf(serial, sizeof serial, "BENCH-%03d", n);
            model.info.serialNumber = std::u16string(serial, serial + std::strlen(serial));
            std::unique_lock lock(rows.mutex);
            pluggedAt[serial] = Clock::now();
            const std::string path = source.plug(std::move(model));
            const bool done = rows.logged.wait_for(lock, std::chrono::seconds(10),
                                                   [&] { return rows.flushedAt.contains(serial); });
            lock.unlock();
            source.unplug(path);
            if (!done)
                std::fprintf(stderr, "no row for %s within 10 s\n", serial);
        }
    });

    std::FILE* quiet = std::fopen("/dev/null", "w");
    TCliOptions options;
    BatchCommand(options, batch, quiet, [&rows](const TStationRow& row, std::chrono::microseconds) {
        std::lock_guard lock(rows.mutex);
        rows.flushedAt.emplace(row.Serial, Clock::now());
        if (row.Result == "ok") {
            ++rows.okBySerial[row.Serial];
            rows.locationIds.push_back(row.LocationId);
        } else {
            ++rows.errors;
        }
        rows.logged.notify_all();
    });
    tray.join();
    std::fclose(quiet);

    std::vector<double> overheadMs;
    int duplicates = 0, misses = 0;
    for (const auto& [serial, plugged] : pluggedAt) {
        const auto flushed = rows.flushedAt.find(serial);
        const auto ok = rows.okBySerial.find(serial);
        if (flushed == rows.flushedAt.end() || ok == rows.okBySerial.end()) {
            ++misses;
            continue;
        }
        duplicates += ok->second - 1;
        overheadMs.push_back(
            std::chrono::duration<double, std::milli>(flushed->second - plugged).count());
    }
    std::set<int> ids(rows.locationIds.begin(), rows.locationIds.end());
    const bool consecutive = !ids.empty() && *ids.begin() == 1 &&
                             *ids.rbegin() == static_cast<int>(ids.size()) &&
                             ids.size() == rows.locationIds.size();
    std::printf("locators plugged:            %d\n", locators);
    std::printf("overhead per locator median: %.2f ms\n", percentile(overheadMs, 0.5));
    std::printf("overhead per locator p99:    %.2f ms\n", percentile(overheadMs, 0.99));
    std::printf("duplicates: %d  misses: %d  error rows: %d\n", duplicates, misses, rows.errors);
    std::printf("Location IDs used: %zu unique, %d to %d, %s\n", ids.size(),
                ids.empty() ? 0 : *ids.begin(), ids.empty() ? 0 : *ids.rbegin(),
                consecutive ? "consecutive" : "NOT consecutive");
    std::filesystem::remove_all(dir);
    const bool met = percentile(overheadMs, 0.5) < 50.0 && duplicates == 0 && misses == 0 &&
                     consecutive && static_cast<int>(ids.size()) == locators;
    std::printf("target (median < 50 ms, 0 duplicates, 0 misses, %d consecutive IDs): %s\n",
                locators, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
