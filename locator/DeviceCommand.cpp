#include "locator/DeviceCommand.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

std::atomic<int> commandsInFlight{0};

// What the starter, the worker and the synchronized procedure of one command share. Each
// command has its own, so two commands in flight never share a report.
struct TCommandClosure {
    TCommandDevice device;
    TDeviceCommand command;
    TReport HidData;
    DWORD Written = 0;
};

void SendOnUIThread(TCommandClosure& closure) {
    THidDevice* device = closure.device();
    if (!device)
        return;
    if (closure.command.Complete)
        closure.command.Complete(closure.HidData);
    device->SetOnData(closure.command.Handler);
    const DWORD length = BoundedWriteLength(device->Caps().OutputReportByteLength);
    device->WriteFile(&closure.HidData, length, closure.Written);
}

class TCommandWorker : public TThread {
public:
    explicit TCommandWorker(std::shared_ptr<TCommandClosure> closure)
        : closure_(std::move(closure)) {
        FreeOnTerminate = true;
        ++commandsInFlight;
    }
    ~TCommandWorker() override { --commandsInFlight; }

protected:
    void Execute() override {
        NameThreadForDebugging("command");
        InitHidData(closure_->HidData.Data);
        closure_->HidData.ReportID = 0;
        if (closure_->command.Prepare)
            closure_->command.Prepare(closure_->HidData);
        TThread::Synchronize([closure = closure_] { SendOnUIThread(*closure); });
    }

private:
    std::shared_ptr<TCommandClosure> closure_;
};

} // namespace

void StartDeviceCommand(const TCommandDevice& device, TDeviceCommand command) {
    if (!device())
        return;
    try {
        auto closure = std::make_shared<TCommandClosure>();
        closure->device = device;
        closure->command = std::move(command);
        auto worker = std::make_unique<TCommandWorker>(std::move(closure));
        worker->Start();
        worker.release(); // it deletes itself once its body has run
    } catch (...) {
        // A worker that cannot be made or started drops the command, as every failure here.
    }
}

int CommandsInFlight() {
    return commandsInFlight.load();
}

DWORD BoundedWriteLength(DWORD outputReportByteLength) {
    return std::min<DWORD>(outputReportByteLength, sizeof(TReport));
}
