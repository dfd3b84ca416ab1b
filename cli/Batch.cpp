#include "cli/Batch.h"

#include "cli/StationLedger.h"
#include "locator/LocatorAnswer.h"
#include "locator/LocatorCommands.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i)
        hex += HexWord(digest[i]).substr(2);
    return hex;
}

// One run at a station: what it has seen of the devices plugged in, and what comes next.
class TStation {
public:
    TStation(const TCliOptions& options, const TBatchOptions& batch, std::FILE* progress,
             const RowObserver& onRow)
        : FOptions(options), FBatch(batch), FProgress(progress), FOnRow(onRow),
          FProfileText(ReadProfileFile(batch.ProfilePath)),
          FProfile(ParseProfileFile(batch.ProfilePath, FProfileText)),
          FProfileSha256(sha256Hex(FProfileText)),
          FProfileName(std::filesystem::path(batch.ProfilePath).filename().string()),
          FLog(openLog(batch.LogPath)), FLink(options.Timeout),
          FNextLocationId(batch.FirstLocationId.value_or(0)) {
        FLink.OnDevicesChanged = [this] { FChanged = true; };
        if (!batch.Ledger.empty())
            FLedger = std::make_unique<StationLedger>(
                batch.Ledger, batch.Station, [this](const std::string& line) { say(line); },
                [this](const LedgerIdRecord& reservation) { return ReadBack(reservation); });
        if (FLog->RepairedBytes() > 0)
            say("The log's last row was cut short (" + std::to_string(FLog->RepairedBytes()) +
                " bytes); removed it.");
    }

    void Run() {
        say("Waiting for locators; plug one in (Ctrl-C to stop).");
        while (!StopRequested && !Finished()) {
            FLink.Pump(std::chrono::milliseconds(20));
            if (FLedger && LedgerCameBack())
                FChanged = true;
            if (!FChanged)
                continue;
            FChanged = false;
            Look();
        }
    }

    int Written() const { return FWritten; }
    int Errors() const { return FErrors; }

private:
    static std::unique_ptr<TStationLog> openLog(const std::string& path) {
        try {
            return std::make_unique<TStationLog>(path);
        } catch (const std::runtime_error& error) {
            throw ECliError(TExitCode::Failure,
                            std::string(error.what()) + "; nothing was written to any device.");
        }
    }

    bool Finished() {
        if (FBatch.Count && FWritten >= *FBatch.Count) {
            say("Done: " + std::to_string(FWritten) + " locators written.");
            return true;
        }
        if (FLedger ? FRangeUsedUp : FBatch.FirstLocationId && !NextLocationId()) {
            say("Done: the Location IDs up to " + std::to_string(FBatch.LastLocationId) +
                " are used up" + (FLedger ? " in the ledger." : "."));
            return true;
        }
        return false;
    }

    // The next Location ID the log has not given out, without taking it.
    std::optional<int> NextLocationId() {
        for (int id = FNextLocationId; id <= FBatch.LastLocationId; ++id)
            if (FBatch.Reuse ? !FGivenThisRun.contains(id) : !FLog->UsedLocationIds().contains(id))
                return id;
        return std::nullopt;
    }

    // Handles the first new locator of the list; looks again after each one, since the next
    // may already be plugged in.
    void Look() {
        const std::vector<TListedDevice> devices = FLink.List();
        std::set<std::string> attached;
        for (const TListedDevice& device : devices)
            attached.insert(device.Path);
        forgetUnplugged(attached);
        for (const TListedDevice& device : devices) {
            if (!device.Locator)
                continue;
            FFirstSeen.try_emplace(device.Path, Clock::now());
            if (!IsNew(device))
                continue;
            Provision(device);
            FChanged = true;
            return;
        }
    }

    void forgetUnplugged(const std::set<std::string>& attached) {
        for (auto* paths : {&FPortsWritten, &FSetAside})
            std::erase_if(*paths,
                          [&](const std::string& path) { return !attached.contains(path); });
        std::erase_if(FFirstSeen, [&](const auto& seen) { return !attached.contains(seen.first); });
    }

    bool IsNew(const TListedDevice& device) {
        if (FSetAside.contains(device.Path) || FWaitingForLedger.contains(device.Path))
            return false;
        const bool written = device.Serial.empty() ? FPortsWritten.contains(device.Path)
                                                   : FLog->WrittenSerials().contains(device.Serial);
        if (written) {
            say(device.Path + (device.Serial.empty() ? "" : " (serial " + device.Serial + ")") +
                " is already written; unplug it and plug in the next one.");
            FSetAside.insert(device.Path);
        }
        return !written;
    }

