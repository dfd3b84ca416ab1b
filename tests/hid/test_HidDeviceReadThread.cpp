#include "HidDeviceTestSupport.h"
#include "platform/sources/SimRecording.h"
#include "platform/sources/SimScenarioRunner.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

using namespace hidtest;
using testing_support::eventually;
using testing_support::locatorDescriptor;

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
    static bool eventuallyQueued() { return eventually(platform::HasQueuedSynchronize); }
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

// The reader never waits for the UI thread: reports pile up in its hand-over while nothing is
// pumped, far beyond the platform's queue of 64, and all arrive in order once it is.
TEST_F(HidReaderTest, ABusyUiThreadHoldsUpNoReport) {
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    constexpr int count = 200;
    for (int n = 0; n < count; ++n) {
        source_->send(path, payload(static_cast<BYTE>(n)));
        if (n % 32 == 31) { // the socket that plays the device holds only so many
            ASSERT_TRUE(
                eventually([&] { return device_->DataThread()->WaitingReports() == n + 1u; }));
        }
    }
    ASSERT_TRUE(eventually([&] { return device_->DataThread()->WaitingReports() == count; }));
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(pumpUntil([&] { return got.size() == count; }));
    for (int n = 0; n < count; ++n)
        ASSERT_EQ(static_cast<BYTE>(n), got[n].data[0]) << "report " << n;
    EXPECT_EQ(0u, device_->DroppedInputReports());
}

// A reader held up (here by its pause after each wake-up) still has its other reads pending: a
// burst beyond the platform's queue completes them and waits there, and arrives whole and in
// order. With one read pending, all but the queue's 8 would be lost.
TEST_F(HidReaderTest, AHeldUpReaderTakesABurstBeyondThePlatformQueue) {
    device_->SetNumOverlappedBuffers(8);
    device_->SetPollingDelayTime(300);
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    const auto numbered = [](int n) {
        std::vector<BYTE> data = payload(static_cast<BYTE>(n >> 8));
        data[1] = static_cast<BYTE>(n);
        return data;
    };
    source_->send(path, numbered(0));
    ASSERT_TRUE(eventually([&] { return device_->DataThread()->WaitingReports() == 1; }));
    constexpr int burst = THidDeviceReadThread::ReadsPending - 1 + 8;
    for (int n = 1; n <= burst; ++n)
        source_->send(path, numbered(n));
    ASSERT_TRUE(pumpUntil([&] { return got.size() == burst + 1u; })) << got.size();
    for (int n = 0; n <= burst; ++n)
        ASSERT_EQ(numbered(n), got[n].data) << "report " << n;
    EXPECT_EQ(0u, device_->DroppedInputReports());
}

// A report still waiting when a command installs its handler and writes goes to the handler
// in force before; the command's answer, which can only arrive after the write, to the new one.
TEST_F(HidReaderTest, AnAnswerRacingANewCommandReachesTheCommandsHandler) {
    std::vector<Delivery> before, command;
    device_->SetOnData(recorder(before));
    source_->send(path, payload(1));
    // Handed over and its delivery queued: the command's procedure queues behind it.
    ASSERT_TRUE(eventually([&] {
        return device_->DataThread()->WaitingReports() == 1 && platform::HasQueuedSynchronize();
    }));
    TThread::Queue([&] {
        device_->SetOnData(recorder(command));
        source_->send(path, payload(2)); // the device answers the command at once
    });
    ASSERT_TRUE(pumpUntil([&] { return command.size() == 1; }));
    ASSERT_EQ(1u, before.size());
    EXPECT_EQ(1, before[0].data[0]);
    EXPECT_EQ(2, command[0].data[0]);
}

