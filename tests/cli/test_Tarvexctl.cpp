// tarvexctl as scripts meet it: a process with an environment, arguments, stdout, stderr and an
// exit status, on simulated devices described by scenario files.

#include "TarvexctlTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using nlohmann::json;
using namespace tarvexctl_test;

TEST_F(TarvexctlTest, ExitCodesAndJsonDocuments) {
    const auto one = file("one.txt", "device locator\nserial ABC-1\ndevice keyboard\n");
    Result listed = run(one, {"list", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const json list = json::parse(listed.out);
    ASSERT_EQ(list.size(), 2u);
    const auto locator = std::find_if(list.begin(), list.end(),
                                      [](const json& d) { return d["locator"].get<bool>(); });
    ASSERT_NE(locator, list.end());
    EXPECT_EQ((*locator)["serial"], "ABC-1");
    EXPECT_EQ((*locator)["vendorId"], "3F7C");
    EXPECT_TRUE((*locator)["openable"].get<bool>());

    Result read = run(one, {"read", "--json"});
    ASSERT_EQ(read.status, 0) << read.err;
    const json profile = json::parse(read.out);
    EXPECT_EQ(profile["format"], "tarvex-profile");
    EXPECT_EQ(profile["version"], 1);
    EXPECT_EQ(profile["fields"].size(), 15u);
    EXPECT_EQ(profile["fields"]["LocationID"], 1);
    EXPECT_EQ(profile["fields"]["Frequency"], "915 FHSS");
    EXPECT_EQ(profile["fields"]["OEM1"], "90");

    // The read-back, saved, is a profile that set writes and verify accepts.
    const auto saved = file("saved.json", read.out);
    EXPECT_EQ(run(one, {"set", "--profile", saved}).status, 0);
    EXPECT_EQ(run(one, {"verify", "--profile", saved}).status, 0);

    const auto other = file("other.json", R"({"format": "tarvex-profile", "version": 1,
                                              "fields": {"LocationID": 5, "Ext1": "0A"}})");
    Result mismatch = run(one, {"--json", "verify", "--profile", other});
    EXPECT_EQ(mismatch.status, 6);
    EXPECT_NE(mismatch.err.find("LocationID: expected 5, read 1"), std::string::npos)
        << mismatch.err;
    EXPECT_NE(mismatch.err.find("Ext1: expected 0A, read 00"), std::string::npos);
    EXPECT_EQ(json::parse(mismatch.out)["error"]["code"], 6) << "one document, the error";

    Result noLocator = run(file("keyboard.txt", "device keyboard\n"), {"read", "--json"});
    EXPECT_EQ(noLocator.status, 3);
    EXPECT_EQ(json::parse(noLocator.out)["error"]["code"], 3);

    const auto two = file("two.txt", "device locator\nserial A-1\ndevice locator\nserial B-2\n");
    Result several = run(two, {"read"});
    EXPECT_EQ(several.status, 2);
    EXPECT_NE(several.err.find("A-1"), std::string::npos) << "the choices are listed";
    EXPECT_NE(several.err.find("B-2"), std::string::npos);
    EXPECT_EQ(several.out, "");
    EXPECT_EQ(run(two, {"read", "--device", "B-2"}).status, 0);

    Result denied = run(file("denied.txt", "device locator\naccess denied\n"), {"read"});
    EXPECT_EQ(denied.status, 4);
    EXPECT_NE(denied.err.find("udev rule"), std::string::npos) << denied.err;

    const auto silent = file("silent.txt", "device locator\nanswer silent\n");
    EXPECT_EQ(run(silent, {"--timeout", "200", "read"}).status, 7);
    EXPECT_EQ(run(one, {"reset"}).status, 2) << "no terminal, no --yes: refused";
    EXPECT_EQ(run(one, {"reset", "--yes"}).status, 0);
    EXPECT_EQ(run(one, {"set", "--LocationID", "5000"}).status, 2);
    EXPECT_EQ(run(one, {"frobnicate"}).status, 2);

    const auto vanishing = file("vanishing.txt", "device locator\nlate 3000\nunplug 1000\n");
    EXPECT_EQ(run(vanishing, {"read"}).status, 8);
}

TEST_F(TarvexctlTest, RefusedProfilesNameTheFieldAndNeverReachTheDevice) {
    // Had the device been reached at all, its denied access would end the command with 4.
    const auto denied = file("denied.txt", "device locator\naccess denied\n");
    const std::pair<const char*, const char*> refusals[] = {
        {R"({"format": "tarvex-profile", "version": 1, "fields": {"Colour": "red"}})", "Colour"},
        {R"({"format": "tarvex-profile", "version": 1, "fields": {"LocationID": 4096}})",
         "LocationID"},
        {R"({"format": "tarvex-profile", "version": 1, "fields": {"LocationID": "7"}})",
         "LocationID"},
        {R"({"format": "tarvex-profile", "version": 1, "fields": {"OEM1": "FF"}})", "OEM1"},
        {R"({"format": "tarvex-profile", "version": 1, "fields": {"Frequency": "900"}})",
         "Frequency"},
        {R"({"format": "tarvex-profile", "version": 2, "fields": {}})", "version 2"},
        {R"({"format": "other", "version": 1})", "format"},
        {R"({"format": "tarvex-profile", "version": 1, "fields": {)", "JSON"},
    };
    for (const auto& [text, named] : refusals) {
        Result refused = run(denied, {"set", "--profile", file("p.json", text)});
        EXPECT_EQ(refused.status, 2) << text;
        EXPECT_NE(refused.err.find(named), std::string::npos) << refused.err;
    }
}

TEST_F(TarvexctlTest, BatchWritesEachLocatorOnceAndRetriesOneUnpluggedMidWrite) {
    const std::string tray = SCENARIOS "/station-tray.txt";
    const auto profile =
        file("tray.json", run(file("any.txt", "device locator\n"), {"read", "--json"}).out);
    const auto log = (dir_ / "run.csv").string();
    Result batch = run(tray, {"batch", "--profile", profile, "--log", log, "--station", "S1",
                              "--location-id", "100-199", "--count", "3"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    const auto rows = logRows(log);
    std::vector<std::string> outcomes;
    std::set<std::string> ids;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 12u);
        outcomes.push_back(row[3] + " " + row[9]);
        EXPECT_TRUE(row[8].empty() || ids.insert(row[8]).second) << "ID " << row[8] << " twice";
        EXPECT_EQ(row[1], "S1");
        EXPECT_EQ(row[6], "tray.json");
        EXPECT_EQ(row[7].size(), 64u) << "SHA-256 in hex";
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"TRAY-0001 ok", "TRAY-0002 error", "TRAY-0002 ok",
                                                  "TRAY-0003 ok"}));
    EXPECT_NE(rows[1][10].find("unplugged"), std::string::npos);
    EXPECT_EQ(rows[0][8], "100");
    EXPECT_NE(batch.out.find("TRAY-0001) is already written"), std::string::npos) << batch.out;

    // A second run over the same tray writes none of it again; Ctrl-C ends it cleanly.
    Tarvexctl again(dir_, tray, {"batch", "--profile", profile, "--log", log});
    ASSERT_TRUE(
        eventually([&] { return again.out().find("TRAY-0003) is already") != std::string::npos; }));
    again.signal(SIGINT);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(logRows(log).size(), rows.size());
}

