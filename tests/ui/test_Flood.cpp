// A device that sends while the window is busy: the reader keeps reading and hands every report
// over, far more than the platform's queue of 64 holds, and the window shows them all in order
// once it is free again.

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
    // without pumping until the reader has handed them all over.
    void sendWhileBusy(int count) {
        const auto handedOver = [&](std::size_t reports) {
            QElapsedTimer waited;
            waited.start();
            while (form->HIDDevice->DataThread()->WaitingReports() < reports &&
                   waited.elapsed() < kDeadlineMs)
                std::this_thread::yield();
            return form->HIDDevice->DataThread()->WaitingReports() == reports;
        };
        for (int n = 0; n < count; ++n) {
            platform::Report report(65, 0xEE);
            report[0] = 0;
            report[1] = static_cast<std::uint8_t>(n >> 8);
            report[2] = static_cast<std::uint8_t>(n);
            ASSERT_TRUE(sim->injectInput(locator, report));
            if (n % 32 == 31) { // the socket that plays the device holds only so many
                ASSERT_TRUE(handedOver(n + 1u));
            }
        }
        ASSERT_TRUE(handedOver(count)) << "the reader keeps reading while the window is busy";
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

TEST_F(FloodTest, AStallLongerThanThePlatformQueueLosesNothing) {
    connectToTerminal();
    sendWhileBusy(300);
    ASSERT_TRUE(waitForTerminalLines(300 * 9));
    std::vector<int> expected(300);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(shownNumbers(), expected);
    EXPECT_EQ(form->HIDDevice->DroppedInputReports(), 0u);
}

} // namespace
