#pragma once
// The one road every report the tool sends travels. The starter, on the UI thread, starts a
// self-freeing worker and returns. The worker prepares the report and hands the rest to the UI
// thread through TThread::Synchronize, waiting meanwhile; there the report is completed where it
// needs the window, the handler for the answer is installed, and the report is written. The
// handler goes in before the write, and answers reach handlers only on the UI thread, so the
// answer always finds the handler of its own command.
//
// Failures are silent: no device, a worker that cannot start, a step that raises (the command
// ends there; nothing raised after the handler is installed), a device gone before its turn.

#include "hid/HidControllerClass.h"
#include "locator/LocatorReport.h"

#include <functional>

struct TDeviceCommand {
    // On the worker thread, after the data bytes have become 0xFF and ReportID 0. May raise to
    // drop the command.
    std::function<void(TReport& HidData)> Prepare;
    // On the UI thread, before the handler is installed. May raise to drop the command.
    std::function<void(TReport& HidData)> Complete;
    // Installed as the device's data handler for the answer.
    THidDataEvent Handler;
};

// The device to send to, asked on the UI thread when the command starts and again when its
// turn comes: null when no device is connected or its window has gone.
using TCommandDevice = std::function<THidDevice*()>;

// Starts a command on the current device; with none, nothing happens.
void StartDeviceCommand(const TCommandDevice& device, TDeviceCommand command);

// Commands started and not yet finished: sent, dropped, or failed. For tests and benchmarks
// that must know when the road is quiet.
int CommandsInFlight();

// The bytes a device takes for one output report, bounded by the report held: a device that
// declares longer reports never makes the write read beyond it.
DWORD BoundedWriteLength(DWORD outputReportByteLength);
