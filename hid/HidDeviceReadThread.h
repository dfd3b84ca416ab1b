#pragma once

#include "hid/HidEvents.h"
#include "hid/HidReportHandOver.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/AlertableWait.h"

#include <atomic>
#include <chrono>
#include <vector>

// The reader of one device: keeps several overlapped reads pending and hands each input report,
// by value, to the UI thread through a hand-over the UI thread empties once per turn; there each
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
    // Reads kept pending at once. Reports that come while the reader waits for the processor,
    // or in a burst (a device, or the system's own delivery, catching up after a delay),
    // complete these reads and all reach the reader in one wake-up, instead of overflowing the
    // platform's queue, which holds NumOverlappedBuffers reports and drops the oldest beyond:
    // 512 reads and that queue's 64 hold 72 ms at 8,000 reports a second, where a reader with
    // one read pending could be held up only 8 ms.
    static constexpr std::size_t ReadsPending = 512;
    // While reports stream in, the reader takes them at most once in StreamGatherTime: those
    // arriving meanwhile finish pending reads and reach the UI thread in one hand-over, so one
    // wake-up of the reader and of the UI thread serves 2 ms of reports instead of each report
    // waking both. The processor time that saves goes to the thread draining the kernel's
    // buffers, which at 8,000 a second hold 8 ms of reports: with 1 ms here the reader and the
    // UI thread used half again as much processor time, and that thread fell behind more often.
    // Reports that came closer together than StreamingGap on average since the last hand-over
    // are a stream. A report after a quiet spell, or a steady 1,000 a second, is handed over at
    // once.
    static constexpr std::chrono::microseconds StreamGatherTime{2000};
    static constexpr std::chrono::microseconds StreamingGap{500};
    // Reports handed over and not yet delivered; reports the hand-over had to drop.
    std::size_t WaitingReports() const;
    std::uint64_t DroppedReports() const;

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    struct TDelivery;
    // One read's buffer and control block; the control block's hEvent finds the slot.
    struct TReadSlot {
        THidDeviceReadThread* Reader = nullptr;
        OVERLAPPED Ovl{};
        std::vector<BYTE> Report;
    };

    explicit THidDeviceReadThread(THidDevice* Dev);
    void DoDataError();
    // Runs on the reader in its alertable waits, in the order the reads finish, which is the
    // order the reports arrived.
    static void ReadCompletion(DWORD ErrorCode, DWORD Count, LPOVERLAPPED Ovl);
    DWORD ReadLength() const;
    void InterruptWaits();
    // Starts a read on every idle slot; on a failure tells OnDataError and pauses one slice.
    // Whether they all started.
    bool StartReads();
    // Waits in slices until a read completes, a stop is asked or a handler failed.
    void WaitForReads();
    // Hands over what the finished reads hold, in the order they finished; how many.
    std::size_t HandOverFinished();
    // After a hand-over: lets reports gather for StreamGatherTime if they are streaming in.
    void GatherWhileStreaming(std::size_t HandedOver);
    // Pauses that long in alertable waits, finished reads included; a stop cuts it short.
    void Pause(int Milliseconds);

    DWORD FErr = 0;
    THidDevice* Device;
    DWORD NumBytesRead = 0;
    std::vector<TReadSlot> FSlots;
    // Slots whose read finished, in the order they finished, until handed over; then idle
    // until their next read starts.
    std::vector<TReadSlot*> FFinished;
    std::vector<TReadSlot*> FIdle;
    std::size_t FPendingReads = 0; // started and not finished: the platform holds them
    std::chrono::steady_clock::time_point FLastHandOver;
    // The reader's own alertable waits, set once Execute runs; Terminate interrupts them.
    std::mutex FWaitsMutex;
    std::shared_ptr<platform::AlertableContext> FWaits;
    // Shared with the deliveries queued for the UI thread, which may run after the reader has
    // gone; they then deliver nothing.
    std::shared_ptr<TDelivery> FDelivery;
};
