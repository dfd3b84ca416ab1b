// The terminal under reports: a device that sends while the window is busy (the reader keeps
// reading and hands every report over, far more than the platform's queue of 64 holds, and the
// window shows them all in order once it is free again), the bound on the terminal's lines, and
// capturing every report to a file.

#include "SimWindowTestSupport.h"
#include "locator/DeviceCommand.h"
#include "platform/sources/SimRecording.h"
#include "platform/uithread/Thread.h"

#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>

#include <QElapsedTimer>
#include <QLineEdit>

#include <numeric>
#include <thread>

namespace {

class FloodTest : public SimWindowTest {
protected:
    std::string locator;

    // A connected locator whose reports go to the terminal's own handler; the settings file
    // may bound the terminal.
    void connectToTerminal(const QByteArray& terminalSettings = {}) {
        locator = sim->plug(platform::makeSimLocator());
        openAs("tarvex", "tarvex.ini", "[MODE]\nFactory=1\n" + terminalSettings);
        waitForDeviceCount(1);
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
    void send(int n) {
        platform::Report report(65, 0xEE);
        report[0] = 0;
        report[1] = static_cast<std::uint8_t>(n >> 8);
        report[2] = static_cast<std::uint8_t>(n);
        ASSERT_TRUE(sim->injectInput(locator, report));
    }
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
            send(n);
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

// The terminal keeps the newest lines the settings file allows and says how many went; what
// it keeps is what "Save To File" writes, and "Clear" starts the count over. Past the bound of
// 200 lines the oldest go down to 198 at once: report 22 brings 207 lines and takes report 0's 9.
TEST_F(FloodTest, TheTerminalKeepsItsBoundAndCountsWhatLeft) {
    connectToTerminal("[TERMINAL]\nMaxLines=200\n");
    for (int n = 0; n < 25; ++n)
        send(n);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TrimmedTerminalLines() == 27; }, kDeadlineMs))
        << form->TrimmedTerminalLines();
    std::vector<int> kept(22);
    std::iota(kept.begin(), kept.end(), 3);
    EXPECT_EQ(shownNumbers(), kept);
    EXPECT_EQ(form->Memo1->document()->blockCount(), 198);
    EXPECT_EQ(form->lblTrimmed->text(), "27 older lines left the view");
    // A user reading further up keeps the lines in view while the oldest go.
    QScrollBar* scrollBar = form->Memo1->verticalScrollBar();
    scrollBar->setValue(45);
    const auto topLine = [&] { return form->Memo1->cursorForPosition({2, 2}).block().text(); };
    ASSERT_TRUE(topLine().startsWith("> 00 08")) << topLine().toStdString();
    send(25);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TrimmedTerminalLines() == 36; }, kDeadlineMs));
    EXPECT_EQ(scrollBar->value(), 36);
    EXPECT_TRUE(topLine().startsWith("> 00 08")) << topLine().toStdString();
    dialogs.saveFileName = dir.filePath("kept.txt").toStdString();
    form->btnSave->click();
    EXPECT_EQ(QFileInfo(dir.filePath("kept.txt")).size(), 22 * 218);
    form->btnClear->click();
    EXPECT_EQ(form->TrimmedTerminalLines(), 0);
    EXPECT_EQ(form->lblTrimmed->text(), "");
}

// Every report goes to the capture file as well as to the terminal. A file that stops taking
// writes ends the capture with a message, and the rest of the window carries on as it was.
TEST_F(FloodTest, CaptureStreamsEveryReportAndAFailedWriteStopsIt) {
    connectToTerminal();
    const QString file = dir.filePath("capture.txt");
    dialogs.saveFileName = file.toStdString();
    form->btnCapture->click();
    ASSERT_TRUE(form->Capturing());
    EXPECT_EQ(form->btnCapture->text(), "Stop Capture");
    for (int n = 0; n < 3; ++n)
        send(n);
    ASSERT_TRUE(waitForTerminalLines(3 * 9));
    form->btnCapture->click();
    EXPECT_FALSE(form->Capturing());
    EXPECT_EQ(form->btnCapture->text(), "Start Capture...");
    QFile captured(file);
    ASSERT_TRUE(captured.open(QIODevice::ReadOnly));
    platform::ScenarioError error;
    const auto recording = platform::parseRecording(captured.readAll().toStdString(), error);
    ASSERT_TRUE(recording) << error.message();
    ASSERT_EQ(recording->reports.size(), 3u);
    EXPECT_EQ(recording->reportBytes(recording->reports[2]).at(1), 2);

    const QStringList linesBefore = terminalLines();
    dialogs.saveFileName = "/dev/full";
    form->btnCapture->click();
    send(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Capturing(); }, kDeadlineMs));
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0], "Cannot write file \"/dev/full\". No space left on device. The "
                                 "capture has stopped.");
    EXPECT_EQ(form->btnCapture->text(), "Start Capture...");
    ASSERT_TRUE(waitForTerminalLines(4 * 9));
    EXPECT_EQ(terminalLines().mid(0, linesBefore.size()), linesBefore);
    EXPECT_EQ(form->StatusText(0), "Locator - Status: Device Connected");
}

} // namespace
