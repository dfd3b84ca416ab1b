#include "hid/HidDeviceReadThread.h"

#include "hid/HidDevice.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr char ReaderClassName[] = "THidDeviceReadThread";

std::string DebugName(const std::string& threadName) {
    if (threadName.empty())
        return ReaderClassName;
    return threadName + " {" + ReaderClassName + "}";
}

} // namespace

// The UI thread's side of the hand-over. Device is cleared, on the UI thread, when the reader
// stops; the reader reads HandlerFailed and, once it is set, HandlerError.
struct THidDeviceReadThread::TDelivery {
    explicit TDelivery(THidDevice* Dev) : Device(Dev) {}

    // On the UI thread: each waiting report to the handler installed now.
    void DeliverWaiting() {
        HandOver->Deliver([this](const std::vector<BYTE>& report) {
            if (!Device || HandlerFailed.load())
                return false;
            try {
                const BYTE* data = report.size() > 1 ? report.data() + 1 : nullptr;
                Device->OnData()(Device, report[0], data, static_cast<USHORT>(report.size() - 1));
            } catch (...) {
                HandlerError = std::current_exception();
                HandlerFailed.store(true);
                if (Device) // the handler may have stopped the reader itself
                    WakeReader();
                return false;
            }
            return true;
        });
    }

    THidDevice* Device;
    std::function<void()> WakeReader;
    std::unique_ptr<THidReportHandOver> HandOver;
    std::exception_ptr HandlerError;
    std::atomic<bool> HandlerFailed{false};
};

THidDeviceReadThread::THidDeviceReadThread() : Device(nullptr) {
    throw EControllerError("Direct creation of a TDeviceReadThread object is not allowed");
}

std::unique_ptr<THidDeviceReadThread> THidDeviceReadThread::CtlCreate(THidDevice* Dev) {
    return std::unique_ptr<THidDeviceReadThread>(new THidDeviceReadThread(Dev));
}

THidDeviceReadThread::THidDeviceReadThread(THidDevice* Dev)
    : Device(Dev), FSlots(ReadsPending), FDelivery(std::make_shared<TDelivery>(Dev)) {
    FDelivery->WakeReader = [this] { InterruptWaits(); };
    // One hop from the reader to the window, bytes by value: the reader's buffers are reused for
    // the next reads at once.
    FDelivery->HandOver = std::make_unique<THidReportHandOver>(
        HandOverCapacity, DeliveredPerTurn, [weak = std::weak_ptr<TDelivery>(FDelivery)] {
            TThread::Queue([weak] {
                if (const auto delivery = weak.lock())
                    delivery->DeliverWaiting();
            });
        });
    // Loads the preparsed data here, on the UI thread, so that the reader only ever reads the
    // pointer the device already holds.
    const std::size_t length = Dev->Caps().InputReportByteLength;
    FFinished.reserve(ReadsPending);
    FIdle.reserve(ReadsPending);
    for (TReadSlot& slot : FSlots) {
        slot.Reader = this;
        slot.Report.resize(length);
        FIdle.push_back(&slot);
    }
    Start();
}

THidDeviceReadThread::~THidDeviceReadThread() {
    // Execute uses the members: it must have ended before they go.
    Terminate();
    WaitFor();
    // What the reader had handed over still reaches the handler installed now, as a report on
    // its way when the stop came always did; then queued deliveries find no device.
    FDelivery->DeliverWaiting();
    FDelivery->Device = nullptr;
}

std::size_t THidDeviceReadThread::WaitingReports() const {
    return FDelivery->HandOver->Waiting();
}

std::uint64_t THidDeviceReadThread::DroppedReports() const {
    return FDelivery->HandOver->Dropped();
}

void THidDeviceReadThread::ReadCompletion(DWORD, DWORD, LPOVERLAPPED Ovl) {
    auto* slot = static_cast<TReadSlot*>(Ovl->hEvent);
    --slot->Reader->FPendingReads;
    slot->Reader->FFinished.push_back(slot);
}

DWORD THidDeviceReadThread::ReadLength() const {
    // Never beyond the buffers sized at construction, whatever the device reports now.
    return std::min<DWORD>(Device->HeldCaps().InputReportByteLength,
                           static_cast<DWORD>(FSlots.front().Report.size()));
}

