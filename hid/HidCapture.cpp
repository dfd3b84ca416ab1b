#include "hid/HidCapture.h"

#include "platform/uithread/Thread.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace {

void AppendHex(std::string& line, const BYTE* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
    }
}

// "LEN b1 b2 ..." after the key; the report ID byte 0 of a device without numbered reports is
// not part of what its node hands out.
void AppendReport(std::string& line, const std::vector<BYTE>& report) {
    const std::size_t skip = !report.empty() && report[0] == 0 ? 1 : 0;
    line += ' ' + std::to_string(report.size() - skip);
    AppendHex(line, report.data() + skip, report.size() - skip);
}

std::string Timestamp(std::chrono::microseconds at) {
    char text[32];
    std::snprintf(text, sizeof text, "%06" PRId64 ".%06" PRId64,
                  static_cast<std::int64_t>(at.count() / 1000000),
                  static_cast<std::int64_t>(at.count() % 1000000));
    return text;
}

std::string DeviceLines(int index, const THidCaptureDevice& device) {
    std::string lines =
        "D: " + std::to_string(index) + "\nR: " + std::to_string(device.ReportDescriptor.size());
    AppendHex(lines, device.ReportDescriptor.data(), device.ReportDescriptor.size());
    char ids[32];
    std::snprintf(ids, sizeof ids, "I: 3 %04x %04x\n", device.VendorId, device.ProductId);
    return lines + "\nN: " + device.Name + "\nP: " + device.Path + "\n" + ids;
}

} // namespace

std::shared_ptr<THidCapture> THidCapture::Start(const std::string& Path, TFailed OnFailed,
                                                std::string& Reason) {
    std::FILE* file = std::fopen(Path.c_str(), "wb");
    if (!file) {
        Reason = std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<THidCapture> capture(new THidCapture(Path, file, std::move(OnFailed)));
    // Started once the capture is shared, so the writer can always reach it weakly.
    capture->FWriter = std::thread([raw = capture.get()] { raw->Run(); });
    return capture;
}

THidCapture::THidCapture(std::string Path, std::FILE* File, TFailed OnFailed)
    : FPath(std::move(Path)), FFile(File), FOnFailed(std::move(OnFailed)),
      FStarted(std::chrono::steady_clock::now()) {
    static constexpr char header[] =
        "# Tarvex capture in the hid-recorder format. Times are seconds since the capture "
        "began.\n# Reports the tool sent are comment lines: # O: time length bytes\n";
    Take({TRecord::Kind::Text, -1, {}, {std::begin(header), std::end(header) - 1}});
}

THidCapture::~THidCapture() {
    Stop();
}

int THidCapture::AddDevice(const THidCaptureDevice& Device) {
    const auto [entry, added] = FDevices.emplace(Device.Path, static_cast<int>(FDevices.size()));
    if (added) {
        const std::string lines = DeviceLines(entry->second, Device);
        Take({TRecord::Kind::Text, entry->second, {}, {lines.begin(), lines.end()}});
    }
    return entry->second;
}

void THidCapture::Input(int Index, const BYTE* Report, DWORD Length) {
    Take({TRecord::Kind::Input, Index, {}, {Report, Report + Length}});
}

void THidCapture::Output(int Index, const BYTE* Report, DWORD Length) {
    Take({TRecord::Kind::Output, Index, {}, {Report, Report + Length}});
}

// The time is taken under the lock, so the file's order is the order of the times.
void THidCapture::Take(TRecord Record) {
    {
        std::lock_guard lock(FMutex);
        if (!FTaking)
            return;
        if (FQueue.size() >= QueueCapacity) {
            ++FDropped;
            return;
        }
        Record.At = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - FStarted);
        FQueue.push_back(std::move(Record));
    }
    FWake.notify_one();
}

std::string THidCapture::Stop() {
    {
        std::lock_guard lock(FMutex);
        FTaking = false;
        FStopping = true;
    }
    FWake.notify_one();
    if (FWriter.joinable())
        FWriter.join();
    std::lock_guard lock(FMutex);
    return FFailure;
}

std::uint64_t THidCapture::Dropped() const {
    std::lock_guard lock(FMutex);
    return FDropped;
}

void THidCapture::Run() {
    int error = 0;
    for (bool stopping = false; !stopping && error == 0;) {
        std::deque<TRecord> batch;
        std::uint64_t dropped = 0;
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [this] { return FStopping || !FQueue.empty(); });
            batch.swap(FQueue);
            dropped = FDropped;
            stopping = FStopping;
        }
        if (!Write(batch, dropped))
            error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(FFile) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error == 0)
        return;
    std::lock_guard lock(FMutex);
    FTaking = false;
    FFailure = std::strerror(error);
    if (FStopping)
        return; // Stop returns the reason
    // Nobody waits for the writer: the UI thread hears of it through its queue.
    TThread::Queue([weak = weak_from_this(), reason = FFailure] {
        if (const auto capture = weak.lock(); capture && capture->FOnFailed)
            capture->FOnFailed(reason);
    });
}

bool THidCapture::Write(const std::deque<TRecord>& Batch, std::uint64_t Dropped) {
    std::string text;
    for (const TRecord& record : Batch) {
        if (record.Device >= 0 && record.Device != FCurrentDevice) {
            FCurrentDevice = record.Device;
            if (record.Kind != TRecord::Kind::Text) // a description starts with its own D:
                text += "D: " + std::to_string(record.Device) + "\n";
        }
        if (record.Kind == TRecord::Kind::Text) {
            text.append(record.Bytes.begin(), record.Bytes.end());
            continue;
        }
        text += record.Kind == TRecord::Kind::Input ? "E: " : "# O: ";
        text += Timestamp(record.At);
        AppendReport(text, record.Bytes);
        text += '\n';
    }
    if (Dropped > FDroppedWritten) {
        text += "# " + std::to_string(Dropped - FDroppedWritten) +
                " reports dropped here: the disk fell behind\n";
        FDroppedWritten = Dropped;
    }
    errno = 0;
    return std::fwrite(text.data(), 1, text.size(), FFile) == text.size() &&
           std::fflush(FFile) == 0;
}