// Full: the oldest waiting report goes and is counted. The UI thread is asked once for any
// number of reports, and a delivery nested in a handler (a modal box's loop) delivers nothing,
// so no report overtakes another; the outer delivery asks again for what arrived meanwhile, as
// it does for what one turn left.
TEST(HidReportHandOverTest, DropsTheOldestAndNeverReorders) {
    int asks = 0;
    THidReportHandOver handOver(3, 3, [&] { ++asks; });
    for (BYTE n = 0; n < 5; ++n)
        handOver.Add({{n}});
    EXPECT_EQ(1, asks);
    EXPECT_EQ(3u, handOver.Waiting());
    EXPECT_EQ(2u, handOver.Dropped());

    std::vector<BYTE> order;
    handOver.Deliver([&](const std::vector<BYTE>& report) {
        order.push_back(report[0]);
        if (report[0] == 2) {
            handOver.Add({{5}});
            handOver.Deliver([&](const std::vector<BYTE>& nested) {
                order.push_back(nested[0]);
                return true;
            });
        }
        return true;
    });
    EXPECT_EQ((std::vector<BYTE>{2, 3, 4}), order);
    EXPECT_EQ(3, asks) << "asked for report 5, then again after the nested call did nothing";
    handOver.Deliver([&](const std::vector<BYTE>& report) {
        order.push_back(report[0]);
        return true;
    });
    EXPECT_EQ((std::vector<BYTE>{2, 3, 4, 5}), order);
    EXPECT_EQ(0u, handOver.Waiting());

    THidReportHandOver twoATurn(8, 2, [&] { ++asks; });
    for (BYTE n = 6; n < 9; ++n)
        twoATurn.Add({{n}});
    const auto collect = [&](const std::vector<BYTE>& report) {
        order.push_back(report[0]);
        return true;
    };
    twoATurn.Deliver(collect);
    EXPECT_EQ(5, asks) << "asked once for the three, and again for the one left";
    twoATurn.Deliver(collect);
    EXPECT_EQ((std::vector<BYTE>{2, 3, 4, 5, 6, 7, 8}), order);
}

// Written by a capture, read back as a recording and replayed by the simulated source: the
// same device, the same reports in the same order; the report the tool sent is a comment.
TEST_F(HidReaderTest, CaptureRoundTripsThroughReplay) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tarvex-capture-" + std::to_string(::getpid()) + ".txt");
    std::string reason;
    auto capture = THidCapture::Start(file.string(), nullptr, reason);
    ASSERT_TRUE(capture) << reason;
    controller_->SetCapture(capture);
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    for (BYTE n = 1; n <= 3; ++n)
        source_->send(path, payload(n));
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 3; }));
    BYTE command[65] = {0, 0x52};
    DWORD written = 0;
    ASSERT_TRUE(device_->WriteFile(command, sizeof command, written));
    controller_->SetCapture(nullptr);
    EXPECT_EQ("", capture->Stop());

    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    std::filesystem::remove(file);
    EXPECT_NE(std::string::npos, text.str().find("\nI: 3 3f7c 5a21\n"));
    EXPECT_NE(std::string::npos, text.str().find("\n# O: ")) << text.str();
    platform::ScenarioError error;
    const auto scenario = platform::parseScenario(text.str(), error);
    ASSERT_TRUE(scenario) << error.message() << "\n" << text.str();
    ASSERT_EQ(1u, scenario->devices.size());
    EXPECT_EQ(locatorDescriptor(), scenario->devices[0].descriptor);
    ASSERT_EQ(3u, scenario->recording->reports.size());

    auto replay = platform::startScenario(*scenario);
    int openError = 0;
    auto connection = replay->open(replay->enumerate().at(0).path, &openError);
    ASSERT_TRUE(connection);
    for (BYTE n = 1; n <= 3; ++n) {
        std::vector<BYTE> expected = payload(n);
        expected.insert(expected.begin(), 0);
        std::vector<BYTE> report(80);
        ASSERT_TRUE(eventually([&] {
            const int length = connection->readInput(report.data(), report.size());
            report.resize(length > 0 ? length : 80);
            return length > 0;
        }));
        EXPECT_EQ(expected, report);
    }
}

// A file that stops taking writes ends the capture: the UI thread hears why, and reports
// given to it afterwards are not taken.
TEST(HidCaptureTest, AFailedWriteEndsTheCaptureAndSaysWhy) {
    std::string reason;
    auto capture = THidCapture::Start(
        "/dev/full", [&](const std::string& why) { reason = why; }, reason);
    ASSERT_TRUE(capture) << reason;
    capture->AddDevice({"/dev/hidraw0", "Locator", 0x3F7C, 0x5A21, locatorDescriptor()});
    ASSERT_TRUE(pumpUntil([&] { return !reason.empty(); }));
    EXPECT_EQ("No space left on device", reason);
    const BYTE report[2] = {0, 1};
    capture->Input(0, report, sizeof report);
    EXPECT_EQ("No space left on device", capture->Stop());
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

TEST_F(HidReaderTest, StopWithAReportHandedOverDeliversIt) {
    std::vector<Delivery> got;
    device_->SetOnData(recorder(got));
    source_->send(path, payload(7));
    // The reader has handed the report over; stopping delivers it with the handler still
    // installed.
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