TEST_F(TarvexctlTest, KilledRunLeavesWholeRowsAndAHalfRowIsCutOnTheNextStart) {
    std::string stream;
    for (int n = 0; n < 40; ++n)
        stream += "device locator\nserial S-" + std::to_string(n) + "\nattached no\nplug " +
                  std::to_string(200 + 100 * n) + "\n";
    const auto scenario = file("stream.txt", stream);
    const auto profile = file("p.json", R"({"format": "tarvex-profile", "version": 1})");
    const auto log = (dir_ / "run.csv").string();
    Tarvexctl batch(dir_, scenario,
                    {"batch", "--profile", profile, "--log", log, "--location-id", "1"});
    ASSERT_TRUE(eventually([&] { return logRows(log).size() >= 3; }));
    batch.signal(SIGKILL);
    EXPECT_EQ(batch.wait(), -SIGKILL);
    const std::string killed = slurp(log);
    ASSERT_EQ(killed.back(), '\n');
    for (const auto& row : logRows(log))
        EXPECT_EQ(row.size(), 12u);

    std::ofstream(log, std::ios::app) << "2026-01-01T00:00:00Z,,/dev/hidraw9,S-99,Loc";
    Result resumed = run(scenario, {"batch", "--profile", profile, "--log", log, "--location-id",
                                    "1", "--count", "1"});
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    const std::string after = slurp(log);
    EXPECT_EQ(after.substr(0, killed.size()), killed) << "the half row is cut, nothing else";
    const auto rows = logRows(log);
    EXPECT_EQ(rows.size(), std::count(killed.begin(), killed.end(), '\n')) << "one new row";
    EXPECT_EQ(std::stoi(rows.back()[8]), std::stoi(rows[rows.size() - 2][8]) + 1)
        << "IDs go on where the killed run stopped";
}

TEST_F(TarvexctlTest, ASecondProcessFindsTheLocatorBusy) {
    const auto streaming = file("streaming.txt", "device locator\nstream 20 00AA\n");
    Tarvexctl watcher(dir_, streaming, {"watch", "--json"});
    ASSERT_TRUE(eventually([&] { return !watcher.out().empty(); }));
    const json report = json::parse(watcher.out().substr(0, watcher.out().find('\n')));
    EXPECT_EQ(report["reportId"], 0);
    EXPECT_EQ(report["bytes"].get<std::string>().substr(0, 2), "AA");

    Result second = run(streaming, {"read"});
    EXPECT_EQ(second.status, 5);
    EXPECT_NE(second.err.find("device busy"), std::string::npos);

    watcher.signal(SIGINT);
    EXPECT_EQ(watcher.wait(), 0) << "Ctrl-C ends the watch cleanly";
    EXPECT_EQ(run(streaming, {"read"}).status, 0) << "the lock went with the process";
}

} // namespace
