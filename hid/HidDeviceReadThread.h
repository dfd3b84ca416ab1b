#pragma once

#include "hid/HidEvents.h"
#include "hid/HidReportHandOver.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/AlertableWait.h"

#include <atomic>
#include <vector>

// The reader of one device: keeps one overlapped read pending and hands each input report, by
// value, to the UI thread through a hand-over the UI thread empties once per turn; there each
// report goes to the device's OnData handler of that moment, one call per report, in arrival
// order. The reader never waits for a handler, so a busy window does not hold up reading. When
// a read cannot be started, the error code goes to OnDataError once per wait slice. An
// exception raised by a handler ends the reader; it is kept in FatalException, never raised
// into the UI thread, and no later report is delivered. Terminate cuts the reader's current
// wait short, so a stop does not wait for the end of a wait slice.
class THidDeviceReadThread final : public TThread {
public:
    // Refused: raises EControllerError. Readers come from their device.
    THidDeviceReadThread();
    // On the UI thread; the reader runs at once. Loads the device's preparsed data here.
    static std::unique_ptr<THidDeviceReadThread> CtlCreate(THidDevice* Dev);
    ~THidDeviceReadThread() override;

    std::string ThreadName;

    // Reports this many waiting for the UI thread: two seconds at the USB interrupt ceiling of
    // 8,000 reports a second, so a window that stalls that long loses nothing.
    static constexpr std::size_t HandOverCapacity = 16384;
    // Reports delivered in one turn of the UI thread's loop at most: tens of milliseconds of
    // handlers, after which the window's other events get their turn.
    static constexpr std::size_t DeliveredPerTurn = 512;
    // Reports handed over and not yet delivered; reports the hand-over had to drop.
    std::size_t WaitingReports() const;
    std::uint64_t DroppedReports() const;

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    struct TDelivery;

    explicit THidDeviceReadThread(THidDevice* Dev);
    void HandOver();
    void DoDataError();
    static void DummyReadCompletion(DWORD ErrorCode, DWORD Count, LPOVERLAPPED Ovl);
    DWORD ReadLength() const;
    void InterruptWaits();
    // Starts a read; on failure tells OnDataError and pauses one slice. Whether it started.
    bool StartRead();
    // Waits in slices until the read completes, a stop is asked or a handler failed; the last
    // wait's result.
    DWORD WaitForRead();

    DWORD FErr = 0;
    THidDevice* Device;
    DWORD NumBytesRead = 0;
    std::vector<BYTE> Report;
    // The reader's own alertable waits, set once Execute runs; Terminate interrupts them.
    std::mutex FWaitsMutex;
    std::shared_ptr<platform::AlertableContext> FWaits;
    // Shared with the deliveries queued for the UI thread, which may run after the reader has
    // gone; they then deliver nothing.
    std::shared_ptr<TDelivery> FDelivery;
};
