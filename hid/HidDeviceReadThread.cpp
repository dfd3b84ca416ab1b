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

THidDeviceReadThread::THidDeviceReadThread() : Device(nullptr) {
    throw EControllerError("Direct creation of a TDeviceReadThread object is not allowed");
}

std::unique_ptr<THidDeviceReadThread> THidDeviceReadThread::CtlCreate(THidDevice* Dev) {
    return std::unique_ptr<THidDeviceReadThread>(new THidDeviceReadThread(Dev));
}

THidDeviceReadThread::THidDeviceReadThread(THidDevice* Dev) : Device(Dev) {
    // Loads the preparsed data here, on the UI thread, so that the reader only ever reads the
    // pointer the device already holds.
    Report.resize(Dev->Caps().InputReportByteLength);
    Start();
}

THidDeviceReadThread::~THidDeviceReadThread() {
    // Execute uses the members: it must have ended before they go.
    Terminate();
    WaitFor();
}

void THidDeviceReadThread::DummyReadCompletion(DWORD, DWORD, LPOVERLAPPED) {}

DWORD THidDeviceReadThread::ReadLength() const {
    // Never beyond the buffer sized at construction, whatever the device reports now.
    return std::min<DWORD>(Device->HeldCaps().InputReportByteLength,
                           static_cast<DWORD>(Report.size()));
}

void THidDeviceReadThread::TerminatedSet() {
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
            sleepRet = WAIT_IO_COMPLETION;
            if (!StartRead())
                continue;
            sleepRet = WaitForRead();
            // A read that finished in the slice that saw the stop is not delivered.
            if (Terminated())
                break;
            NumBytesRead = Device->HidOverlappedReadResult();
            if (NumBytesRead > 0)
                Synchronize([this] { DoData(); });
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
    } while (!Terminated() && sleepRet != WAIT_IO_COMPLETION);
    return sleepRet;
}

void THidDeviceReadThread::DoData() {
    // Runs on the UI thread while the reader waits: the handler is read now, so one installed
    // while the report travelled receives it, and the buffer is not reused before it returns.
    const auto reportId = Report.empty() ? BYTE{0} : Report[0];
    const BYTE* data = Report.size() > 1 ? Report.data() + 1 : nullptr;
    const DWORD bytes = std::min<DWORD>(NumBytesRead, static_cast<DWORD>(Report.size()));
    Device->OnData()(Device, reportId, data, static_cast<USHORT>(bytes - 1));
}

void THidDeviceReadThread::DoDataError() {
    if (Device->OnDataError())
        Device->OnDataError()(Device, FErr);
}
