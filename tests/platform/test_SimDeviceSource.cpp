#include "DeviceTestSupport.h"
#include "platform/uithread/Messages.h"

#include <cerrno>

namespace platform {
namespace {

Report locatorCommand(std::uint8_t command, std::uint8_t fill = 0) {
    Report report(SimLocatorReportLength, fill);
    report[0] = 0;
    report[1] = command;
    return report;
}

Report readReport(HidConnection& connection) {
    EXPECT_TRUE(waitForEvents(connection.inputFd()) & POLLIN);
    Report report(SimLocatorReportLength + 8);
    const int length = connection.readInput(report.data(), report.size());
    report.resize(length > 0 ? length : 0);
    return report;
}

class SimLocatorTest : public SimSourceTest {
protected:
    void SetUp() override {
        SimSourceTest::SetUp();
        path = sim->plug(makeSimLocator());
        int error = 0;
        connection = sim->open(path, &error);
        ASSERT_NE(connection, nullptr) << error;
    }
    std::string path;
    std::unique_ptr<HidConnection> connection;
};

TEST_F(SimLocatorTest, ReadCommandAnswersFactoryConfigurationPaddedWithFF) {
    ASSERT_EQ(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 65);
    const Report answer = readReport(*connection);
    ASSERT_EQ(answer.size(), SimLocatorReportLength);
    EXPECT_EQ(answer[0], 0);
    EXPECT_EQ(answer[1], 0x52);
    EXPECT_TRUE(std::equal(SimLocatorFactoryConfiguration.begin(),
                           SimLocatorFactoryConfiguration.end(), answer.begin() + 2));
    for (std::size_t i = 18; i < answer.size(); ++i) {
        EXPECT_EQ(answer[i], 0xFF) << i;
    }
}

TEST_F(SimLocatorTest, WriteCommandStoresBeforeAnsweringAndLaterReadsSeeIt) {
    Report write = locatorCommand(0x57);
    for (int i = 0; i < 16; ++i) {
        write[2 + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    ASSERT_GT(connection->writeOutput(write.data(), write.size()), 0);
    const Report echoed = readReport(*connection);
    ASSERT_EQ(echoed.size(), SimLocatorReportLength);
    EXPECT_EQ(echoed[1], 0x57);
    EXPECT_TRUE(std::equal(write.begin() + 2, write.begin() + 18, echoed.begin() + 2));

    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    const Report read = readReport(*connection);
    EXPECT_TRUE(std::equal(write.begin() + 2, write.begin() + 18, read.begin() + 2));
}

TEST_F(SimLocatorTest, OtherCommandsAreSeenButNotAnswered) {
    Report seen;
    sim->setOutputObserver(path, [&](const Report& output) { seen = output; });
    const Report other = locatorCommand(0x33, 0x5A);
    ASSERT_GT(connection->writeOutput(other.data(), other.size()), 0);
    EXPECT_EQ(seen, other);
    EXPECT_EQ(waitForEvents(connection->inputFd(), std::chrono::milliseconds(50)), 0);
}

TEST_F(SimLocatorTest, AnswersReachEveryOpenConnection) {
    int error = 0;
    auto second = sim->open(path, &error);
    ASSERT_NE(second, nullptr);
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    EXPECT_EQ(readReport(*connection).size(), SimLocatorReportLength);
    EXPECT_EQ(readReport(*second).size(), SimLocatorReportLength);
}

TEST_F(SimLocatorTest, DroppedAnswersNeverArrive) {
    sim->setDropAnswers(path, true);
    int seen = 0;
    sim->setOutputObserver(path, [&](const Report&) { ++seen; });
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(waitForEvents(connection->inputFd(), std::chrono::milliseconds(50)), 0);
}

TEST_F(SimLocatorTest, DelayedAnswerArrivesLaterWithoutHoldingTheWriter) {
    sim->setAnswerDelay(path, std::chrono::seconds(2));
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    // The writer is back long before the answer: nothing is waiting yet.
    EXPECT_EQ(waitForEvents(connection->inputFd(), std::chrono::milliseconds(0)), 0);
    EXPECT_EQ(readReport(*connection)[1], 0x52);
}

TEST_F(SimSourceTest, FeatureReportsAreStoredByReportIdAndUnknownOnesStall) {
    const std::string path = sim->plug(makeSimGamePad());
    int error = 0;
    auto connection = sim->open(path, &error);
    ASSERT_NE(connection, nullptr);
    const std::uint8_t feature[] = {0x03, 0x11, 0x22};
    EXPECT_EQ(connection->setFeature(feature, sizeof feature), 3);
    std::uint8_t buffer[8] = {0x03};
    EXPECT_EQ(connection->getFeature(buffer, sizeof buffer), 3);
    EXPECT_EQ(buffer[2], 0x22);
    buffer[0] = 0x04;
    EXPECT_EQ(connection->getFeature(buffer, sizeof buffer), -EPIPE);
}

// As hidraw: a device without numbered reports takes report ID 0 only, in every direction.
TEST_F(SimSourceTest, ADeviceWithoutReportIdsRefusesAnyOtherId) {
    const std::string path = sim->plug(makeSimMouse());
    int error = 0;
    auto connection = sim->open(path, &error);
    ASSERT_NE(connection, nullptr);
    Report seen;
    sim->setOutputObserver(path, [&](const Report& output) { seen = output; });
    std::uint8_t report[4] = {0x03, 0x01, 0x02, 0x03};
    EXPECT_EQ(connection->writeOutput(report, sizeof report), -EINVAL);
    EXPECT_EQ(connection->setOutputReport(report, sizeof report), -EINVAL);
    EXPECT_EQ(connection->setFeature(report, sizeof report), -EINVAL);
    EXPECT_EQ(connection->getFeature(report, sizeof report), -EINVAL);
    EXPECT_EQ(connection->getInputReport(report, sizeof report), -EINVAL);
    EXPECT_TRUE(seen.empty()) << "nothing reached the device";

    report[0] = 0;
    EXPECT_EQ(connection->writeOutput(report, sizeof report), 4);
    EXPECT_EQ(seen, Report(std::begin(report), std::end(report)));
    EXPECT_EQ(connection->setFeature(report, sizeof report), 4);
}

TEST_F(SimSourceTest, InputReportOnRequestIsTheLatestOneSent) {
    const std::string path = sim->plug(makeSimMouse());
    int error = 0;
    auto connection = sim->open(path, &error);
    ASSERT_NE(connection, nullptr);
    std::uint8_t state[4] = {0, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(connection->getInputReport(state, sizeof state), 4);
    EXPECT_EQ(Report(std::begin(state), std::end(state)), Report(4, 0)) << "at rest";

    const Report moved = {0x00, 0x01, 0x05, 0xFB};
    sim->injectInput(path, moved);
    ASSERT_EQ(connection->getInputReport(state, sizeof state), 4);
    EXPECT_EQ(Report(std::begin(state), std::end(state)), moved);

    const std::string pad = sim->plug(makeSimGamePad());
    auto padConnection = sim->open(pad, &error);
    ASSERT_NE(padConnection, nullptr);
    std::uint8_t unknown[4] = {0x07};
    EXPECT_EQ(padConnection->getInputReport(unknown, sizeof unknown), -EPIPE);
    sim->unplug(pad);
    unknown[0] = 0x01;
    EXPECT_EQ(padConnection->getInputReport(unknown, sizeof unknown), -ENODEV);
}

// Every kind of call that reaches the device counts once; what never reaches it does not.
TEST_F(SimSourceTest, CallsReachingTheDeviceAreCountedByKind) {
    const std::string path = sim->plug(makeSimGamePad());
    EXPECT_EQ(sim->callsMade(path), 0u);
    int error = 0;
    auto connection = sim->open(path, &error);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(sim->callsMade(path), 1u) << "the open";

    sim->enumerate();
    sim->find(path);
    std::uint8_t buffer[8] = {0x02};
    EXPECT_EQ(connection->getFeature(buffer, 0), -EINVAL);
    EXPECT_EQ(connection->readInput(buffer, sizeof buffer), -EAGAIN);
    EXPECT_EQ(sim->callsMade(path), 1u) << "listing, a refused request, an empty read";

    EXPECT_EQ(connection->getFeature(buffer, sizeof buffer), 3);
    EXPECT_EQ(connection->setFeature(buffer, 3), 3);
    buffer[0] = 0x09;
    EXPECT_EQ(connection->getInputReport(buffer, sizeof buffer), -EPIPE) << "a stall is an answer";
    const std::uint8_t leds[] = {0x03, 0x05};
    EXPECT_EQ(connection->writeOutput(leds, sizeof leds), 2);
    EXPECT_EQ(connection->setOutputReport(leds, sizeof leds), 2);
    EXPECT_EQ(sim->callsMade(path), 6u);

    ASSERT_TRUE(sim->injectInput(path, {0x01, 0x80, 0x00, 0x00}));
    ASSERT_TRUE(waitForEvents(connection->inputFd()) & POLLIN);
    EXPECT_EQ(connection->readInput(buffer, sizeof buffer), 4);
    EXPECT_EQ(sim->callsMade(path), 7u) << "a report read";
    EXPECT_EQ(sim->callsMade("no such path"), std::nullopt);
}

// Set to vanish after the third call: the locator's answer to the write is already queued
// when the device goes, so it is still read; then the connection sees the hang-up, the source
// lists the device no more, and the windows are told, once.
TEST_F(SimLocatorTest, DeviceVanishesRightAfterTheChosenCallAsUnplugging) {
    std::vector<TMessage> received;
    const HWND window = AllocateHWnd([&](TMessage& message) { received.push_back(message); });
    ASSERT_TRUE(sim->setUnplugAfterCalls(path, 3));
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    EXPECT_TRUE(sim->find(path)) << "two calls: still attached";
    ASSERT_GT(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength), 0);
    EXPECT_FALSE(sim->find(path));
    EXPECT_TRUE(sim->enumerate().empty());
    EXPECT_EQ(sim->callsMade(path), std::nullopt);

    EXPECT_EQ(readReport(*connection)[1], 0x52);
    EXPECT_EQ(readReport(*connection)[1], 0x52);
    EXPECT_TRUE(waitForEvents(connection->inputFd()) & POLLHUP);
    std::uint8_t buffer[80];
    EXPECT_EQ(connection->readInput(buffer, sizeof buffer), -ENODEV);
    EXPECT_EQ(connection->writeOutput(locatorCommand(0x52).data(), SimLocatorReportLength),
              -ENODEV);
    EXPECT_FALSE(sim->unplug(path)) << "gone already";
    int error = 0;
    EXPECT_EQ(sim->open(path, &error), nullptr);
    EXPECT_EQ(error, ENOENT);

    platform::DeliverPostedMessages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Msg, WM_DEVICECHANGE);
    EXPECT_EQ(received[0].WParam, DBT_DEVNODES_CHANGED);
    DeallocateHWnd(window);
}

TEST_F(SimSourceTest, DeviceSetToVanishAtItsFirstCallHangsUpTheOpenThatMadeIt) {
    const std::string path = sim->plug(makeSimLocator());
    ASSERT_TRUE(sim->setUnplugAfterCalls(path, 1));
    int error = 0;
    auto connection = sim->open(path, &error);
    ASSERT_NE(connection, nullptr) << "the open itself succeeded";
    EXPECT_TRUE(waitForEvents(connection->inputFd()) & POLLHUP);
    EXPECT_FALSE(sim->find(path));

    const std::string again = sim->plug(makeSimLocator());
    auto fresh = sim->open(again, &error);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(sim->callsMade(again), 1u) << "a new plug counts afresh and never vanishes";
    EXPECT_EQ(waitForEvents(fresh->inputFd(), std::chrono::milliseconds(0)), 0);
    EXPECT_FALSE(sim->setUnplugAfterCalls(path, 5));
}

TEST(BuiltInSimulation, OffersOneLocatorKeyboardAndMouse) {
    auto source = makeBuiltInSimulation();
    const auto devices = source->enumerate();
    ASSERT_EQ(devices.size(), 3u);
    int locators = 0;
    for (const auto& device : devices) {
        locators +=
            device.vendorId == SimLocatorVendorId && device.productId == SimLocatorProductId;
    }
    EXPECT_EQ(locators, 1);
}

} // namespace
} // namespace platform
