#pragma once

#include "hid/HidEvents.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/AlertableWait.h"

#include <atomic>
#include <vector>

// The reader of one device: keeps one overlapped read pending and hands each input report to
// the device's OnData handler on the UI thread, waiting until the handler returns. When a read
// cannot be started, the error code goes to OnDataError once per wait slice. An exception
// raised by a handler ends the reader; it is kept in FatalException, never raised into the UI
// thread. Terminate cuts the reader's current wait short, so a stop does not wait for the end
// of a wait slice.
class THidDeviceReadThread final : public TThread {
public:
    // Refused: raises EControllerError. Readers come from their device.
    THidDeviceReadThread();
    // On the UI thread; the reader runs at once. Loads the device's preparsed data here.
    static std::unique_ptr<THidDeviceReadThread> CtlCreate(THidDevice* Dev);
    ~THidDeviceReadThread() override;

    std::string ThreadName;

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    explicit THidDeviceReadThread(THidDevice* Dev);
    void DoData();
    void DoDataError();
    static void DummyReadCompletion(DWORD ErrorCode, DWORD Count, LPOVERLAPPED Ovl);
    DWORD ReadLength() const;
    // Starts a read; on failure tells OnDataError and pauses one slice. Whether it started.
    bool StartRead();
    // Waits in slices until the read completes or a stop is asked; the last wait's result.
    DWORD WaitForRead();

    DWORD FErr = 0;
    THidDevice* Device;
    DWORD NumBytesRead = 0;
    std::vector<BYTE> Report;
    // The reader's own alertable waits, set once Execute runs; Terminate interrupts them.
    std::mutex FWaitsMutex;
    std::shared_ptr<platform::AlertableContext> FWaits;
};