void THidDeviceReadThread::TerminatedSet() {
    InterruptWaits();
}

void THidDeviceReadThread::InterruptWaits() {
    std::lock_guard lock(FWaitsMutex);
    if (FWaits)
        FWaits->interrupt();
}

void THidDeviceReadThread::Execute() {
    NameThreadForDebugging(DebugName(ThreadName));
    {
        std::lock_guard lock(FWaitsMutex);
        FWaits = platform::AlertableContext::current();
    }
    // A stop asked before the waits were known is seen by the loop's first test.
    try {
        while (!Terminated()) {
            if (FDelivery->HandlerFailed.load())
                std::rethrow_exception(FDelivery->HandlerError);
            const bool started = StartReads();
            if (started)
                WaitForReads();
            if (FDelivery->HandlerFailed.load())
                std::rethrow_exception(FDelivery->HandlerError);
            // Reads that finished in the slice that saw the stop are not delivered.
            if (Terminated())
                break;
            GatherWhileStreaming(HandOverFinished());
            if (started && Device->PollingDelayTime() > 0)
                Pause(Device->PollingDelayTime());
        }
    } catch (...) {
        if (FPendingReads > 0)
            Device->CancelIO(omhRead);
        throw;
    }
    // Reads still pending must not complete into buffers that are about to go.
    if (FPendingReads > 0)
        Device->CancelIO(omhRead);
}

bool THidDeviceReadThread::StartReads() {
    const DWORD length = ReadLength();
    while (!FIdle.empty()) {
        TReadSlot& slot = *FIdle.back();
        std::fill_n(slot.Report.begin(), length, BYTE{0});
        slot.Ovl = OVERLAPPED{};
        slot.Ovl.hEvent = &slot;
        if (!Device->ReadFileEx(slot.Report.data(), length, slot.Ovl, ReadCompletion)) {
            FErr = GetLastError();
            Synchronize([this] { DoDataError(); });
            Pause(Device->ThreadSleepTime());
            return false;
        }
        FIdle.pop_back();
        ++FPendingReads;
    }
    return true;
}

void THidDeviceReadThread::WaitForReads() {
    while (FFinished.empty() && !Terminated() && !FDelivery->HandlerFailed.load())
        SleepEx(static_cast<DWORD>(Device->ThreadSleepTime()), TRUE);
}

void THidDeviceReadThread::Pause(int Milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(Milliseconds);
    for (auto now = Clock::now(); now < end && !Terminated(); now = Clock::now())
        SleepEx(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(end - now).count()),
                TRUE);
}

// The handler is read when a report is delivered, so one installed while the report travelled
// receives it, as a command's answer must.
std::size_t THidDeviceReadThread::HandOverFinished() {
    std::vector<std::vector<BYTE>> reports;
    for (TReadSlot* slot : FFinished) {
        NumBytesRead = Device->HidOverlappedReadResult(slot->Ovl);
        if (NumBytesRead > 0) {
            const auto bytes = std::min<std::size_t>(NumBytesRead, slot->Report.size());
            Device->CaptureReport(true, slot->Report.data(), static_cast<DWORD>(bytes));
            reports.emplace_back(slot->Report.begin(), slot->Report.begin() + bytes);
        }
        FIdle.push_back(slot);
    }
    FFinished.clear();
    const std::size_t handedOver = reports.size();
    FDelivery->HandOver->Add(std::move(reports));
    return handedOver;
}

// Judged by the rate of what was handed over, not by its count: a pause gathers several reports
// at any rate, and counting them would keep a slow stream gathering for good. The pause is not
// alertable, so the reports arriving in it wait as finished reads instead of waking the reader.
void THidDeviceReadThread::GatherWhileStreaming(std::size_t HandedOver) {
    if (HandedOver == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    const bool streaming = now - FLastHandOver < StreamingGap * static_cast<long>(HandedOver);
    FLastHandOver = now;
    if (streaming && !Terminated())
        SleepEx(static_cast<DWORD>(StreamGatherTime.count() / 1000), FALSE);
}

void THidDeviceReadThread::DoDataError() {
    if (Device->OnDataError())
        Device->OnDataError()(Device, FErr);
}
