#include "HidDeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace hidtest;

namespace {

class HidControllerTest : public HidLayerTest {
protected:
    void plugThree() {
        source_->plug(fakeInterface("/sim/a", kLocatorVid, kLocatorPid, u"A"));
        source_->plug(fakeInterface("/sim/b", kLocatorVid, 0x1111, u"B"));
        source_->plug(fakeInterface("/sim/c", kLocatorVid, kLocatorPid, u"C"));
    }
    static std::string pathOf(const THidDevice* device) {
        const auto& path = device->PnPInfo()->DevicePath();
        return std::string(path.begin(), path.end());
    }
};

TEST_F(HidControllerTest, ListFillsAtTheFirstPassOfTheEventLoop) {
    plugThree();
    int changes = 0;
    THidDeviceController controller;
    controller.SetOnDeviceChange(TNotifyEvent([&](void*) { ++changes; }));
    EXPECT_EQ(1, changes) << "a new change handler refreshes at once";
    changes = 0;
    pumpPending();
    EXPECT_EQ(1, changes) << "the controller's own first notification always reports a change";
    ASSERT_EQ(3u, controller.Devices().size());
    EXPECT_EQ("/sim/a", pathOf(controller.Devices()[0]));
    EXPECT_EQ(3, controller.NumCheckedInDevices());

    const THidDevice* first = controller.Devices()[0];
    announce();
    EXPECT_EQ(1, changes) << "nothing changed";
    EXPECT_EQ(first, controller.Devices()[0]) << "listed objects are kept";
}

TEST_F(HidControllerTest, EmptyBeforeTheLoopRuns) {
    plugThree();
    THidDeviceController controller;
    EXPECT_TRUE(controller.Devices().empty());
    EXPECT_EQ(0, controller.Enumerate());
}

TEST_F(HidControllerTest, CheckOutByIdTakesFreeDevicesInListOrder) {
    plugThree();
    auto controller = refreshedController();
    THidDevice* first = nullptr;
    THidDevice* second = nullptr;
    THidDevice* none = reinterpret_cast<THidDevice*>(1);
    EXPECT_FALSE(controller->CheckOutByID(none, -1, kLocatorPid));
    EXPECT_EQ(nullptr, none);

    ASSERT_TRUE(controller->CheckOutByID(first, kLocatorVid, -1));
    EXPECT_EQ("/sim/a", pathOf(first));
    ASSERT_TRUE(controller->CheckOutByID(second, kLocatorVid, kLocatorPid));
    EXPECT_EQ("/sim/c", pathOf(second)) << "the taken one is passed over";
    none = reinterpret_cast<THidDevice*>(1);
    EXPECT_FALSE(controller->CheckOutByID(none, kLocatorVid, kLocatorPid));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(2, controller->NumCheckedOutDevices());
    EXPECT_EQ(1, controller->NumCheckedInDevices());
    EXPECT_EQ(2, controller->CountByID(kLocatorVid, kLocatorPid)) << "counts include taken ones";

    controller->CheckIn(first);
    EXPECT_EQ(nullptr, first);
    EXPECT_EQ(1, controller->NumCheckedOutDevices());
    controller->CheckIn(first);
    EXPECT_EQ(1, controller->NumCheckedOutDevices()) << "checking in none does nothing";
}

TEST_F(HidControllerTest, CheckOutByOtherKeys) {
    plugThree();
    auto controller = refreshedController();
    THidDevice* device = nullptr;
    EXPECT_FALSE(controller->CheckOutByProductName(device, u""));
    EXPECT_FALSE(controller->CheckOutByProductName(device, u"B")) << "never read: not cached";
    EXPECT_EQ(3, controller->CountByProductName(u""));
    ASSERT_TRUE(controller->CheckOutByIndex(device, 1));
    EXPECT_EQ(u"B", device->ProductName());
    controller->CheckIn(device);
    EXPECT_TRUE(controller->CheckOutByProductName(device, u"B")) << "now cached";
    EXPECT_FALSE(controller->CheckOutByIndex(device, 3));
    EXPECT_FALSE(controller->CheckOutByIndex(device, -1));
}

TEST_F(HidControllerTest, EnumerateWithAndWithoutAHandler) {
    auto controller = refreshedController();
    EXPECT_EQ(0, controller->Enumerate());
    plugThree();
    announce();
    EXPECT_EQ(1, controller->Enumerate()) << "without a handler the walk stops at the first";

    std::vector<std::pair<std::u16string, int>> offered;
    controller->OnEnumerate = THidEnumerateEvent([&](THidDevice* device, int idx) {
        offered.emplace_back(device->ProductName(), idx);
        return offered.size() < 2;
    });
    EXPECT_EQ(2, controller->Enumerate());
    ASSERT_EQ(2u, offered.size());
    EXPECT_EQ(u"A", offered[0].first);
    EXPECT_EQ(1, offered[1].second);
    EXPECT_EQ(INVALID_HANDLE_VALUE, controller->Devices()[0]->HidFileHandle());

    THidDevice* taken = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(taken, 0));
    offered.clear();
    controller->OnEnumerate = THidEnumerateEvent([&](THidDevice* device, int idx) {
        offered.emplace_back(device->ProductName(), idx);
        return true;
    });
    EXPECT_EQ(3, controller->Enumerate()) << "checked-out devices are offered too";
}

