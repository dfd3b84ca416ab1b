// The locator's commands from the window on the simulated locator: the exact reports it
// receives, and what the window, the terminal and the message boxes show of the answers.

#include "SimWindowTestSupport.h"
#include "locator/DeviceCommand.h"
#include "platform/uithread/EventLoop.h"
#include "platform/uithread/Thread.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QToolButton>

#include <array>

namespace {

using Config = std::array<std::uint8_t, 16>;
constexpr Config kFactory = platform::SimLocatorFactoryConfiguration;

// A locator report: ID 0, the command byte, the sixteen configuration bytes, 0xFF after them.
platform::Report locatorReport(std::uint8_t command, const Config& config) {
    platform::Report report(65, 0xFF);
    report[0] = 0;
    report[1] = command;
    std::copy(config.begin(), config.end(), report.begin() + 2);
    return report;
}
Config withByte(Config config, int dataIndex, std::uint8_t value) {
    config[dataIndex - 1] = value;
    return config;
}

class CommandTest : public SimWindowTest {
protected:
    std::string locator;
    OutputRecorder sent;

    // A connected locator whose configuration has been read into the window.
    void connectLocator(bool factory = true) {
        locator = sim->plug(platform::makeSimLocator());
        sent.attach(*sim, locator);
        openOnSim(factory, 1);
        connectFirst();
        ASSERT_TRUE(sent.waitForCount(1));
        ASSERT_TRUE(waitForTerminalLines(9));
        ASSERT_TRUE(waitUntilQuiet());
    }
    // Until every command has been sent or dropped.
    bool waitUntilQuiet() {
        return QTest::qWaitFor([] { return CommandsInFlight() == 0; }, kDeadlineMs);
    }
    // The device stops answering by itself; the test answers with inject().
    void answerByHand() { sim->setDropAnswers(locator, true); }
    void inject(const platform::Report& report) { ASSERT_TRUE(sim->injectInput(locator, report)); }
    bool waitForMessages(std::size_t count) {
        return QTest::qWaitFor([&] { return dialogs.messages.size() >= count; }, kDeadlineMs);
    }
    QStringList windowValues() const {
        return {form->cbxOEM1->currentText(),
                form->cbxOEM2->currentText(),
                form->edtLocationID->text(),
                form->cbxCustMsgCounts->currentText(),
                form->cbxCustMsgPeriod->currentText(),
                form->cbxLocationStatus->currentText(),
                form->cbxLocationStatusPolling->currentText(),
                form->cbxLocationStatusMsgCounts->currentText(),
                form->cbxEnableCustMsgAntenna->currentText(),
                form->cbxCustMsgPower->currentText(),
                form->cbxTransmitLowBatFFM->currentText(),
                form->cbxFrequency->currentText(),
                form->cbxLowBatFreeMsg->currentText(),
                form->edtExt1->text(),
                form->edtExt2->text()};
    }
    // The terminal lines after the first `skip`, without the report blocks' "> " lines.
    QStringList linesAfterBlocks(int skip) const {
        QStringList lines = terminalLines().mid(skip);
        lines.removeIf([](const QString& line) { return line.startsWith("> "); });
        return lines;
    }
    // Clicks "Set" with the device answering by hand, then answers with `config`.
    void setAndAnswer(const Config& config) {
        answerByHand();
        const std::size_t before = sent.count();
        QTest::mouseClick(form->btnSet, Qt::LeftButton);
        ASSERT_TRUE(sent.waitForCount(before + 1));
        inject(locatorReport(0x57, config));
    }
};

const QStringList kFactoryWindow{"90",  "90", "1",   "2",        "60", "OFF", "60", "4",
                                 "OFF", "3F", "OFF", "915 FHSS", "24", "00",  "00"};

TEST_F(CommandTest, ConnectingReadsTheConfigurationIntoTheWindow) {
    connectLocator();
    const auto reports = sent.reports();
    ASSERT_EQ(reports.size(), 1u);
    platform::Report request(65, 0xFF);
    request[0] = 0;
    request[1] = 0x52;
    EXPECT_EQ(reports[0], request);
    EXPECT_EQ(windowValues(), kFactoryWindow);
    EXPECT_EQ(terminalLines().size(), 9);
    EXPECT_EQ(terminalLines()[0], "> 52 90 90 00 01 02 3C 00");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommandTest, LaterReportsOverwriteTheWindowAndOutOfRangeValuesLeaveListsEmpty) {
    connectLocator();
    Config odd = withByte(kFactory, 1, 0x00); // OEM1 below its list
    odd = withByte(odd, 13, 0x0A);            // frequency 10: no such mode
    odd = withByte(odd, 3, 0x12);             // Location ID 0x1234 = 4660
    odd = withByte(odd, 4, 0x34);
    odd = withByte(odd, 7, 0x05);  // Location Status 5: ON
    odd = withByte(odd, 15, 0xAB); // Ext1
    inject(locatorReport(0x00, odd));
    ASSERT_TRUE(waitForTerminalLines(18));
    EXPECT_EQ(form->cbxOEM1->currentIndex(), -1);
    EXPECT_EQ(form->cbxOEM1->currentText(), "");
    EXPECT_EQ(form->cbxFrequency->currentIndex(), -1);
    EXPECT_EQ(form->edtLocationID->text(), "4660");
    EXPECT_EQ(form->cbxLocationStatus->currentText(), "ON");
    EXPECT_EQ(form->edtExt1->text(), "AB");
    EXPECT_TRUE(dialogs.messages.empty()) << "the range check waits for the user to leave";

    inject(locatorReport(0x00, withByte(withByte(kFactory, 13, 0x09), 3, 0x0F)));
    ASSERT_TRUE(waitForTerminalLines(27));
    EXPECT_EQ(form->cbxFrequency->currentText(), "FHSS (INDO)");
    EXPECT_EQ(form->edtLocationID->text(), "3841");
}

TEST_F(CommandTest, SetWithAnUnchangedWindowWritesItAndConfirms) {
    connectLocator();
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Configuration has been set."}));
    ASSERT_EQ(sent.count(), 2u);
    EXPECT_EQ(sent.reports()[1], locatorReport(0x57, kFactory));
    ASSERT_TRUE(waitForTerminalLines(18));
    EXPECT_EQ(linesAfterBlocks(9), (QStringList{""})) << "no compare line";
}

TEST_F(CommandTest, SetWritesWhatTheWindowHolds) {
    connectLocator();
    form->cbxOEM1->setCurrentIndex(0x21 - 1);
    form->edtLocationID->setText("4095");
    form->cbxLocationStatus->setCurrentIndex(0);
    form->cbxFrequency->setCurrentIndex(5);
    form->edtExt2->setText("7E");
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages[0], "Configuration has been set.") << "the locator stored it";
    Config expected = withByte(kFactory, 1, 0x21);
    expected = withByte(withByte(expected, 3, 0x0F), 4, 0xFF);
    expected = withByte(withByte(expected, 7, 0x01), 13, 0x05);
    expected = withByte(expected, 16, 0x7E);
    EXPECT_EQ(sent.reports()[1], locatorReport(0x57, expected));
}

