#include "hid/HidDeviceReadThread.h"

#include "hid/HidDevice.h"

#include <algorithm>

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
    : Device(Dev), FDelivery(std::make_shared<TDelivery>(Dev)) {
    FDelivery->WakeReader = [this] { InterruptWaits(); };
    // One hop from the reader to the window, bytes by value: the reader's buffer is reused for
    // the next read at once.
    FDelivery->HandOver = std::make_unique<THidReportHandOver>(
        HandOverCapacity, DeliveredPerTurn, [weak = std::weak_ptr<TDelivery>(FDelivery)] {
            TThread::Queue([weak] {
                if (const auto delivery = weak.lock())
                    delivery->DeliverWaiting();
            });
        });
    // Loads the preparsed data here, on the UI thread, so that the reader only ever reads the
    // pointer the device already holds.
    Report.resize(Dev->Caps().InputReportByteLength);
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

void THidDeviceReadThread::DummyReadCompletion(DWORD, DWORD, LPOVERLAPPED) {}

DWORD THidDeviceReadThread::ReadLength() const {
    // Never beyond the buffer sized at construction, whatever the device reports now.
    return std::min<DWORD>(Device->HeldCaps().InputReportByteLength,
                           static_cast<DWORD>(Report.size()));
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
    DWORD sleepRet = WAIT_IO_COMPLETION;
    try {
        while (!Terminated()) {
            if (FDelivery->HandlerFailed.load())
                std::rethrow_exception(FDelivery->HandlerError);
            sleepRet = WAIT_IO_COMPLETION;
            if (!StartRead())
                continue;
            sleepRet = WaitForRead();
            if (FDelivery->HandlerFailed.load())
                std::rethrow_exception(FDelivery->HandlerError);
            // A read that finished in the slice that saw the stop is not delivered.
            if (Terminated())
                break;
            NumBytesRead = Device->HidOverlappedReadResult();
            if (NumBytesRead > 0)
                HandOver();
            if (Device->PollingDelayTime() > 0)
                SleepEx(static_cast<DWORD>(Device->PollingDelayTime()), TRUE);
        }
    } catch (...) {
        if (sleepRet != WAIT_IO_COMPLETION)
            Device->CancelIO(omhRead);
        throw;
    }
    // The read still pending must not complete into a buffer that is about to go.
    if (sleepRet != WAIT_IO_COMPLETION)
        Device->CancelIO(omhRead);
}

bool THidDeviceReadThread::StartRead() {
    const DWORD length = ReadLength();
    std::fill_n(Report.begin(), length, BYTE{0});
    if (Device->ReadFileEx(Report.data(), length, DummyReadCompletion))
        return true;
    FErr = GetLastError();
    Synchronize([this] { DoDataError(); });
    SleepEx(static_cast<DWORD>(Device->ThreadSleepTime()), TRUE);
    return false;
}

DWORD THidDeviceReadThread::WaitForRead() {
    DWORD sleepRet = 0;
    do {
        sleepRet = SleepEx(static_cast<DWORD>(Device->ThreadSleepTime()), TRUE);
    } while (!Terminated() && !FDelivery->HandlerFailed.load() && sleepRet != WAIT_IO_COMPLETION);
    return sleepRet;
}

// The handler is read when the report is delivered, so one installed while the report
// travelled receives it, as a command's answer must.
void THidDeviceReadThread::HandOver() {
    const DWORD bytes = std::min<DWORD>(NumBytesRead, static_cast<DWORD>(Report.size()));
    Device->CaptureReport(true, Report.data(), bytes);
    FDelivery->HandOver->Add(std::vector<BYTE>(Report.begin(), Report.begin() + bytes));
}

void THidDeviceReadThread::DoDataError() {
    if (Device->OnDataError())
        Device->OnDataError()(Device, FErr);
}
