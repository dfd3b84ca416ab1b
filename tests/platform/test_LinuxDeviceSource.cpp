#include "platform/sources/DeviceSourceFromEnvironment.h"
#include "platform/sources/LinuxDeviceSource.h"
#include "platform/sources/SimDeviceSource.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

bool machineHasHidraw() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        if (entry.path().filename().string().starts_with("hidraw")) {
            return true;
        }
    }
    return false;
}

TEST(LinuxDeviceSource, WithoutHidrawNodesListsNothingAndOpensNothing) {
    if (machineHasHidraw()) {
        GTEST_SKIP() << "needs a machine without /dev/hidraw* nodes";
    }
    LinuxDeviceSource source;
    EXPECT_TRUE(source.enumerate().empty());
    int error = 0;
    EXPECT_EQ(source.open("/dev/hidraw0", &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

// Whether this process may listen to the kernel's device events, asked of the kernel directly.
bool kernelEventsAvailable() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1; // the kernel's group
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

TEST(LinuxDeviceSource, WatchesTheBestEventStreamThisMachineOffers) {
    const bool udevDaemon = ::access("/run/udev/control", F_OK) == 0;
    const HotplugMode expected = udevDaemon                ? HotplugMode::UdevEvents
                                 : kernelEventsAvailable() ? HotplugMode::KernelEvents
                                                           : HotplugMode::Polling;
    LinuxDeviceSource source;
    EXPECT_EQ(source.hotplugMode(), expected) << "got " << hotplugModeName(source.hotplugMode());
}

TEST(LinuxDeviceSource, KernelStreamOpensAndNeverBlocksWhereNetlinkIsAllowed) {
    if (!kernelEventsAvailable()) {
        GTEST_SKIP() << "this machine refuses netlink sockets";
    }
    const auto events = LinuxDeviceSource::systemHotplugOpeners().open(HotplugMode::KernelEvents);
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->mode(), HotplugMode::KernelEvents);
    EXPECT_GE(events->fd(), 0);
    // Returns at once; events of other subsystems are filtered out by libudev, so only a hidraw
    // node plugged in this very moment could make it anything but None.
    const auto kind = events->next().kind;
    EXPECT_TRUE(kind == HotplugEvent::Kind::None || kind == HotplugEvent::Kind::Change);
}

TEST(LinuxDeviceSource, PollsWhenNoEventStreamCanBeOpened) {
    const HotplugOpeners refused{[] { return true; },
                                 [](HotplugMode) { return std::unique_ptr<HotplugEventSource>(); }};
    LinuxDeviceSource source(refused);
    EXPECT_EQ(source.hotplugMode(), HotplugMode::Polling);
}

TEST(LinuxDeviceSource, ReportIdsAreFoundAsItemsNotAsDataBytes) {
    EXPECT_FALSE(LinuxDeviceSource::declaresReportIds(makeSimLocator().info.reportDescriptor));
    EXPECT_TRUE(LinuxDeviceSource::declaresReportIds({0x05, 0x01, 0x85, 0x02, 0xC0}));
    // 0x85 as the data of a two-byte Logical Maximum is not an item.
    EXPECT_FALSE(LinuxDeviceSource::declaresReportIds({0x26, 0x85, 0x00, 0xC0}));
    EXPECT_FALSE(LinuxDeviceSource::declaresReportIds({0x26, 0x85})); // cut short
    EXPECT_FALSE(LinuxDeviceSource::declaresReportIds({0xFE, 0x02, 0x00, 0x85, 0x85}));
}

TEST(DeviceSourceFromEnvironment, ChoosesByTheVariableAndRefusesUnknownValues) {
    ::setenv("TARVEX_HID_PLATFORM", "sim", 1);
    auto sim = deviceSourceFromEnvironment();
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->enumerate().size(), 3u);

    ::setenv("TARVEX_HID_PLATFORM", "native", 1);
    EXPECT_NE(dynamic_cast<LinuxDeviceSource*>(deviceSourceFromEnvironment().get()), nullptr);
    ::unsetenv("TARVEX_HID_PLATFORM");
    EXPECT_NE(dynamic_cast<LinuxDeviceSource*>(deviceSourceFromEnvironment().get()), nullptr);

    ::setenv("TARVEX_HID_PLATFORM", "sim:scenario.txt", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(deviceSourceFromEnvironment(), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("sim:scenario.txt"), std::string::npos);
    ::unsetenv("TARVEX_HID_PLATFORM");
}

} // namespace
} // namespace platform