TEST_F(CommandTest, MismatchedAnswersListTheirFieldsInOrder) {
    connectLocator();
    setAndAnswer(withByte(kFactory, 1, 0x91));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages[0], "Configuration might not have been set correctly!");
    ASSERT_TRUE(waitForTerminalLines(19));
    EXPECT_EQ(linesAfterBlocks(9), (QStringList{"OEM1 Compare Failed!", ""}));

    Config three = withByte(kFactory, 6, 0x3B);
    three = withByte(three, 13, 0x02);
    three = withByte(three, 15, 0x01);
    setAndAnswer(three);
    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(dialogs.messages[1], "Configuration might not have been set correctly!");
    ASSERT_TRUE(waitForTerminalLines(31));
    EXPECT_EQ(linesAfterBlocks(19),
              (QStringList{"Custom Message Burst Compare Failed!", "Frequency Compare Failed!",
                           "Ext1 Compare Failed!", ""}));
}

TEST_F(CommandTest, SwitchesMatchAnyNonZeroAndExtendedBytesMatchByValue) {
    connectLocator();
    form->cbxLocationStatus->setCurrentIndex(0); // ON
    form->edtExt1->setText("F");
    form->edtExt2->setText("0a");
    Config answer = withByte(kFactory, 7, 0x02);
    answer = withByte(withByte(answer, 15, 0x0F), 16, 0x0A);
    setAndAnswer(answer);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages[0], "Configuration has been set.");
    EXPECT_EQ(sent.reports().back()[16], 0x0F) << "\"F\" is sent as 0x0F";
    EXPECT_EQ(sent.reports().back()[17], 0x0A);
}

