#include "HidDeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace hidtest;

namespace {

class HidDeviceTest : public HidLayerTest {
protected:
    THidDevice* checkedOutLocator(THidDeviceController& controller) {
        THidDevice* device = nullptr;
        EXPECT_TRUE(controller.CheckOutByID(device, kLocatorVid, kLocatorPid));
        return device;
    }
};

TEST_F(HidDeviceTest, DirectCreationIsRefused) {
    try {
        THidDevice device;
        FAIL() << "constructed";
    } catch (const EControllerError& error) {
        EXPECT_STREQ("Direct creation of a THidDevice object is not allowed", error.what());
    }
    try {
        THidDeviceReadThread reader;
        FAIL() << "constructed";
    } catch (const EControllerError& error) {
        EXPECT_STREQ("Direct creation of a TDeviceReadThread object is not allowed", error.what());
    }
}

TEST_F(HidDeviceTest, DeviceDeniedReadWriteIsListedWithoutReader) {
    auto info = fakeInterface("/sim/locator", kLocatorVid, kLocatorPid, u"Locator");
    info.readWriteAllowed = false;
    source_->plug(info);
    auto controller = refreshedController();
    ASSERT_EQ(1u, controller->Devices().size());
    THidDevice* device = checkedOutLocator(*controller);
    ASSERT_NE(nullptr, device);
    EXPECT_FALSE(device->HasReadWriteAccess());
    EXPECT_EQ(u"Locator", device->ProductName());
    device->SetOnData(THidDataEvent([](THidDevice*, BYTE, const BYTE*, USHORT) {}));
    EXPECT_EQ(nullptr, device->DataThread());
    DWORD written = 0;
    const std::vector<BYTE> report(65, 0);
    EXPECT_FALSE(device->WriteFile(report.data(), 65, written));
}

TEST_F(HidDeviceTest, ListedDeviceOpensNothing) {
    source_->plug(fakeInterface("/sim/locator", kLocatorVid, kLocatorPid, u"Locator"));
    auto controller = refreshedController();
    THidDevice* device = controller->Devices().at(0);
    EXPECT_FALSE(device->IsAccessible());
    device->SetNumInputBuffers(64);
    EXPECT_EQ(0, device->NumInputBuffers());
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
    EXPECT_EQ(u"", device->ProductName()) << "names are read only while accessible";
    EXPECT_EQ(0, device->Caps().InputReportByteLength);
}

TEST_F(HidDeviceTest, BufferCountsAndTheCapsHandleQuirk) {
    source_->plug(fakeInterface("/sim/locator", kLocatorVid, kLocatorPid));
    auto controller = refreshedController();
    THidDevice* device = checkedOutLocator(*controller);
    ASSERT_NE(nullptr, device);

    device->SetNumInputBuffers(64);
    EXPECT_EQ(64, device->NumInputBuffers());
    device->SetNumOverlappedBuffers(64);
    EXPECT_EQ(64, device->NumOverlappedBuffers());
    EXPECT_NE(INVALID_HANDLE_VALUE, device->HidOverlappedRead());

    // Loading the descriptor closes the synchronous handle, and the count goes with it.
    const auto caps = device->Caps();
    EXPECT_EQ(65, caps.InputReportByteLength);
    EXPECT_EQ(65, caps.OutputReportByteLength);
    EXPECT_EQ(0, device->NumInputBuffers());
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());

    std::vector<BYTE> report(65, 0xFF);
    report[0] = 0;
    DWORD written = 0;
    EXPECT_TRUE(device->WriteFile(report.data(), 65, written));
    EXPECT_EQ(65u, written);
    EXPECT_NE(64, device->NumInputBuffers()) << "a new handle starts with the default count";
    EXPECT_GT(device->NumInputBuffers(), 0);

    controller->CheckIn(device);
    EXPECT_EQ(0, controller->Devices().at(0)->NumOverlappedBuffers());
    EXPECT_EQ(INVALID_HANDLE_VALUE, controller->Devices().at(0)->HidOverlappedRead());
}

