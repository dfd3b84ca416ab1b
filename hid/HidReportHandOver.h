#pragma once
// Input reports on their way from a device's reader to the UI thread. The reader adds the
// reports of each wake-up as they arrive and never waits for the UI thread; the UI thread takes
// what is waiting in one go, once per turn of its loop, so a busy window costs the reader
// nothing until the hand-over is full. Full means `capacity` reports waiting: the oldest is then
// dropped and counted, the same end the platform's own queue drops. One turn takes at most
// `perTurn` reports and asks again for the rest, so a backlog never holds the window up for long.

#include "platform/win32/WinTypes.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class THidReportHandOver {
public:
    // Called when reports start waiting and nobody has been asked to take them yet: from the
    // adding thread, or from Deliver on the UI thread for reports it left behind.
    using TAsk = std::function<void()>;
    // Receives one report; false stops the delivery, leaving the rest waiting.
    using TReceive = std::function<bool(const std::vector<BYTE>& report)>;

    THidReportHandOver(std::size_t capacity, std::size_t perTurn, TAsk askUiThread);

    // Any thread: adds reports, oldest first, bytes by value; one lock for all of them.
    void Add(std::vector<std::vector<BYTE>> reports);
    // UI thread: hands the reports waiting now (up to perTurn) to receive, oldest first. Reports
    // added meanwhile wait for the next ask. A call made while another is delivering (a receiver
    // that runs the event loop, as a modal box does) does nothing: reports never overtake each
    // other, and the outer call asks again for what arrived.
    void Deliver(const TReceive& receive);

    std::size_t Waiting() const;
    std::uint64_t Dropped() const;

private:
    const std::size_t capacity_;
    const std::size_t perTurn_;
    const TAsk askUiThread_;
    mutable std::mutex mutex_;
    std::deque<std::vector<BYTE>> waiting_;
    std::uint64_t dropped_ = 0;
    bool asked_ = false;
    bool delivering_ = false; // UI thread only
};