    void Provision(const TListedDevice& device) {
        TStationRow row = NewRow(device);
        std::optional<int> reserved;
        if (FLedger && !(reserved = Reserve(device, row)))
            return;
        try {
            FLink.Open(device);
            TLocatorConfig config = ConfigurationToWrite(FLink, FProfile);
            if (reserved) {
                row.LocationId = *reserved;
                config.LocationID = static_cast<std::uint16_t>(row.LocationId);
            } else if (FBatch.FirstLocationId) {
                row.LocationId = *NextLocationId();
                FNextLocationId = row.LocationId + 1;
                FGivenThisRun.insert(row.LocationId);
                config.LocationID = static_cast<std::uint16_t>(row.LocationId);
            } else {
                row.LocationId = config.LocationID;
            }
            const std::string Str = FLink.Exchange(WriteConfigurationCommand(config, nullptr));
            const std::vector<int> differing = DifferingFields(Str, SelectionFromConfig(config));
            row.Result = differing.empty() ? "ok" : "mismatch";
            row.Error = MismatchText(differing, config, DecodedAnswer(Str), "wrote");
        } catch (const ECliError& error) {
            row.Result = "error";
            row.Error = error.what();
        }
        FLink.Close();
        Finish(device, row);
        if (reserved)
            FLedger->settle(*reserved,
                            row.Result == "ok"         ? IdState::Done
                            : row.Result == "mismatch" ? IdState::Mismatch
                                                       : IdState::Failed,
                            AttemptOf(row));
        Log(row);
        Report(device, row);
    }

    TStationRow NewRow(const TListedDevice& device) const {
        TStationRow row;
        row.Station = FBatch.Station;
        row.DevicePath = device.Path;
        row.Serial = device.Serial;
        row.Product = device.Name;
        row.Release = HexWord(device.Release);
        row.ProfileName = FProfileName;
        row.ProfileSha256 = FProfileSha256;
        return row;
    }

