// What every device source promises the layers above it (listing, opening, reading, writing,
// unplugging, refusing access), checked on the simulated source and on the Linux source's
// connections, which the fake source hands out over socket pairs as hidraw would.

#include "DeviceTestSupport.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <string>

// Named, not anonymous: the test names carry these type names.
namespace contract {

using platform::Report;

// The simulated devices the tool runs on without hardware.
class SimulatedSource {
public:
    platform::DeviceSource& source() { return sim_; }
    std::string plug(platform::SimDeviceModel model) {
        const std::string path = sim_.plug(std::move(model));
        sim_.setOutputObserver(path, [this](const Report& output) {
            std::lock_guard lock(mutex_);
            received_ = output;
        });
        return path;
    }
    void deviceSends(const std::string& path, const Report& report) {
        ASSERT_TRUE(sim_.injectInput(path, report));
    }
    // The simulated device sees every output report before its writer returns.
    Report deviceReceived(const std::string&) {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void unplug(const std::string& path) { ASSERT_TRUE(sim_.unplug(path)); }
    void denyAccess(const std::string& path) { ASSERT_TRUE(sim_.setReadWriteAllowed(path, false)); }

private:
    platform::SimDeviceSource sim_;
    std::mutex mutex_;
    Report received_;
};

// hidraw nodes, whose reports come without the ID byte from a device without numbered ones.
class LinuxSource {
public:
    platform::DeviceSource& source() { return fake_; }
    std::string plug(const platform::SimDeviceModel& model) {
        platform::HidInterfaceInfo info = model.info;
        info.path = "/dev/hidraw" + std::to_string(nodes_++);
        fake_.plug(info);
        return info.path;
    }
    void deviceSends(const std::string& path, Report report) {
        if (!platform::DeclaresReportIds(fake_.find(path)->reportDescriptor))
            report.erase(report.begin());
        fake_.send(path, report);
    }
    Report deviceReceived(const std::string& path) { return fake_.receive(path); }
    void unplug(const std::string& path) { fake_.unplug(path); }
    void denyAccess(const std::string& path) {
        fake_.change(path, [](auto& info) { info.readWriteAllowed = false; });
    }

private:
    testing_support::FakeDeviceSource fake_;
    int nodes_ = 0;
};

} // namespace contract

namespace {

using contract::LinuxSource;
using contract::SimulatedSource;
using platform::Report;

Report locatorReport(std::uint8_t first) {
    Report report(platform::SimLocatorReportLength, 0x00);
    report[1] = first;
    return report;
}

template <class Harness> class DeviceSourceContract : public ::testing::Test {
protected:
    std::unique_ptr<platform::HidConnection> open(const std::string& path) {
        int error = 0;
        auto connection = harness_.source().open(path, &error);
        EXPECT_NE(connection, nullptr) << "errno " << error;
        return connection;
    }
    // The next input report, ID byte first; empty when none came or the read failed.
    Report read(platform::HidConnection& connection) {
        EXPECT_TRUE(platform::waitForEvents(connection.inputFd()) & POLLIN);
        Report report(80);
        const int length = connection.readInput(report.data(), report.size());
        report.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return report;
    }

    Harness harness_;
};

using Sources = ::testing::Types<SimulatedSource, LinuxSource>;
TYPED_TEST_SUITE(DeviceSourceContract, Sources);

TYPED_TEST(DeviceSourceContract, ListsWhatIsAttachedAndANewInstanceAfterAReplug) {
    auto& source = this->harness_.source();
    EXPECT_TRUE(source.enumerate().empty());
    const std::string path = this->harness_.plug(platform::makeSimLocator());
    const auto listed = source.enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, path);
    EXPECT_EQ(listed[0].vendorId, platform::SimLocatorVendorId);
    EXPECT_EQ(listed[0].productId, platform::SimLocatorProductId);
    EXPECT_EQ(listed[0].reportDescriptor, testing_support::locatorDescriptor());
    ASSERT_TRUE(source.find(path));
    EXPECT_EQ(source.find(path)->instance, listed[0].instance);

