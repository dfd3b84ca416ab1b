#include "HidDeviceTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace hidtest;

namespace {

struct Delivery {
    BYTE reportId;
    std::vector<BYTE> data;
    USHORT size;
};

class HidReaderTest : public HidLayerTest {
protected:
    void SetUp() override {
        HidLayerTest::SetUp();
        source_->plug(fakeInterface(path, kLocatorVid, kLocatorPid));
        controller_ = refreshedController();
        ASSERT_TRUE(controller_->CheckOutByID(device_, kLocatorVid, kLocatorPid));
        device_->SetNumOverlappedBuffers(64);
    }
    void TearDown() override {
        controller_.reset();
        HidLayerTest::TearDown();
    }

    THidDataEvent recorder(std::vector<Delivery>& into) {
        return THidDataEvent([&into](THidDevice*, BYTE id, const BYTE* data, USHORT size) {
            into.push_back({id, std::vector<BYTE>(data, data + size), size});
        });
    }
    // Waits, without running them, until the reader has queued a call for the UI thread.
    static bool eventuallyQueued() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!platform::HasQueuedSynchronize()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    static std::vector<BYTE> payload(BYTE first) {
        std::vector<BYTE> data(64, 0xFF);
        data[0] = first;
        return data;
    }

    const std::string path = "/sim/locator";
    std::unique_ptr<THidDeviceController> controller_;
    THidDevice* device_ = nullptr;
};

TEST_F(HidReaderTest, StartsOnlyWhenCheckedOutWithAHandler) {
    EXPECT_EQ(nullptr, device_->DataThread());
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    ASSERT_NE(nullptr, device_->DataThread());

    controller_->CheckIn(device_);
    THidDevice* listed = controller_->Devices().at(0);
    EXPECT_EQ(nullptr, listed->DataThread()) << "check-in stops the reader";
    EXPECT_TRUE(listed->OnData().Assigned()) << "and keeps the handler";

    ASSERT_TRUE(controller_->CheckOut(device_));
    EXPECT_NE(nullptr, device_->DataThread()) << "check-out with a handler starts it again";
    device_->SetOnData(nullptr);
    EXPECT_EQ(nullptr, device_->DataThread());
}

TEST_F(HidReaderTest, DeliversReportIdDataAndSizeInOrder) {
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    source_->send(path, payload(0x52));
    source_->send(path, payload(0x57));
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 2; }));
    EXPECT_EQ(0, got[0].reportId);
    EXPECT_EQ(64, got[0].size);
    EXPECT_EQ(payload(0x52), got[0].data);
    EXPECT_EQ(payload(0x57), got[1].data);
}

TEST_F(HidReaderTest, ReportOfOneByteIsDeliveredWithSizeZero) {
    auto numbered = fakeInterface("/sim/numbered", 0x1234, 0x0001);
    numbered.reportDescriptor = testing_support::numberedDescriptor();
    source_->plug(numbered);
    announce();
    THidDevice* device = nullptr;
    ASSERT_TRUE(controller_->CheckOutByID(device, 0x1234, 0x0001));
    device->SetNumOverlappedBuffers(8); // opens the read handle before the device sends
    std::vector<Delivery> got;
    device->SetOnData(recorder(got));
    source_->send("/sim/numbered", {0x05});
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 1; }));
    EXPECT_EQ(5, got[0].reportId);
    EXPECT_EQ(0, got[0].size);
}

TEST_F(HidReaderTest, ReplacedHandlerReceivesTheNextReportOnTheSameReader) {
    std::vector<Delivery> first, second;
    device_->SetOnData(recorder(first));
    const THidDeviceReadThread* reader = device_->DataThread();
    source_->send(path, payload(1));
    ASSERT_TRUE(pumpUntil([&] { return first.size() == 1; }));
    device_->SetOnData(recorder(second));
    EXPECT_EQ(reader, device_->DataThread());
    source_->send(path, payload(2));
    ASSERT_TRUE(pumpUntil([&] { return second.size() == 1; }));
    EXPECT_EQ(1u, first.size());
    EXPECT_EQ(2, second[0].data[0]);
}

TEST_F(HidReaderTest, RaisingHandlerEndsTheReader) {
    int calls = 0;
    device_->SetOnData(THidDataEvent([&](THidDevice*, BYTE, const BYTE*, USHORT) {
        ++calls;
        throw std::runtime_error("handler failed");
    }));
    source_->send(path, payload(1));
    ASSERT_TRUE(pumpUntil([&] { return device_->DataThread()->Finished(); }));
    EXPECT_EQ(1, calls);
    ASSERT_TRUE(device_->DataThread()->FatalException());
    source_->send(path, payload(2));
    pumpPending();
    EXPECT_EQ(1, calls);
    const THidDeviceReadThread* ended = device_->DataThread();
    device_->SetOnData(THidDataEvent([&](THidDevice*, BYTE, const BYTE*, USHORT) { ++calls; }));
    EXPECT_EQ(ended, device_->DataThread()) << "no second reader while the ended one is kept";
}

TEST_F(HidReaderTest, UnplugWhileWaitingEndsTheReadThenReportsErrorsPerSlice) {
    std::vector<Delivery> got;
    std::vector<DWORD> errors;
    device_->SetThreadSleepTime(10);
    device_->SetOnDataError(
        THidDataErrorEvent([&](THidDevice*, DWORD error) { errors.push_back(error); }));
    device_->SetOnData(recorder(got));
    source_->unplug(path);
    device_->DoUnplug();
    ASSERT_TRUE(pumpUntil([&] { return errors.size() >= 3; }));
    EXPECT_TRUE(got.empty());
    device_->SetOnData(nullptr);
    const auto reported = errors.size();
    pumpPending();
    EXPECT_EQ(reported, errors.size()) << "no error after the reader was stopped";
}

TEST_F(HidReaderTest, StopWhileTheReaderWaitsInSynchronize) {
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    source_->send(path, payload(7));
    // The reader queues its call; stopping serves it with the handler still installed.
    ASSERT_TRUE(eventuallyQueued());
    device_->SetOnData(nullptr);
    EXPECT_EQ(nullptr, device_->DataThread());
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(7, got[0].data[0]);
}

// Stopping wakes the reader out of its wait: with a 10 s wait slice, a stop that had to wait
// for the slice to end would miss this deadline by far.
TEST_F(HidReaderTest, StopDoesNotWaitForTheWaitSliceToEnd) {
    device_->SetThreadSleepTime(10000);
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    source_->send(path, payload(1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.empty() && std::chrono::steady_clock::now() < deadline)
        platform::PumpMessages(); // the reader is now back in a ten-second wait
    ASSERT_EQ(1u, got.size());

    const auto stopStarted = std::chrono::steady_clock::now();
    device_->SetOnData(nullptr);
    EXPECT_EQ(nullptr, device_->DataThread());
    EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, std::chrono::seconds(5));
}

} // namespace
