#pragma once
// A capture: every report of the devices given to it, streamed to a file in the line format of
// hid-recorder (hid-tools), which other HID tools read and TARVEX_HID_PLATFORM=sim:FILE
// replays. Per device a "D: N" line and its description (R:, N:, P:, I:); per input report an
// "E: SSSSSS.UUUUUU LEN bytes" line, in seconds and microseconds since the capture began;
// reports the tool sent are "# O: ..." comment lines of the same form, which readers skip.
// Bytes are written as the device node hands them out: without the report ID byte for a
// device without numbered reports (report ID 0, which no numbered report may use).
//
// Reports are taken from any thread without waiting for the disk and written by a writer
// thread of the capture's own. Up to QueueCapacity reports wait for it; beyond that, while the
// disk falls behind, the newest are dropped, counted and noted in the file. A write that
// fails ends the capture: nothing more is taken, and OnFailed hears why on the UI thread.

#include "platform/win32/WinTypes.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a capture writes about a device before its reports.
struct THidCaptureDevice {
    std::string Path; // identifies the device: the same path gets the same index
    std::string Name;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::vector<std::uint8_t> ReportDescriptor;
};

class THidCapture : public std::enable_shared_from_this<THidCapture> {
public:
    using TFailed = std::function<void(const std::string& Reason)>;
    static constexpr std::size_t QueueCapacity = 1 << 18; // 30 s at 8,000 reports a second

    // Creates or replaces the file and starts the writer; null, with the reason, when the file
    // cannot be created.
    static std::shared_ptr<THidCapture> Start(const std::string& Path, TFailed OnFailed,
                                              std::string& Reason);
    // Stops, writing what waits.
    ~THidCapture();
    THidCapture(const THidCapture&) = delete;
    THidCapture& operator=(const THidCapture&) = delete;

    // The device's index in the file; its description is written the first time.
    int AddDevice(const THidCaptureDevice& Device);
    // Any thread: one report (ID byte first) read from, or sent to, the device of that index.
    void Input(int Index, const BYTE* Report, DWORD Length);
    void Output(int Index, const BYTE* Report, DWORD Length);
    // Writes what waits and closes the file. Empty when everything was written, otherwise why
    // not. Nothing is taken afterwards.
    std::string Stop();

    const std::string& Path() const { return FPath; }
    std::uint64_t Dropped() const;

private:
    struct TRecord {
        enum class Kind { Text, Input, Output } Kind;
        int Device;
        std::chrono::microseconds At;
        std::vector<BYTE> Bytes; // the report, or the text's characters
    };

    THidCapture(std::string Path, std::FILE* File, TFailed OnFailed);
    void Take(TRecord Record);
    void Run();
    // Formats and writes one batch; false when the file refused it.
    bool Write(const std::deque<TRecord>& Batch, std::uint64_t NewlyDropped);

    const std::string FPath;
    std::FILE* FFile;
    const TFailed FOnFailed;
    const std::chrono::steady_clock::time_point FStarted;

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<TRecord> FQueue;
    std::map<std::string, int> FDevices; // UI thread only
    std::uint64_t FDropped = 0;
    std::uint64_t FDroppedWritten = 0; // writer thread only
    int FCurrentDevice = -1;           // writer thread only: the device of the last D: line
    bool FTaking = true;
    bool FStopping = false;
    std::string FFailure;
    std::thread FWriter;
};
