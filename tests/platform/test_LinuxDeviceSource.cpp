#include "platform/DeviceSourceFromEnvironment.h"
#include "platform/LinuxDeviceSource.h"
#include "platform/SimDeviceSource.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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
