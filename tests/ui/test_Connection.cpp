// Connecting from the window on simulated devices: the device menu, the connection timer, the
// unplug handling, and the terminal's report blocks and file.

#include "SimWindowTestSupport.h"
#include "ui/QtDialogs.h"

#include <QElapsedTimer>
#include <QKeySequence>
#include <QMessageBox>
#include <QSet>

namespace {

class ConnectionTest : public SimWindowTest {
protected:
    std::vector<QWidget*> alwaysEnabledInNormalMode() const {
        std::vector<QWidget*> controls = locatorControls();
        std::erase_if(controls, [this](QWidget* control) {
            const auto lists = factoryOnlyLists();
            return std::find(lists.begin(), lists.end(), control) != lists.end();
        });
        return controls;
    }
    void expectLocatorControls(bool enabled, const std::vector<QWidget*>& controls) {
        for (QWidget* control : controls)
            EXPECT_EQ(control->isEnabled(), enabled) << control->objectName().toStdString();
    }
    // The status text at every tick of the connection timer, taken after the window's handler.
    void recordTicks() {
        QObject::connect(form->ConnectTimer, &QTimer::timeout, form.get(),
                         [this] { tickTexts << form->StatusText(0); });
    }
    QStringList tickTexts;
};

TEST_F(ConnectionTest, NormalModeWithoutALocatorSaysSoAndOpensNoMenu) {
    sim->plug(platform::makeSimKeyboard());
    sim->plug(platform::makeSimMouse());
    openOnSim(false, 2);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"No Locator Device Found."}));
    EXPECT_TRUE(form->PopupMenu1->actions().isEmpty());
    EXPECT_FALSE(form->PopupMenu1->isVisible());
    EXPECT_TRUE(form->HIDSettingsList->empty());
}

TEST_F(ConnectionTest, FactoryModeListsEveryDeviceAndSaysNoDeviceWhenThereIsNone) {
    openOnSim(true, 0);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"No Device Found."}));

    sim->plug(platform::makeSimKeyboard());
    sim->plug(platform::makeSimLocator());
    waitForDeviceCount(2);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    EXPECT_EQ(menuEntries(), (QStringList{"USB Keyboard", "Locator"}));
    EXPECT_TRUE(form->PopupMenu1->isVisible());
    ASSERT_EQ(form->HIDSettingsList->size(), 2u);
    EXPECT_EQ(form->HIDSettingsList->at(0).Settings->VID, 0x046D);
    EXPECT_EQ(form->HIDSettingsList->at(1).Settings->PID, 0x5A21);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(ConnectionTest, NamelessLocatorsAreNumberedAfreshAtEveryConnect) {
    sim->plug(namedLocator(u""));
    sim->plug(platform::makeSimMouse());
    sim->plug(namedLocator(u" \t\r\n"));
    sim->plug(namedLocator(u" Field unit "));
    openOnSim(false, 4);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    const QStringList expected{"Unknown 1", "Unknown 2", " Field unit "};
    EXPECT_EQ(menuEntries(), expected);
    form->PopupMenu1->hide();
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    EXPECT_EQ(menuEntries(), expected) << "the old entries are gone and numbering restarts";
    ASSERT_EQ(form->HIDSettingsList->size(), 3u);
    EXPECT_EQ(form->HIDSettingsList->at(1).Text, "Unknown 2");
}

TEST_F(ConnectionTest, TheEntryChosenAmongLocatorsOfOneNameIsTheOneConnected) {
    useScenario("two-locators-one-name.txt");
    openOnSim(false, 2);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    EXPECT_EQ(menuEntries(), (QStringList{"Locator [CUST-0001]", "Locator [CUST-0002]"}));
    const QKeySequence secondKey = QKeySequence::mnemonic(form->PopupMenu1->actions()[1]->text());
    ASSERT_FALSE(secondKey.isEmpty());
    QTest::keyClick(form->PopupMenu1, secondKey[0].key());
    ASSERT_TRUE(waitForStatus("Locator [CUST-0002] - Status: Device Connected"))
        << form->StatusText(0).toStdString();
    EXPECT_EQ(form->HIDDevice->SerialNumber(), u"CUST-0002");

    choose(0);
    ASSERT_TRUE(waitForStatus("Locator [CUST-0001] - Status: Device Connected"));
    EXPECT_EQ(form->HIDDevice->SerialNumber(), u"CUST-0001");
}

