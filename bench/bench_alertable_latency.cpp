// How long an input report takes from the device's end of the connection to the completion
// routine of a reader waiting alertably, through the I/O thread and the handle's queue; and how
// long a CloseHandle on another thread takes to end a pending read. Target: well under 1 ms.
// Exits non-zero when a median misses it.

#include "Percentile.h"
#include "platform/win32/Win32.h"
#include "tests/support/FakeDeviceSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int rounds = 2000;
constexpr double targetMicroseconds = 1000.0;

void ignoreCompletion(DWORD, DWORD, LPOVERLAPPED) {}

HANDLE openReader() {
    return CreateFileW(u"/dev/bench", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool report(const char* what, const std::vector<double>& samples) {
    const double median = percentile(samples, 0.5);
    std::printf("%-28s median %8.1f us   p99 %8.1f us   max %8.1f us\n", what, median,
                percentile(samples, 0.99), percentile(samples, 1.0));
    return median < targetMicroseconds;
}

std::vector<double> measureReportDelivery(testing_support::FakeDeviceSource& source) {
    const HANDLE handle = openReader();
    std::vector<double> samples;
    std::uint8_t buffer[65];
    OVERLAPPED overlapped{};
    for (int i = 0; i < rounds; ++i) {
        ReadFileEx(handle, buffer, sizeof buffer, &overlapped, ignoreCompletion);
        const auto sent = Clock::now();
        source.send("/dev/bench", std::vector<std::uint8_t>(65, 0x01));
        if (SleepEx(10000, TRUE) != WAIT_IO_COMPLETION)
            std::fprintf(stderr, "report not delivered\n");
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    CloseHandle(handle);
    return samples;
}

std::vector<double> measureCloseWakeUp() {
    std::vector<double> samples;
    for (int i = 0; i < rounds / 10; ++i) {
        const HANDLE handle = openReader();
        std::promise<void> started;
        auto reader = std::async(std::launch::async, [&] {
            std::uint8_t buffer[65];
            OVERLAPPED overlapped{};
            ReadFileEx(handle, buffer, sizeof buffer, &overlapped, ignoreCompletion);
            started.set_value();
            SleepEx(10000, TRUE);
            return Clock::now();
        });
        started.get_future().wait();
        const auto closed = Clock::now();
        CloseHandle(handle);
        samples.push_back(std::chrono::duration<double, std::micro>(reader.get() - closed).count());
    }
    return samples;
}

} // namespace

int main() {
    auto owned = std::make_unique<testing_support::FakeDeviceSource>();
    auto& source = *owned;
    auto info = testing_support::fakeInterface("/dev/bench");
    info.reportDescriptor = testing_support::numberedDescriptor();
    source.plug(info);
    platform::installDeviceSource(std::move(owned));

    const bool deliveryOk = report("report to completion", measureReportDelivery(source));
    const bool closeOk = report("close to aborted completion", measureCloseWakeUp());
    return deliveryOk && closeOk ? 0 : 1;
}
