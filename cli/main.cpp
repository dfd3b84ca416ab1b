// tarvexctl: the locator's commands without the window, for scripts and provisioning stations.
// The devices are chosen as for the window, by TARVEX_HID_PLATFORM (native, sim, sim:FILE).

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/LedgerReport.h"
#include "platform/sources/DeviceSourceFromEnvironment.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

void requestStop(int) {
    StopRequested = true;
}

int fail(const TCliOptions& options, TExitCode code, const std::string& message) {
    std::fprintf(stderr, "tarvexctl: %s\n", message.c_str());
    if (options.Json)
        std::cout << nlohmann::ordered_json{{"error",
                                             {{"code", static_cast<int>(code)},
                                              {"message", message}}}}
                         .dump(2)
                  << std::endl;
    return static_cast<int>(code);
}

} // namespace

int main(int argc, char* argv[]) {
    CLI::App app{"tarvexctl: read, write, verify and reset Tarvex locators without the window.\n"
                 "Devices come from TARVEX_HID_PLATFORM: native (default), sim or sim:FILE."};
    app.footer(ExitCodeTable());
    app.require_subcommand(1);
    app.fallthrough();
    TCliOptions options;
    int timeoutMs = 3000;
    app.add_flag("--json", options.Json, "One JSON document on stdout");
    app.add_option("--timeout", timeoutMs, "How long to wait for an answer, in ms")
        ->check(CLI::Range(10, 600000));

    const auto addDevice = [&options](CLI::App* command) {
        command->add_option("--device", options.Device,
                            "A hidraw path, a serial number or an index from list");
    };
    CLI::App* list = app.add_subcommand("list", "The HID devices, locators marked");
    CLI::App* read = app.add_subcommand("read", "The locator's configuration");
    addDevice(read);

    CLI::App* set = app.add_subcommand("set", "Write, then verify field by field");
    addDevice(set);
    std::string profilePath;
    set->add_option("--profile", profilePath, "Profile to write");
    std::vector<std::pair<std::string, std::string>> fieldArguments;
    std::array<std::string, kLocatorFieldCount> fieldValues;
    for (int field = 0; field < kLocatorFieldCount; ++field)
        set->add_option(std::string("--") + LocatorFields()[field].Name, fieldValues[field],
                        FieldAllowedText(field))
            ->group("Fields");

    CLI::App* verify = app.add_subcommand("verify", "Compare the locator with a profile");
    addDevice(verify);
    verify->add_option("--profile", profilePath, "Profile to compare with")->required();

    CLI::App* reset = app.add_subcommand("reset", "Factory reset, with its check");
    addDevice(reset);
    bool confirmed = false;
    reset->add_flag("--yes", confirmed, "Do not ask");

    CLI::App* watch = app.add_subcommand("watch", "Every input report, until Ctrl-C or unplug");
    addDevice(watch);

    CLI::App* batch = app.add_subcommand("batch", "Station mode: provision locators as plugged");
    TBatchOptions batchOptions;
    std::string locationIds;
    batch->add_option("--profile", batchOptions.ProfilePath, "Profile to write")->required();
    batch->add_option("--log", batchOptions.LogPath, "CSV log, appended")->required();
    batch->add_option("--station", batchOptions.Station, "Station name for the log");
    batch->add_option("--location-id", locationIds, "FIRST[-LAST]: give each the next unused ID");
    batch->add_option("--count", batchOptions.Count, "Stop after N locators")
        ->check(CLI::PositiveNumber);
    batch->add_flag("--reuse", batchOptions.Reuse, "Location IDs in the log may be given again");
    const char* ledgerHelp = "PostgreSQL ledger shared by the stations (libpq connection string "
                             "or URI, e.g. postgresql://user@host/db)";
    batch
        ->add_option("--ledger", batchOptions.Ledger,
                     std::string(ledgerHelp) + ". Location IDs then come from the ledger "
                                               "(range 1-4095 without --location-id)")
        ->envname("TARVEX_LEDGER");

    CLI::App* ledger = app.add_subcommand("ledger", "The PostgreSQL ledger the stations share");
    ledger->require_subcommand(1);
    CLI::App* report = ledger->add_subcommand(
        "report", "What was provisioned, by which station, with which IDs; gaps, unverified");
    LedgerReportOptions reportOptions;
    report->add_option("--ledger", reportOptions.ledger, ledgerHelp)
        ->envname("TARVEX_LEDGER")
        ->required();
    report->add_option("--since", reportOptions.since, "Only IDs settled since TIME (UTC)");
    report->add_option("--station", reportOptions.station, "Only this station's IDs");
    report->add_flag("--csv", reportOptions.csv, "CSV, one row per ID, gaps included");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return fail(options, TExitCode::Usage, error.what());
    }
    options.Timeout = std::chrono::milliseconds(timeoutMs);

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    try {
        for (int field = 0; field < kLocatorFieldCount; ++field)
            if (!fieldValues[field].empty())
                fieldArguments.emplace_back(LocatorFields()[field].Name, fieldValues[field]);
        TLocatorProfile profile;
        if (*set) {
            if (profilePath.empty() == fieldArguments.empty())
                throw ECliError(TExitCode::Usage,
                                "set takes either --profile FILE or field options such as "
                                "--LocationID 17.");
            profile = profilePath.empty() ? ProfileFromArguments(fieldArguments)
                                          : LoadProfileFile(profilePath);
        }
        if (*verify)
            profile = LoadProfileFile(profilePath);
        if (*batch && !locationIds.empty())
            ParseLocationIdRange(locationIds, batchOptions);
        if (*batch && !batchOptions.Ledger.empty() && batchOptions.Reuse)
            throw ECliError(TExitCode::Usage, "--reuse cannot be used with --ledger: the ledger "
                                              "never gives a Location ID twice.");
        if (*batch && !batchOptions.Ledger.empty() && batchOptions.Station.empty())
            throw ECliError(TExitCode::Usage, "--ledger needs --station NAME: the ledger tells "
                                              "the stations apart by name.");
        if (*ledger) {
            ledgerReportCommand(options, reportOptions);
            return static_cast<int>(TExitCode::Success);
        }

        auto source = platform::deviceSourceFromEnvironment();
        if (!source)
            throw ECliError(TExitCode::Usage, "TARVEX_HID_PLATFORM cannot be used.");
        platform::installDeviceSource(std::move(source));

        if (*list)
            ListCommand(options);
        else if (*read)
            ReadCommand(options);
        else if (*set)
            SetCommand(options, profile);
        else if (*verify)
            VerifyCommand(options, profile);
        else if (*reset)
            ResetCommand(options, confirmed);
        else if (*watch)
            WatchCommand(options);
        else if (*batch)
            BatchCommand(options, batchOptions, options.Json ? stderr : stdout);
    } catch (const ECliError& error) {
        return fail(options, error.Code, error.what());
    }
    return static_cast<int>(TExitCode::Success);
}