// Device names are the device's own text: an "&" is shown and chosen like any other character,
// markup is shown as written, and equal names without their own serial numbers are numbered.
TEST_F(ConnectionTest, NamesWithAmpersandsOrMarkupShowAndConnectAsTheyAre) {
    const std::u16string markup =
        u"<b>Bold</b> <img src=\"logo.png\"> <a href=\"http://example.com\">site</a>";
    sim->plug(namedLocator(u"Tom & Jerry"));
    sim->plug(namedLocator(markup));
    sim->plug(platform::makeSimLocator());
    const std::string fourth = sim->plug(platform::makeSimLocator());
    openOnSim(false, 4);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    const QString markupName = QString::fromStdU16String(markup);
    EXPECT_EQ(menuEntries(),
              (QStringList{"Tom & Jerry", markupName, "Locator [1]", "Locator [2]"}));
    QSet<int> keys;
    for (const QAction* entry : form->PopupMenu1->actions())
        keys.insert(QKeySequence::mnemonic(entry->text())[0].toCombined());
    EXPECT_EQ(keys.size(), 4) << "each entry has its own accelerator key";
    EXPECT_FALSE(keys.contains(0));

    form->PopupMenu1->actions()[0]->trigger();
    form->PopupMenu1->hide();
    ASSERT_TRUE(waitForStatus("Tom & Jerry - Status: Device Connected"));

    choose(3);
    ASSERT_TRUE(waitForStatus("Locator [2] - Status: Device Connected"));
    EXPECT_EQ(QString::fromStdU16String(form->HIDDevice->PnPInfo()->DevicePath()),
              QString::fromStdString(fourth));

    choose(1);
    ASSERT_TRUE(waitForStatus(markupName + " - Status: Device Connected"));
    EXPECT_EQ(form->sbMainPanels[0]->textFormat(), Qt::PlainText);

    // The message boxes the user sees show such text as it is too.
    TQtDialogs boxes;
    boxes.setOwner(form.get());
    Qt::TextFormat shownAs = Qt::RichText;
    QString shownText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownAs = box->textFormat();
        shownText = box->text();
        box->accept();
    });
    boxes.ShowMessage(markupName.toStdString());
    EXPECT_EQ(shownAs, Qt::PlainText);
    EXPECT_EQ(shownText, markupName);
}

TEST_F(ConnectionTest, ALocatorConnectsOnTheFirstTickInNormalMode) {
    sim->plug(platform::makeSimLocator());
    openOnSim(false, 1);
    EXPECT_EQ(form->ConnectTimer->interval(), 500);
    choose(0);
    EXPECT_TRUE(form->ConnectTimer->isActive());
    EXPECT_EQ(form->StatusText(0), "") << "choosing alone changes no text";
    ASSERT_TRUE(waitForStatus("Locator - Status: Device Connected"));
    EXPECT_EQ(form->ConnectionTimerCount, 1);
    EXPECT_FALSE(form->ConnectTimer->isActive());
    ASSERT_NE(form->HIDDevice, nullptr);
    EXPECT_TRUE(form->HIDDevice->IsCheckedOut());
    EXPECT_TRUE(form->btnSend->isEnabled());
    expectLocatorControls(true, alwaysEnabledInNormalMode());
    expectLocatorControls(false, factoryOnlyLists());
}