TEST_F(HidControllerTest, UnplugOfACheckedOutDeviceAndLaterRefreshes) {
    plugThree();
    auto controller = refreshedController();
    int unplugs = 0, removals = 0, changes = 0;
    controller->SetOnDeviceUnplug(THidPlugEvent([&](THidDevice*) { ++unplugs; }));
    controller->OnRemoval = THidPlugEvent([&](THidDevice*) { ++removals; });
    controller->SetOnDeviceChange(TNotifyEvent([&](void*) { ++changes; }));
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(device, 0));
    changes = 0;

    source_->unplug("/sim/a");
    announce();
    EXPECT_EQ(1, unplugs);
    EXPECT_EQ(1, removals);
    EXPECT_EQ(1, changes);
    EXPECT_FALSE(device->IsPluggedIn());
    EXPECT_EQ(3u, controller->Devices().size()) << "kept while checked out";
    EXPECT_EQ(1, controller->NumUnpluggedDevices());
    EXPECT_EQ(0, controller->NumCheckedOutDevices());

    announce();
    EXPECT_EQ(1, unplugs) << "told once";
    EXPECT_EQ(2, removals);
    EXPECT_EQ(2, changes);

    controller->CheckIn(device);
    EXPECT_EQ(nullptr, device);
    EXPECT_EQ(2u, controller->Devices().size());
    EXPECT_EQ(0, controller->NumUnpluggedDevices());
}

TEST_F(HidControllerTest, ReplugBeforeCheckInArrivesAsASecondObject) {
    source_->plug(fakeInterface("/sim/a", kLocatorVid, kLocatorPid, u"A"));
    auto controller = refreshedController();
    std::vector<THidDevice*> arrivals;
    controller->OnArrival = THidPlugEvent([&](THidDevice* d) { arrivals.push_back(d); });
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->CheckOut(device));
    source_->unplug("/sim/a");
    announce();
    source_->plug(fakeInterface("/sim/a", kLocatorVid, kLocatorPid, u"A"));
    announce();
    ASSERT_EQ(1u, arrivals.size());
    EXPECT_NE(device, arrivals[0]);
    ASSERT_EQ(2u, controller->Devices().size());
    EXPECT_EQ(device, controller->Devices()[0]);
    EXPECT_EQ(1, controller->NumCheckedInDevices());
    EXPECT_EQ(1, controller->NumUnpluggedDevices());
    controller->CheckIn(device);
    ASSERT_EQ(1u, controller->Devices().size());
    EXPECT_EQ(arrivals[0], controller->Devices()[0]);
}

TEST_F(HidControllerTest, CreationErrorHandledSkipsTheInterface) {
    source_->plug(fakeInterface("/sim/a", kLocatorVid, kLocatorPid));
    auto broken = fakeInterface("/sim/broken", kLocatorVid, 0x2222);
    broken.attributesReadable = false;
    source_->plug(broken);
    std::vector<std::u16string> failed;
    THidDeviceController controller(
        THidDeviceCreateError([&](THidDeviceController*, THidPnPInfo* info, bool& handled, bool&) {
            failed.push_back(info->DevicePath());
            handled = true;
        }),
        nullptr);
    pumpPending();
    ASSERT_EQ(1u, failed.size());
    EXPECT_EQ(u"/sim/broken", failed[0]);
    ASSERT_EQ(1u, controller.Devices().size());
    EXPECT_EQ(1, controller.NumCheckedInDevices());
}

TEST_F(HidControllerTest, CreationErrorRetriedUntilItSucceeds) {
    auto broken = fakeInterface("/sim/broken", kLocatorVid, 0x2222);
    broken.attributesReadable = false;
    source_->plug(broken);
    int calls = 0;
    THidDeviceController controller(
        THidDeviceCreateError([&](THidDeviceController*, THidPnPInfo*, bool& handled, bool& retry) {
            EXPECT_EQ(calls > 0, retry) << "keeps what the handler left";
            handled = true;
            retry = true;
            if (++calls == 3)
                source_->change("/sim/broken", [](auto& info) { info.attributesReadable = true; });
        }),
        nullptr);
    pumpPending();
    EXPECT_EQ(3, calls);
    ASSERT_EQ(1u, controller.Devices().size());
    EXPECT_EQ(0x2222, controller.Devices()[0]->Attributes().ProductID);
}

