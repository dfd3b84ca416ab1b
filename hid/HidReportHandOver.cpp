#include "hid/HidReportHandOver.h"

#include <algorithm>

THidReportHandOver::THidReportHandOver(std::size_t capacity, std::size_t perTurn, TAsk askUiThread)
    : capacity_(capacity), perTurn_(perTurn), askUiThread_(std::move(askUiThread)) {}

void THidReportHandOver::Add(std::vector<std::vector<BYTE>> reports) {
    bool ask = false;
    {
        std::lock_guard lock(mutex_);
        for (std::vector<BYTE>& report : reports) {
            if (waiting_.size() >= capacity_) {
                waiting_.pop_front();
                ++dropped_;
            }
            waiting_.push_back(std::move(report));
        }
        ask = !reports.empty() && !asked_;
        asked_ = asked_ || ask;
    }
    if (ask)
        askUiThread_();
}

void THidReportHandOver::Deliver(const TReceive& receive) {
    std::deque<std::vector<BYTE>> batch;
    {
        std::lock_guard lock(mutex_);
        asked_ = false;
        if (delivering_)
            return;
        const auto taken =
            waiting_.begin() + static_cast<std::ptrdiff_t>(std::min(perTurn_, waiting_.size()));
        batch.assign(std::make_move_iterator(waiting_.begin()), std::make_move_iterator(taken));
        waiting_.erase(waiting_.begin(), taken);
        delivering_ = true;
    }
    std::size_t delivered = 0;
    try {
        while (delivered < batch.size() && receive(batch[delivered]))
            ++delivered;
    } catch (...) {
        std::lock_guard lock(mutex_);
        delivering_ = false;
        throw;
    }
    bool ask = false;
    {
        std::lock_guard lock(mutex_);
        delivering_ = false;
        // What the receiver refused stays first in line.
        waiting_.insert(waiting_.begin(), std::make_move_iterator(batch.begin() + delivered),
                        std::make_move_iterator(batch.end()));
        ask = !waiting_.empty() && !asked_ && delivered == batch.size();
        asked_ = asked_ || ask;
    }
    if (ask)
        askUiThread_();
}

std::size_t THidReportHandOver::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

std::uint64_t THidReportHandOver::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}