TEST_F(CommandTest, TheComparisonUsesTheWindowAsItIsWhenTheAnswerArrives) {
    connectLocator();
    setAndAnswer(kFactory);
    ASSERT_TRUE(waitForMessages(1));
    form->cbxCustMsgCounts->setCurrentIndex(4);
    inject(locatorReport(0x57, kFactory)); // a spontaneous report: compared again
    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(dialogs.messages[1], "Configuration might not have been set correctly!");
    EXPECT_TRUE(linesAfterBlocks(9).contains("Custom Message Counts Compare Failed!"));
}

TEST_F(CommandTest, TwoQuickSetsSendTwoCompleteReports) {
    connectLocator();
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    ASSERT_TRUE(waitForMessages(2));
    const auto reports = sent.reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1], locatorReport(0x57, kFactory));
    EXPECT_EQ(reports[2], locatorReport(0x57, kFactory));
    EXPECT_EQ(dialogs.messages[1], "Configuration has been set.");
}

TEST_F(CommandTest, SetWithAnUnconvertibleControlSendsNothingAndKeepsTheHandler) {
    connectLocator();
    form->edtExt1->clear();
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    ASSERT_TRUE(waitUntilQuiet());
    EXPECT_EQ(sent.count(), 1u);
    EXPECT_TRUE(form->HIDDevice->OnData() ==
                THidDataEvent(form.get(), &TFormMain::LocatorDeviceRead));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(CommandTest, CommandsWithoutADeviceDoNothing) {
    openOnSim(true, 0);
    dialogs.answer = TDialogs::Answer::Yes;
    form->btnSetClick();
    form->btnResetClick();
    form->btnSendClick();
    form->btnSendASCIIClick();
    EXPECT_EQ(CommandsInFlight(), 0) << "no worker was started";
    EXPECT_EQ(dialogs.questions.size(), 1u) << "the reset asks before looking for a device";
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommandTest, FactoryResetAnsweredNoSendsNothing) {
    connectLocator();
    dialogs.answer = TDialogs::Answer::No;
    QTest::mouseClick(form->btnReset, Qt::LeftButton);
    EXPECT_EQ(dialogs.questions,
              (std::vector<std::string>{
                  "Are you sure you want to Reset the Device to the Factory Defaults?"}));
    EXPECT_EQ(CommandsInFlight(), 0);
    EXPECT_EQ(sent.count(), 1u);
}

TEST_F(CommandTest, FactoryResetWritesTheDefaultsAndShowsAMatchingAnswer) {
    connectLocator();
    form->cbxOEM2->setCurrentIndex(0);
    form->edtLocationID->setText("77");
    form->edtExt1->setText("5");
    dialogs.answer = TDialogs::Answer::Yes;
    QTest::mouseClick(form->btnReset, Qt::LeftButton);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages[0], "Factory reset complete.");
    EXPECT_EQ(sent.reports()[1], locatorReport(0x57, kFactory));
    EXPECT_EQ(windowValues(), kFactoryWindow);
    ASSERT_TRUE(waitForTerminalLines(18));
    EXPECT_EQ(linesAfterBlocks(9), (QStringList{""}));
}