TEST_F(HidDeviceTest, TimingSettersKeepTheirRanges) {
    source_->plug(fakeInterface("/sim/locator", kLocatorVid, kLocatorPid));
    auto controller = refreshedController();
    THidDevice* device = controller->Devices().at(0);
    EXPECT_EQ(100, device->ThreadSleepTime());
    EXPECT_EQ(0, device->PollingDelayTime());

    device->SetThreadSleepTime(9);
    EXPECT_EQ(100, device->ThreadSleepTime());
    device->SetThreadSleepTime(10001);
    EXPECT_EQ(100, device->ThreadSleepTime());
    device->SetThreadSleepTime(10);
    EXPECT_EQ(10, device->ThreadSleepTime());
    device->SetThreadSleepTime(10000);
    EXPECT_EQ(10000, device->ThreadSleepTime());

    device->SetPollingDelayTime(5);
    device->SetPollingDelayTime(-1);
    EXPECT_EQ(5, device->PollingDelayTime());
    device->SetPollingDelayTime(10001);
    EXPECT_EQ(5, device->PollingDelayTime());
    device->SetPollingDelayTime(0);
    EXPECT_EQ(0, device->PollingDelayTime());
}

TEST_F(HidDeviceTest, UnterminatedProductStringIsCutAtTheBuffer) {
    auto info = fakeInterface("/sim/locator", kLocatorVid, kLocatorPid, std::u16string(300, u'x'));
    info.stringsUnterminated = true;
    source_->plug(info);
    auto controller = refreshedController();
    THidDevice* device = checkedOutLocator(*controller);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(std::u16string(254, u'x'), device->ProductName());
}

TEST_F(HidDeviceTest, DestroyingACheckedOutDeviceLeavesAFreshCheckedInOne) {
    source_->plug(fakeInterface("/sim/locator", kLocatorVid, kLocatorPid));
    auto controller = refreshedController();
    THidDevice* device = checkedOutLocator(*controller);
    ASSERT_NE(nullptr, device);
    const THidDataEvent onData([](THidDevice*, BYTE, const BYTE*, USHORT) {});
    const THidPlugEvent onUnplug([](THidDevice*) {});
    device->SetOnData(onData);
    device->SetOnUnplug(onUnplug);
    device->SetThreadSleepTime(20);
    device->SetPollingDelayTime(3);
    ASSERT_NE(nullptr, device->DataThread());
    EXPECT_EQ(1, controller->NumCheckedOutDevices());

    delete device;

    ASSERT_EQ(1u, controller->Devices().size());
    THidDevice* replacement = controller->Devices()[0];
    EXPECT_FALSE(replacement->IsCheckedOut());
    EXPECT_TRUE(replacement->OnData() == onData);
    EXPECT_TRUE(replacement->OnUnplug() == onUnplug);
    EXPECT_EQ(20, replacement->ThreadSleepTime());
    EXPECT_EQ(3, replacement->PollingDelayTime());
    EXPECT_EQ(nullptr, replacement->DataThread());
    EXPECT_EQ(u"/sim/locator", replacement->PnPInfo()->DevicePath());
    EXPECT_EQ(0, controller->NumCheckedOutDevices());
    EXPECT_EQ(1, controller->NumCheckedInDevices());
}

TEST_F(HidDeviceTest, UnplugHandlerThatDestroysTheDevice) {
    source_->plug(fakeInterface("/sim/locator", kLocatorVid, kLocatorPid));
    auto controller = refreshedController();
    THidDevice* device = checkedOutLocator(*controller);
    ASSERT_NE(nullptr, device);
    int calls = 0;
    device->SetOnUnplug(THidPlugEvent([&](THidDevice* gone) {
        ++calls;
        delete gone;
    }));
    source_->unplug("/sim/locator");
    device->DoUnplug();
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(controller->Devices().empty());
}

TEST(HidHandlerIdentity, SameMethodOfTheSameObjectIsEqual) {
    struct Receiver {
        void plug(THidDevice*) {}
        void other(THidDevice*) {}
    } a, b;
    EXPECT_TRUE(THidPlugEvent(&a, &Receiver::plug) == THidPlugEvent(&a, &Receiver::plug));
    EXPECT_FALSE(THidPlugEvent(&a, &Receiver::plug) == THidPlugEvent(&b, &Receiver::plug));
    EXPECT_FALSE(THidPlugEvent(&a, &Receiver::plug) == THidPlugEvent(&a, &Receiver::other));
    const THidPlugEvent lambda([](THidDevice*) {});
    const THidPlugEvent copy = lambda;
    EXPECT_TRUE(copy == lambda);
    EXPECT_FALSE(THidPlugEvent([](THidDevice*) {}) == lambda);
    EXPECT_TRUE(THidPlugEvent() == THidPlugEvent(nullptr));
    EXPECT_FALSE(THidPlugEvent() == lambda);
}

} // namespace
