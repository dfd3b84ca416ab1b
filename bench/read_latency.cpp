// Delivery of input reports from the simulated locator to a data handler on the UI thread (this
// program's main thread, pumping the plain queue), and how long stopping an idle reader takes.
//
// A report's latency is measured from the moment the simulated device sends it (a timestamp
// carried in the report) to the handler's call. The platform's queue takes the report after
// that moment, so the figure is an upper bound of the time from that queue to the handler.

#include "Percentile.h"
#include "hid/HidControllerClass.h"
#include "platform/sources/SimDeviceSource.h"
#include "platform/uithread/EventLoop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Counts what arrives; a report carries its sequence number and the time it was sent.
struct DeliveryCounter {
    std::uint32_t expected = 0;
    std::size_t delivered = 0;
    std::size_t reordered = 0;
    std::vector<double> latenciesMs;

    void Data(THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
        const std::int64_t arrived = nowNanoseconds();
        std::uint32_t sequence = 0;
        std::int64_t sent = 0;
        if (Size < sizeof(sequence) + sizeof(sent))
            return;
        std::memcpy(&sequence, Data, sizeof(sequence));
        std::memcpy(&sent, Data + sizeof(sequence), sizeof(sent));
        ++delivered;
        if (sequence < expected)
            ++reordered;
        else
            expected = sequence + 1;
        latenciesMs.push_back(double(arrived - sent) / 1e6);
    }
};

struct RunResult {
    std::size_t sent = 0;
    std::size_t delivered = 0;
    std::size_t reordered = 0;
    std::vector<double> latenciesMs;
    std::size_t lost() const { return sent - std::min(sent, delivered); }
};

// Pumps the UI thread's queue until the condition holds or the idle time passes with nothing
// delivered.
template <class Condition> void pumpWhile(Condition notDone, std::chrono::milliseconds idleLimit) {
    auto lastWork = Clock::now();
    while (notDone()) {
        if (platform::PumpMessages())
            lastWork = Clock::now();
        else if (Clock::now() - lastWork > idleLimit)
            return;
        else
            platform::WaitForPostedWork(1);
    }
}

class Bench {
public:
    Bench() {
        auto source = std::make_unique<platform::SimDeviceSource>();
        sim_ = source.get();
        platform::installDeviceSource(std::move(source));
        path_ = sim_->plug(platform::makeSimLocator());
        controller_ = std::make_unique<THidDeviceController>();
        pumpWhile([&] { return controller_->Devices().empty(); }, std::chrono::seconds(5));
        if (!controller_->CheckOutByID(device_, platform::SimLocatorVendorId,
                                       platform::SimLocatorProductId))
            throw std::runtime_error("the simulated locator cannot be checked out");
        device_->SetNumInputBuffers(64);
        device_->SetNumOverlappedBuffers(64);
    }
    ~Bench() {
        if (device_)
            controller_->CheckIn(device_);
        controller_.reset();
        while (platform::PumpMessages()) {
        }
    }

    // Sends count reports at rate per second from a device thread and counts what arrives.
    RunResult run(std::size_t count, double ratePerSecond) {
        DeliveryCounter counter;
        device_->SetOnData(THidDataEvent(&counter, &DeliveryCounter::Data));
        std::atomic<bool> sending{true};
        std::thread device([&] {
            const auto interval = std::chrono::duration<double>(1.0 / ratePerSecond);
            const auto start = Clock::now();
            platform::Report report(platform::SimLocatorReportLength, 0);
            for (std::uint32_t sequence = 0; sequence < count; ++sequence) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(interval * sequence));
                const std::int64_t sent = nowNanoseconds();
                std::memcpy(&report[1], &sequence, sizeof(sequence));
                std::memcpy(&report[1 + sizeof(sequence)], &sent, sizeof(sent));
                sim_->injectInput(path_, report);
            }
            sending = false;
        });
        pumpWhile([&] { return sending || counter.delivered < count; },
                  std::chrono::milliseconds(1000));
        device.join();
        device_->SetOnData(nullptr);
        return {count, counter.delivered, counter.reordered, std::move(counter.latenciesMs)};
    }

    // The stop rule's duration with no report arriving, after the reader has settled into
    // its wait.
    double stopMilliseconds() {
        DeliveryCounter counter;
        device_->SetOnData(THidDataEvent(&counter, &DeliveryCounter::Data));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const auto start = Clock::now();
        device_->SetOnData(nullptr);
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

private:
    platform::SimDeviceSource* sim_ = nullptr;
    std::string path_;
    std::unique_ptr<THidDeviceController> controller_;
    THidDevice* device_ = nullptr;
};

} // namespace

int main() {
    Bench bench;

    const RunResult nominal = bench.run(20000, 1000.0);
    std::printf("20000 reports at 1000/s: delivered %zu, lost %zu, reordered %zu\n",
                nominal.delivered, nominal.lost(), nominal.reordered);
    std::printf("latency from send to handler: median %.3f ms, 99th percentile %.3f ms\n",
                percentile(nominal.latenciesMs, 0.5), percentile(nominal.latenciesMs, 0.99));

    double bestRate = 0;
    for (const double rate : {2000.0, 5000.0, 10000.0, 20000.0, 50000.0, 100000.0}) {
        const RunResult result = bench.run(5000, rate);
        std::printf("5000 reports at %.0f/s: delivered %zu, lost %zu, reordered %zu\n", rate,
                    result.delivered, result.lost(), result.reordered);
        if (result.lost() > 0 || result.reordered > 0)
            break;
        bestRate = rate;
    }
    std::printf("highest rate tried with none lost: %.0f reports/s\n", bestRate);

    std::vector<double> stops;
    for (int i = 0; i < 5; ++i)
        stops.push_back(bench.stopMilliseconds());
    std::printf("stopping an idle reader (100 ms wait slice): median %.1f ms, worst %.1f ms\n",
                percentile(stops, 0.5), *std::max_element(stops.begin(), stops.end()));
    return nominal.lost() == 0 && nominal.reordered == 0 ? 0 : 1;
}