TEST_F(ConnectionTest, FactoryModeEnablesAllLocatorControlsAndShowsReportBlocks) {
    const std::string path = sim->plug(platform::makeSimLocator());
    openOnSim(true, 1);
    connectFirst();
    expectLocatorControls(true, locatorControls());
    ASSERT_TRUE(waitForTerminalLines(9)) << "the answer to the configuration request";

    platform::Report counting(65);
    for (int k = 0; k < 64; ++k)
        counting[k + 1] = static_cast<std::uint8_t>(k);
    ASSERT_TRUE(sim->injectInput(path, counting));
    ASSERT_TRUE(sim->injectInput(path, platform::Report(65, 0xFF)));
    ASSERT_TRUE(waitForTerminalLines(27));
    const QStringList lines = terminalLines();
    EXPECT_EQ(lines.mid(9, 9),
              (QStringList{"> 00 01 02 03 04 05 06 07", "> 08 09 0A 0B 0C 0D 0E 0F",
                           "> 10 11 12 13 14 15 16 17", "> 18 19 1A 1B 1C 1D 1E 1F",
                           "> 20 21 22 23 24 25 26 27", "> 28 29 2A 2B 2C 2D 2E 2F",
                           "> 30 31 32 33 34 35 36 37", "> 38 39 3A 3B 3C 3D 3E 3F", ""}));
    for (int k = 18; k < 26; ++k)
        EXPECT_EQ(lines[k], "> FF FF FF FF FF FF FF FF");
    EXPECT_EQ(lines[26], "");
}

TEST_F(ConnectionTest, NothingAttachedAfterTheChoiceGivesUpAfterTenAttempts) {
    const std::string path = sim->plug(platform::makeSimLocator());
    openOnSim(false, 1);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    sim->unplug(path);
    waitForDeviceCount(0);
    recordTicks();
    QElapsedTimer sinceChoice;
    sinceChoice.start();
    form->PopupMenu1->actions()[0]->trigger();
    ASSERT_TRUE(waitForStatus("Unable to connect to Locator device.", 10000));
    const qint64 elapsed = sinceChoice.elapsed();
    EXPECT_GE(elapsed, 5400) << "eleven ticks of 500 ms";
    EXPECT_FALSE(form->ConnectTimer->isActive());
    EXPECT_EQ(form->ConnectionTimerCount, 0);
    QStringList expected(10, "Waiting for Locator device to connect");
    expected << "Unable to connect to Locator device.";
    EXPECT_EQ(tickTexts, expected);
    expectLocatorControls(false, locatorControls());
    EXPECT_FALSE(form->btnSend->isEnabled());
}

TEST_F(ConnectionTest, ALocatorPluggedBackDuringTheAttemptsConnects) {
    std::string path = sim->plug(platform::makeSimLocator());
    openOnSim(false, 1);
    QTest::mouseClick(form->btnConnect, Qt::LeftButton);
    sim->unplug(path);
    waitForDeviceCount(0);
    form->PopupMenu1->actions()[0]->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->ConnectionTimerCount >= 2; }, kDeadlineMs));
    EXPECT_EQ(form->StatusText(0), "Waiting for Locator device to connect");
    path = sim->plug(platform::makeSimLocator());
    ASSERT_TRUE(waitForStatus("Locator - Status: Device Connected"));
    EXPECT_LE(form->ConnectionTimerCount, 10);
    EXPECT_TRUE(form->btnSend->isEnabled());
}

TEST_F(ConnectionTest, UnplugOfTheConnectedLocatorDropsTheConnection) {
    const std::string path = sim->plug(platform::makeSimLocator());
    openOnSim(true, 1);
    connectFirst();
    sim->unplug(path);
    ASSERT_TRUE(waitForStatus("Locator - Status: Device Removed"));
    EXPECT_EQ(form->HIDDevice, nullptr);
    EXPECT_FALSE(form->btnSend->isEnabled());
    expectLocatorControls(false, locatorControls());
    EXPECT_TRUE(form->HidControl->Devices().empty());
}

TEST_F(ConnectionTest, UnplugOfAnotherDeviceLeavesTheConnectionAlone) {
    sim->plug(platform::makeSimLocator());
    const std::string mouse = sim->plug(platform::makeSimMouse());
    openOnSim(false, 2);
    sim->unplug(mouse);
    waitForDeviceCount(1);
    EXPECT_EQ(form->StatusText(0), "") << "nothing was connected, nothing was removed";

    connectFirst();
    const std::string keyboard = sim->plug(platform::makeSimKeyboard());
    waitForDeviceCount(2);
    sim->unplug(keyboard);
    waitForDeviceCount(1);
    EXPECT_EQ(form->StatusText(0), "Locator - Status: Device Connected");
    EXPECT_NE(form->HIDDevice, nullptr);
    EXPECT_TRUE(form->btnSend->isEnabled());
    expectLocatorControls(true, alwaysEnabledInNormalMode());
}

