#pragma once
// The device-layer tests on the shared fake device source, pumping the plain message queue of
// the UI thread until a condition holds, with a deadline.

#include "hid/HidControllerClass.h"
#include "platform/uithread/EventLoop.h"
#include "platform/uithread/Messages.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <chrono>

namespace hidtest {

using testing_support::FakeDeviceSource;
using testing_support::fakeInterface;

constexpr std::uint16_t kLocatorVid = platform::SimLocatorVendorId;
constexpr std::uint16_t kLocatorPid = platform::SimLocatorProductId;

// Runs the UI thread's queue until condition holds; false after five seconds.
template <class Condition> bool pumpUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        platform::WaitForPostedWork(5);
        platform::PumpMessages();
    }
    return true;
}

// Runs everything already queued, as one pass of the event loop would.
inline void pumpPending() {
    while (platform::PumpMessages()) {
    }
}

// Installs a fresh fake source for each test and announces device changes.
class HidLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto source = std::make_unique<FakeDeviceSource>();
        source_ = source.get();
        platform::installDeviceSource(std::move(source));
    }
    void TearDown() override { pumpPending(); }

    void announce() {
        platform::broadcastDeviceNodesChanged();
        pumpPending();
    }
    // A controller whose first refresh has run.
    std::unique_ptr<THidDeviceController> refreshedController() {
        auto controller = std::make_unique<THidDeviceController>();
        pumpPending();
        return controller;
    }

    FakeDeviceSource* source_ = nullptr;
};

} // namespace hidtest