TEST_F(CommandTest, AFactoryResetAnswerThatDiffersLeavesTheWindow) {
    connectLocator();
    form->edtLocationID->setText("77");
    const QStringList before = windowValues();
    answerByHand();
    dialogs.answer = TDialogs::Answer::Yes;
    QTest::mouseClick(form->btnReset, Qt::LeftButton);
    ASSERT_TRUE(sent.waitForCount(2));
    inject(locatorReport(0x57, withByte(kFactory, 7, 0x01)));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(dialogs.messages[0], "Factory reset might not have been set correctly.");
    EXPECT_EQ(windowValues(), before);
    EXPECT_EQ(linesAfterBlocks(9), (QStringList{""})) << "no line names the field";

    inject(locatorReport(0x57, withByte(kFactory, 15, 0xFF)));
    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(dialogs.messages[1], "Factory reset might not have been set correctly.");
    inject(locatorReport(0x00, kFactory)); // Data[0] plays no part
    ASSERT_TRUE(waitForMessages(3));
    EXPECT_EQ(dialogs.messages[2], "Factory reset complete.");
    EXPECT_EQ(windowValues(), kFactoryWindow);
}

TEST_F(CommandTest, HexadecimalSendWritesTheEightBytes) {
    connectLocator();
    const char* texts[8] = {"52", "1", "0A", "FF", "00", "3C", "90", "1F"};
    for (int n = 0; n < 8; ++n)
        form->Edit[n]->setText(texts[n]);
    QTest::mouseClick(form->btnSend, Qt::LeftButton);
    ASSERT_TRUE(sent.waitForCount(2));
    platform::Report expected(65, 0xFF);
    expected[0] = 0;
    const std::uint8_t bytes[8] = {0x52, 0x01, 0x0A, 0xFF, 0x00, 0x3C, 0x90, 0x1F};
    std::copy(bytes, bytes + 8, expected.begin() + 1);
    EXPECT_EQ(sent.reports()[1], expected);
    EXPECT_TRUE(form->HIDDevice->OnData() == THidDataEvent(form.get(), &TFormMain::DeviceRead));
    ASSERT_TRUE(waitForTerminalLines(18)) << "the locator's answer shows as a plain block";
    EXPECT_EQ(terminalLines()[9], "> 52 90 90 00 01 02 3C 00");

    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(form->btnSend, Qt::LeftButton);
    ASSERT_TRUE(sent.waitForCount(3));
    platform::Report allOnes(65, 0xFF);
    allOnes[0] = 0;
    EXPECT_EQ(sent.reports()[2], allOnes);
}

