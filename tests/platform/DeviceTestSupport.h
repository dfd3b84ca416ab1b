#pragma once
// Installs a fresh simulated source for one test and helpers to read what devices send.

#include "platform/sources/SimDeviceSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <string>

namespace platform {

class SimSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto source = std::make_unique<SimDeviceSource>();
        sim = source.get();
        installDeviceSource(std::move(source));
    }
    void TearDown() override { installDeviceSource(nullptr); }

    SimDeviceSource* sim = nullptr;
};

// Waits, up to a deadline, until fd has something to report; returns the poll events.
inline short waitForEvents(int fd, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(deadline.count())) > 0 ? entry.revents : 0;
}

inline std::u16string widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace platform