    this->harness_.unplug(path);
    EXPECT_TRUE(source.enumerate().empty());
    EXPECT_FALSE(source.find(path));
    int error = 0;
    EXPECT_EQ(source.open(path, &error), nullptr);
    EXPECT_TRUE(error == ENOENT || error == ENODEV) << error;

    const std::string again = this->harness_.plug(platform::makeSimLocator());
    ASSERT_TRUE(source.find(again));
    EXPECT_NE(source.find(again)->instance, listed[0].instance);
}

TYPED_TEST(DeviceSourceContract, ReadsEachInputReportWholeWithItsIdByteFirst) {
    const std::string locator = this->harness_.plug(platform::makeSimLocator());
    const std::string gamePad = this->harness_.plug(platform::makeSimGamePad());
    auto unnumbered = this->open(locator);
    auto numbered = this->open(gamePad);
    ASSERT_TRUE(unnumbered && numbered);
    std::uint8_t buffer[80];
    EXPECT_EQ(unnumbered->readInput(buffer, sizeof buffer), -EAGAIN);

    const Report report = locatorReport(0x41);
    this->harness_.deviceSends(locator, report);
    EXPECT_EQ(this->read(*unnumbered), report);
    EXPECT_EQ(unnumbered->readInput(buffer, sizeof buffer), -EAGAIN);

    const Report buttonsAndAxes = {0x01, 0x11, 0x22, 0x33};
    this->harness_.deviceSends(gamePad, buttonsAndAxes);
    EXPECT_EQ(this->read(*numbered), buttonsAndAxes);
}

TYPED_TEST(DeviceSourceContract, WritesReachTheDeviceIdByteFirst) {
    const std::string path = this->harness_.plug(platform::makeSimLocator());
    auto connection = this->open(path);
    ASSERT_TRUE(connection);
    const Report report = locatorReport(0x33); // no command the locator answers
    EXPECT_EQ(connection->writeOutput(report.data(), report.size()),
              static_cast<int>(report.size()));
    EXPECT_EQ(this->harness_.deviceReceived(path), report);

    Report numbered = report;
    numbered[0] = 0x02; // the locator numbers no reports
    EXPECT_EQ(connection->writeOutput(numbered.data(), numbered.size()), -EINVAL);
}

TYPED_TEST(DeviceSourceContract, UnplugHandsOutQueuedReportsThenHangsUp) {
    const std::string path = this->harness_.plug(platform::makeSimLocator());
    auto connection = this->open(path);
    ASSERT_TRUE(connection);
    this->harness_.deviceSends(path, locatorReport(0x01));
    this->harness_.deviceSends(path, locatorReport(0x02));
    this->harness_.unplug(path);

    EXPECT_EQ(this->read(*connection), locatorReport(0x01));
    EXPECT_EQ(this->read(*connection), locatorReport(0x02));
    EXPECT_TRUE(platform::waitForEvents(connection->inputFd()) & POLLHUP);
    std::uint8_t buffer[80];
    EXPECT_EQ(connection->readInput(buffer, sizeof buffer), -ENODEV);
    const Report report = locatorReport(0x52);
    EXPECT_EQ(connection->writeOutput(report.data(), report.size()), -ENODEV);
}

TYPED_TEST(DeviceSourceContract, RefusedAccessListsTheInterfaceButOpensNothing) {
    auto& source = this->harness_.source();
    const std::string path = this->harness_.plug(platform::makeSimLocator());
    this->harness_.denyAccess(path);
    ASSERT_EQ(source.enumerate().size(), 1u);
    EXPECT_FALSE(source.enumerate()[0].readWriteAllowed);
    int error = 0;
    EXPECT_EQ(source.open(path, &error), nullptr);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(source.open("/dev/no-such-node", &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

} // namespace