TEST_F(ConnectionTest, FactoryModeConnectsToAnotherDeviceForSendingOnly) {
    const std::string keyboard = sim->plug(platform::makeSimKeyboard());
    OutputRecorder sent;
    sent.attach(*sim, keyboard);
    openOnSim(true, 1);
    connectFirst("USB Keyboard");
    EXPECT_TRUE(form->btnSend->isEnabled());
    expectLocatorControls(false, locatorControls());
    EXPECT_FALSE(form->HIDDevice->OnData().Assigned()) << "no handler, no reader";
    EXPECT_EQ(sent.count(), 0u) << "no configuration request";
}

TEST_F(ConnectionTest, ChoosingTheConnectedLocatorAgainReconnectsAndAsksAgain) {
    const std::string path = sim->plug(platform::makeSimLocator());
    OutputRecorder sent;
    sent.attach(*sim, path);
    openOnSim(false, 1);
    connectFirst();
    ASSERT_TRUE(sent.waitForCount(1));
    choose(0);
    EXPECT_EQ(form->HIDDevice, nullptr) << "the held device is released at the choice";
    ASSERT_TRUE(waitForStatus("Locator - Status: Device Connected"));
    ASSERT_TRUE(sent.waitForCount(2));
    for (const platform::Report& report : sent.reports())
        EXPECT_EQ(report[1], 0x52);
}

TEST_F(ConnectionTest, SavingWritesTheTerminalWithCrLfInLatin1) {
    sim->plug(platform::makeSimLocator());
    openOnSim(true, 1);
    dialogs.saveFileName = dir.filePath("empty.txt").toStdString();
    QTest::mouseClick(form->btnSave, Qt::LeftButton);
    EXPECT_EQ(dialogs.saveStartDirs, (std::vector<std::string>{form->WorkingDir().toStdString()}));
    EXPECT_EQ(QFileInfo(dir.filePath("empty.txt")).size(), 0);

    connectFirst();
    ASSERT_TRUE(waitForTerminalLines(9));
    dialogs.saveFileName = dir.filePath("one report").toStdString();
    QTest::mouseClick(form->btnSave, Qt::LeftButton);
    QFile saved(dir.filePath("one report"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(bytes.size(), 218);
    EXPECT_TRUE(bytes.startsWith("> 52 90 90 00 01 02 3C 00\r\n"));
    EXPECT_TRUE(bytes.endsWith("FF\r\n\r\n"));

    form->Memo1->appendPlainText(QString::fromUtf8("caf\u00e9 \u20ac"));
    QTest::mouseClick(form->btnSave, Qt::LeftButton);
    saved.seek(0);
    EXPECT_TRUE(saved.readAll().endsWith("caf\xe9 ?\r\n"));
}

TEST_F(ConnectionTest, SaveCancelledOrFailingLeavesFilesAndTerminalAlone) {
    openOnSim(true, 0);
    form->Memo1->setPlainText("> 01");
    QTest::mouseClick(form->btnSave, Qt::LeftButton);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tarvex.ini"})
        << "cancel writes nothing";

    const std::string unwritable = dir.filePath("no such folder/log.txt").toStdString();
    dialogs.saveFileName = unwritable;
    QTest::mouseClick(form->btnSave, Qt::LeftButton);
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0],
              "Cannot create file \"" + unwritable + "\". No such file or directory");
    EXPECT_EQ(form->Memo1->toPlainText(), "> 01");
}

TEST_F(ConnectionTest, ClearEmptiesTheTerminalAndAShortReportShowsItsMissingBytes) {
    openOnSim(true, 0);
    QTest::mouseClick(form->btnClear, Qt::LeftButton);
    EXPECT_TRUE(terminalLines().isEmpty());
    const BYTE shortReport[3] = {0x52, 0x01, 0x0A};
    form->DeviceRead(nullptr, 0, shortReport, 3);
    const QStringList lines = terminalLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], "> 52 01 0A -- -- -- -- --");
    EXPECT_EQ(lines[7], "> -- -- -- -- -- -- -- --");
    QTest::mouseClick(form->btnClear, Qt::LeftButton);
    EXPECT_TRUE(terminalLines().isEmpty());
}

} // namespace
