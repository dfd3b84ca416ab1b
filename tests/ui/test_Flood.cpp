// A device that sends while the window is busy: reports wait in the reader's queue of 64, and
// what does not fit is dropped oldest first and counted, never silently.

#include "SimWindowTestSupport.h"
#include "locator/DeviceCommand.h"
#include "platform/uithread/Thread.h"

#include <QElapsedTimer>
#include <QLineEdit>

#include <numeric>
#include <thread>

namespace {

class FloodTest : public SimWindowTest {
protected:
    std::string locator;

    // A connected locator whose reports go to the terminal's own handler.
    void connectToTerminal() {
        locator = sim->plug(platform::makeSimLocator());
        openOnSim(true, 1);
        connectFirst();
        ASSERT_TRUE(waitForTerminalLines(9));
        form->Edit[0]->setText("00"); // a command the locator does not answer
        QTest::mouseClick(form->btnSend, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([] { return CommandsInFlight() == 0; }, kDeadlineMs));
        ASSERT_TRUE(form->HIDDevice->OnData() == THidDataEvent(form.get(), &TFormMain::DeviceRead));
        form->btnClear->click();
    }
    // Sends `count` numbered reports while this (the UI) thread does not pump, then waits
    // without pumping until the reader holds the first and the rest are queued or dropped.
    void sendWhileBusy(int count, std::uint64_t expectedDropped) {
        for (int n = 0; n < count; ++n) {
            platform::Report report(65, 0xEE);
            report[0] = 0;
            report[1] = static_cast<std::uint8_t>(n >> 8);
            report[2] = static_cast<std::uint8_t>(n);
            ASSERT_TRUE(sim->injectInput(locator, report));
        }
        QElapsedTimer waited;
        waited.start();
        while (!(platform::HasQueuedSynchronize() &&
                 form->HIDDevice->DroppedInputReports() >= expectedDropped) &&
               waited.elapsed() < kDeadlineMs)
            std::this_thread::yield();
        EXPECT_TRUE(platform::HasQueuedSynchronize()) << "the reader waits for the busy window";
        EXPECT_EQ(form->HIDDevice->DroppedInputReports(), expectedDropped);
    }
    // The numbers of the reports shown, in the order shown: the first two bytes of each block.
    std::vector<int> shownNumbers() const {
        std::vector<int> numbers;
        const QStringList lines = terminalLines();
        for (int first = 0; first < lines.size(); first += 9)
            numbers.push_back(lines[first].mid(2, 2).toInt(nullptr, 16) * 256 +
                              lines[first].mid(5, 2).toInt(nullptr, 16));
        return numbers;
    }
};

TEST_F(FloodTest, AStallShorterThanTheQueueLosesNothing) {
    connectToTerminal();
    sendWhileBusy(60, 0);
    ASSERT_TRUE(waitForTerminalLines(60 * 9));
    std::vector<int> expected(60);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(shownNumbers(), expected);
    EXPECT_EQ(form->HIDDevice->DroppedInputReports(), 0u);
}

TEST_F(FloodTest, ALongerStallDropsTheOldestAndCountsThem) {
    connectToTerminal();
    // The reader holds report 0 while it waits; the queue keeps the newest 64 of the rest.
    sendWhileBusy(200, 200 - 1 - 64);
    ASSERT_TRUE(waitForTerminalLines(65 * 9));
    std::vector<int> expected{0};
    for (int n = 200 - 64; n < 200; ++n)
        expected.push_back(n);
    EXPECT_EQ(shownNumbers(), expected);
    EXPECT_EQ(form->HIDDevice->DroppedInputReports(), 135u);
}

} // namespace