    void Finish(const TListedDevice& device, TStationRow& row) {
        row.DurationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             Clock::now() - FFirstSeen[device.Path])
                             .count();
        row.TimeUtc = UtcTimestamp(std::chrono::system_clock::now(), false);
    }

    void Log(const TStationRow& row) {
        try {
            FLog->Append(row);
        } catch (const std::runtime_error& error) {
            throw ECliError(TExitCode::Failure, std::string(error.what()) + "; run stopped.");
        }
        if (FOnRow)
            FOnRow(row, FLedger ? FLedger->takeBusyTime() : std::chrono::microseconds{0});
    }

    static LedgerAttempt AttemptOf(const TStationRow& row) {
        return {{row.DevicePath, row.Serial, row.ProfileSha256},
                row.LocationId,
                row.Result,
                row.Error,
                row.DurationMs};
    }

    // The ID the ledger reserves for the device; none when it refuses the device, the range
    // is used up or the server is away (rows and messages say which).
    std::optional<int> Reserve(const TListedDevice& device, TStationRow& row) {
        Reservation reservation;
        try {
            if (!LedgerReady())
                throw LedgerUnavailable(FLedger->whyAway());
            reservation =
                FLedger->reserve({device.Path, device.Serial, FProfileSha256},
                                 FBatch.FirstLocationId.value_or(1), FBatch.LastLocationId);
        } catch (const LedgerUnavailable& error) {
            FWaitingForLedger.insert(device.Path);
            Refuse(device, row,
                   "the ledger cannot be reached (" + std::string(error.what()) +
                       "); nothing was written",
                   "the ledger cannot be reached; nothing was written. It is written once the "
                   "ledger is back.");
            return std::nullopt;
        }
        const std::string holder = "station " + reservation.holderStation;
        const std::string id = " (Location ID " + std::to_string(reservation.locationId) + ")";
        switch (reservation.outcome) {
        case Reservation::Outcome::Reserved:
            return reservation.locationId;
        case Reservation::Outcome::RangeUsedUp:
            FRangeUsedUp = true;
            break;
        case Reservation::Outcome::Provisioned:
            FSetAside.insert(device.Path);
            Refuse(device, row,
                   "already provisioned at " + holder + " at " + reservation.holderTime + id,
                   "Unplug it and plug in the next one.", true);
            break;
        case Reservation::Outcome::InProgress:
            FSetAside.insert(device.Path);
            Refuse(device, row,
                   "being written at " + holder + " since " + reservation.holderTime + id,
                   "Unplug it; plugging it in again retries it.", true);
            break;
        }
        return std::nullopt;
    }

    // A refusal in the log and the ledger. What is said is the error with the advice after it,
    // or the advice alone (when the error repeats what the station has said already).
    void Refuse(const TListedDevice& device, TStationRow& row, const std::string& why,
                const std::string& advice, bool sayWhy = false) {
        row.Result = "refused";
        row.Error = why;
        Finish(device, row);
        FLedger->record(AttemptOf(row));
        Log(row);
        say(device.Path + (device.Serial.empty() ? "" : " (serial " + device.Serial + ")") +
            ": refused: " + (sayWhy ? why + ". " + advice : advice));
    }

    // Whether the ledger can be used now; a ledger that refuses this station ends the run.
    bool LedgerReady() {
        try {
            return FLedger->ready();
        } catch (const LedgerError& error) {
            throw ECliError(TExitCode::Failure,
                            "The ledger refuses this station: " + std::string(error.what()) + ".");
        }
    }

    // True once when the ledger becomes usable: devices that waited for it are looked at again.
    bool LedgerCameBack() {
        const bool ready = LedgerReady();
        const bool back = ready && !FLedgerWasReady;
        FLedgerWasReady = ready;
        if (back)
            FWaitingForLedger.clear();
        return back;
    }

    // The Location ID the locator of a reservation left open holds now, read from the device.
    std::optional<int> ReadBack(const LedgerIdRecord& reservation) {
        for (const TListedDevice& device : FLink.List()) {
            const bool same = reservation.serial.empty() ? device.Path == reservation.devicePath
                                                         : device.Serial == reservation.serial;
            if (!device.Locator || !same)
                continue;
            std::optional<int> held;
            try {
                FLink.Open(device);
                held = DecodedAnswer(FLink.Exchange(ReadConfigurationCommand(nullptr))).LocationID;
            } catch (const ECliError&) {
            }
            FLink.Close();
            return held;
        }
        return std::nullopt;
    }

    void Report(const TListedDevice& device, const TStationRow& row) {
        const std::string who =
            device.Path + (device.Serial.empty() ? "" : " (serial " + device.Serial + ")");
        // A device the station could not finish is set aside until it is unplugged; a replug
        // offers it again.
        FSetAside.insert(device.Path);
        if (row.Result == "error") {
            ++FErrors;
            say(who + ": error: " + row.Error + " Unplug it; plugging it in again retries it.");
            return;
        }
        ++FWritten;
        if (device.Serial.empty())
            FPortsWritten.insert(device.Path);
        say(who + ": " + row.Result +
            (row.LocationId ? ", Location ID " + std::to_string(row.LocationId) : "") + " (" +
            std::to_string(row.DurationMs) + " ms)" +
            (row.Result == "ok" ? "." : ": " + row.Error + ".") + " Plug in the next locator.");
    }

    void say(const std::string& line) {
        std::fprintf(FProgress, "%s\n", line.c_str());
        std::fflush(FProgress);
    }

    const TCliOptions& FOptions;
    const TBatchOptions& FBatch;
    std::FILE* FProgress;
    RowObserver FOnRow;
    // The profile's bytes as read once: what is written and what is hashed are the same.
    std::string FProfileText;
    TLocatorProfile FProfile;
    std::string FProfileSha256;
    std::string FProfileName;
    std::unique_ptr<TStationLog> FLog;
    TLocatorLink FLink;
    std::unique_ptr<StationLedger> FLedger;
    bool FLedgerWasReady = false;
    bool FRangeUsedUp = false;
    std::set<std::string> FWaitingForLedger; // refused while the ledger was away
    int FNextLocationId;
    std::set<int> FGivenThisRun;
    std::set<std::string> FPortsWritten; // written devices without a serial, while attached
    std::set<std::string> FSetAside;     // paths done with until they are unplugged
    std::map<std::string, Clock::time_point> FFirstSeen;
    bool FChanged = true;
    int FWritten = 0;
    int FErrors = 0;
};

} // namespace

void ParseLocationIdRange(const std::string& text, TBatchOptions& options) {
    int first = 0, last = 0;
    char dash = 0, rest = 0;
    const int fields = std::sscanf(text.c_str(), "%d%c%d%c", &first, &dash, &last, &rest);
    const bool single = fields == 1;
    const bool range = fields == 3 && dash == '-';
    if (!single && !range)
        throw ECliError(TExitCode::Usage,
                        "--location-id " + text + ": expected FIRST or FIRST-LAST.");
    if (single)
        last = 4095;
    if (first < 1 || last > 4095 || first > last)
        throw ECliError(TExitCode::Usage, "--location-id " + text +
                                              ": Location IDs run from 1 to 4095, first to last.");
    options.FirstLocationId = first;
    options.LastLocationId = last;
}

void BatchCommand(const TCliOptions& options, const TBatchOptions& batch, std::FILE* progress,
                  const RowObserver& onRow) {
    TStation station(options, batch, progress, onRow);
    station.Run();
    if (options.Json)
        std::cout << nlohmann::ordered_json{{"written", station.Written()},
                                            {"errors", station.Errors()},
                                            {"log", batch.LogPath}}
                         .dump(2)
                  << std::endl;
}