TEST_F(HidControllerTest, UnhandledCreationErrorPropagatesAndChangesNothing) {
    source_->plug(fakeInterface("/sim/a", kLocatorVid, kLocatorPid));
    auto controller = refreshedController();
    const THidDevice* listed = controller->Devices().at(0);
    auto broken = fakeInterface("/sim/broken", kLocatorVid, 0x2222);
    broken.attributesReadable = false;
    source_->plug(broken);
    source_->unplug("/sim/a");
    platform::broadcastDeviceNodesChanged();
    try {
        pumpPending();
        FAIL() << "no error";
    } catch (const EControllerError& error) {
        EXPECT_STREQ("Device cannot be identified", error.what());
    }
    ASSERT_EQ(1u, controller->Devices().size());
    EXPECT_EQ(listed, controller->Devices()[0]);
    EXPECT_TRUE(listed->IsPluggedIn());
    EXPECT_EQ(1, controller->NumCheckedInDevices());

    source_->change("/sim/broken", [](auto& info) { info.attributesReadable = true; });
    announce();
    ASSERT_EQ(1u, controller->Devices().size()) << "the next notification refreshes again";
    EXPECT_EQ(0x2222, controller->Devices()[0]->Attributes().ProductID);
}

TEST_F(HidControllerTest, UnplugHandlerDestroysTheReportedDevice) {
    plugThree();
    auto controller = refreshedController();
    THidDevice* held = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(held, 1));
    int removals = 0;
    controller->OnRemoval = THidPlugEvent([&](THidDevice*) { ++removals; });
    held->SetOnUnplug(THidPlugEvent([&](THidDevice* gone) {
        delete gone;
        held = nullptr;
    }));
    source_->unplug("/sim/b");
    source_->unplug("/sim/c");
    announce();
    EXPECT_EQ(nullptr, held);
    EXPECT_EQ(1, removals) << "only /sim/c is reported removed";
    ASSERT_EQ(1u, controller->Devices().size());
    EXPECT_EQ("/sim/a", pathOf(controller->Devices()[0]));
    EXPECT_EQ(0, controller->NumUnpluggedDevices());
    EXPECT_EQ(1, controller->NumCheckedInDevices());
}

TEST_F(HidControllerTest, UnplugHandlerDestroysAnotherDevice) {
    plugThree();
    auto controller = refreshedController();
    THidDevice* held = nullptr;
    THidDevice* vanishing = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(held, 0));
    ASSERT_TRUE(controller->CheckOutByIndex(vanishing, 2));
    std::vector<std::string> removed;
    controller->OnRemoval = THidPlugEvent([&](THidDevice* d) { removed.push_back(pathOf(d)); });
    vanishing->SetOnUnplug(THidPlugEvent([&](THidDevice*) {
        delete held; // still attached: a fresh object takes its place
        held = nullptr;
    }));
    source_->unplug("/sim/c");
    announce();
    EXPECT_EQ(std::vector<std::string>{"/sim/c"}, removed);
    ASSERT_EQ(3u, controller->Devices().size());
    EXPECT_EQ("/sim/a", pathOf(controller->Devices()[0]));
    EXPECT_FALSE(controller->Devices()[0]->IsCheckedOut());
    EXPECT_TRUE(controller->Devices()[0]->IsPluggedIn());
    EXPECT_EQ(2, controller->NumCheckedInDevices());
    EXPECT_EQ(1, controller->NumUnpluggedDevices());
    controller->CheckIn(vanishing);
    EXPECT_EQ(2u, controller->Devices().size());
}

TEST_F(HidControllerTest, DestructionUnplugsCheckedOutDevicesOnce) {
    plugThree();
    auto controller = refreshedController();
    THidDevice* first = nullptr;
    THidDevice* second = nullptr;
    ASSERT_TRUE(controller->CheckOutByIndex(first, 0));
    ASSERT_TRUE(controller->CheckOutByIndex(second, 2));
    int calls = 0;
    first->SetOnUnplug(THidPlugEvent([&](THidDevice* gone) {
        ++calls;
        delete gone;
        delete second; // not yet reached by the walk
    }));
    controller.reset();
    EXPECT_EQ(1, calls);
}

TEST_F(HidControllerTest, PropagatingSettersSpareIndividualChanges) {
    plugThree();
    auto controller = refreshedController();
    struct Receiver {
        void data(THidDevice*, BYTE, const BYTE*, USHORT) {}
    } receiver;
    const THidDataEvent shared(&receiver, &Receiver::data);
    controller->SetOnDeviceData(shared);
    const THidDataEvent own([](THidDevice*, BYTE, const BYTE*, USHORT) {});
    controller->Devices()[1]->SetOnData(own);
    controller->Devices()[2]->SetThreadSleepTime(50);
    controller->SetDevThreadSleepTime(200);
    controller->SetOnDeviceData(nullptr);
    EXPECT_FALSE(controller->Devices()[0]->OnData().Assigned());
    EXPECT_TRUE(controller->Devices()[1]->OnData() == own);
    EXPECT_EQ(200, controller->Devices()[0]->ThreadSleepTime());
    EXPECT_EQ(50, controller->Devices()[2]->ThreadSleepTime());
}

} // namespace