TEST_F(CommandTest, HexadecimalSendWithAnEmptyBoxSendsNothing) {
    connectLocator();
    form->Edit[2]->clear();
    QTest::mouseClick(form->btnSend, Qt::LeftButton);
    ASSERT_TRUE(waitUntilQuiet());
    EXPECT_EQ(sent.count(), 1u);
    EXPECT_TRUE(form->HIDDevice->OnData() ==
                THidDataEvent(form.get(), &TFormMain::LocatorDeviceRead));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommandTest, AsciiSendPutsCharacterIIntoDataI) {
    connectLocator();
    answerByHand();
    const auto sendText = [&](const QString& text) {
        const std::size_t before = sent.count();
        form->edtAscii->setText(text);
        QTest::mouseClick(form->btnSendASCII, Qt::LeftButton);
        EXPECT_TRUE(sent.waitForCount(before + 1)) << text.toStdString();
        return sent.reports().back();
    };
    platform::Report expected(65, 0xFF);
    expected[0] = 0;
    EXPECT_EQ(sendText(""), expected);

    platform::Report ab = expected;
    ab[2] = 0x41;
    ab[3] = 0x42;
    EXPECT_EQ(sendText("AB"), ab);
    EXPECT_EQ(sendText(QString(QChar(0x00E9)))[2], 0xE9);
    EXPECT_EQ(sendText(QString(QChar(0x20AC)))[2], 0xAC);

    QString longest;
    for (int i = 0; i < 63; ++i)
        longest += QChar('!' + i);
    const platform::Report full = sendText(longest);
    EXPECT_EQ(full[1], 0xFF) << "Data[0] stays 0xFF";
    for (int i = 1; i <= 63; ++i)
        EXPECT_EQ(full[i + 1], '!' + i - 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommandTest, AsciiTextLongerThanAReportIsRefusedAndTheUserTold) {
    connectLocator();
    form->edtAscii->setText(QString(64, 'x'));
    QTest::mouseClick(form->btnSendASCII, Qt::LeftButton);
    ASSERT_TRUE(waitUntilQuiet());
    EXPECT_EQ(sent.count(), 1u);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].find("63"), std::string::npos) << dialogs.messages[0];
}

// The device leaves after the worker has asked for its synchronized procedure and before it
// runs: the unplug is delivered first, so the procedure finds no device.
TEST_F(CommandTest, UnplugBetweenWorkerAndSynchronizedProcedureDropsTheCommand) {
    connectLocator();
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    QElapsedTimer waited;
    waited.start();
    while (!platform::HasQueuedSynchronize() && waited.elapsed() < kDeadlineMs)
        std::this_thread::yield();
    ASSERT_TRUE(platform::HasQueuedSynchronize());
    sim->unplug(locator);
    platform::PumpMessages();
    ASSERT_TRUE(waitUntilQuiet());
    EXPECT_EQ(sent.count(), 1u);
    EXPECT_EQ(form->HIDDevice, nullptr);
    EXPECT_EQ(form->StatusText(0), "Locator - Status: Device Removed");
    EXPECT_TRUE(dialogs.messages.empty());
}

// Closing the window while a command waits for its turn lets the worker end: nothing is left
// blocked that could hold up the process's exit.
TEST_F(CommandTest, ClosingTheWindowWithACommandInFlightLetsItsWorkerEnd) {
    connectLocator();
    QTest::mouseClick(form->btnSet, Qt::LeftButton);
    form.reset();
    EXPECT_EQ(CommandsInFlight(), 0);
    EXPECT_EQ(sent.count(), 1u) << "the Set was dropped with its window";
}

} // namespace

namespace {

TEST_F(CommandTest, ASavedProfileLoadsBackIntoTheControlsAndNothingIsWrittenUntilSet) {
    connectLocator();
    form->edtLocationID->setText("77");
    form->cbxFrequency->setCurrentIndex(5);
    dialogs.saveFileName = dir.filePath("station.json").toStdString();
    form->SaveProfileClick();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
    const QStringList saved = windowValues();

    form->edtLocationID->setText("1");
    form->cbxFrequency->setCurrentIndex(0);
    dialogs.openFileName = dialogs.saveFileName;
    form->LoadProfileClick();
    EXPECT_EQ(windowValues(), saved);
    EXPECT_EQ(form->cbxFrequency->currentText(), "869 Single");

    // A refused profile changes nothing and says which field is at fault.
    QFile partial(dir.filePath("bad.json"));
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
    partial.write(R"({"format": "tarvex-profile", "version": 1,
                      "fields": {"Ext1": "0A", "LocationID": 9999}})");
    partial.close();
    dialogs.openFileName = partial.fileName().toStdString();
    form->LoadProfileClick();
    EXPECT_EQ(windowValues(), saved);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages.front().find("LocationID"), std::string::npos);

    QTest::qWait(100);
    EXPECT_EQ(sent.count(), 1u) << "only the read-back on connecting reached the device";
}

} // namespace
