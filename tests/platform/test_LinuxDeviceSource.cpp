#include "platform/hidclass/HidReportDescriptor.h"
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
    EXPECT_FALSE(DeclaresReportIds(makeSimLocator().info.reportDescriptor));
    EXPECT_TRUE(DeclaresReportIds(makeSimGamePad().info.reportDescriptor));
    // 0x85 as the data of a two-byte Logical Maximum is not a Report ID item.
    const std::vector<std::uint8_t> byteUpTo0x85 = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                                    0x15, 0x00, 0x26, 0x85, 0x00, 0x75, 0x08,
                                                    0x95, 0x01, 0x09, 0x01, 0x81, 0x02, 0xC0};
    EXPECT_FALSE(DeclaresReportIds(byteUpTo0x85));
    const std::vector<std::uint8_t> cutShort = {0x26, 0x85};
    EXPECT_FALSE(DeclaresReportIds(cutShort));
    // A descriptor the parser refuses declares nothing, though it holds a Report ID item.
    const std::vector<std::uint8_t> unbalanced = {0x05, 0x01, 0x85, 0x02, 0xC0};
    EXPECT_FALSE(DeclaresReportIds(unbalanced));
}

TEST(LinuxDeviceSource, SerialNumberFallsBackWhereTheNodeDoesNotAnswer) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    EXPECT_EQ(LinuxDeviceSource::serialNumberOf(ends[0], "HID_UNIQ value"), "HID_UNIQ value");
    ::close(ends[0]);
    ::close(ends[1]);
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
