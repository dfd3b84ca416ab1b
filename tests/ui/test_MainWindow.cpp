#include "WindowTestSupport.h"
#include "platform/base/Exception.h"
#include "ui/MainU.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, StartsInNormalModeWithEverythingLocatorDisabled) {
    open(false);
    EXPECT_EQ(form->windowTitle(), "Tarvex v1.21");
    EXPECT_FALSE(form->FactoryMode());
    EXPECT_EQ(form->WorkingDir(), dir.path() + "/");
    for (QWidget* control : locatorControls())
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_FALSE(form->btnSend->isEnabled());
    for (QLineEdit* edit : form->Edit)
        EXPECT_EQ(edit->text(), "FF");
    EXPECT_FALSE(form->pcMain->isTabVisible(form->pcMain->indexOf(form->tsTwo)));
    EXPECT_EQ(form->pcMain->currentWidget(), form->tsOne);
    EXPECT_EQ(form->StatusText(1), "");
    EXPECT_EQ(stackedRows(),
              (std::vector<QString>{"Panel1", "Panel2", "Panel6", "Panel10", "Panel11", "Panel12",
                                    "Panel15", "pnlLowBatFreeForm", "Panel16", "Panel17"}));
}

TEST_F(MainWindowTest, FactoryModeShowsTerminalAndEveryRow) {
    open(true);
    EXPECT_TRUE(form->FactoryMode());
    EXPECT_EQ(form->StatusText(1), "Factory Mode");
    EXPECT_TRUE(form->pcMain->isTabVisible(form->pcMain->indexOf(form->tsTwo)));
    EXPECT_EQ(form->pcMain->currentWidget(), form->tsOne);
    for (QWidget* control : locatorControls())
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_EQ(stackedRows(),
              (std::vector<QString>{"Panel1", "Panel2", "Panel6", "Panel8", "Panel9", "Panel13",
                                    "Panel14", "Panel10", "Panel11", "Panel12", "Panel15",
                                    "pnlLowBatFreeForm", "Panel16", "pnl1x", "pnl2x", "Panel17"}));
}

// The settings file follows the executable's current name.
TEST_F(MainWindowTest, RenamedExecutableReadsItsOwnSettingsFile) {
    QFile other(dir.filePath("tarvex.ini"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[MODE]\nFactory=0\n");
    other.close();
    openAs("Probe.exe", "Probe.ini", "[mode]\nFACTORY=1\n");
    EXPECT_TRUE(form->FactoryMode());
    EXPECT_EQ(form->StatusText(1), "Factory Mode");
}

TEST_F(MainWindowTest, UnusableSettingsFilesGiveNormalMode) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("tarvex.ini")); // a folder in the file's place
    openAs("tarvex", "unused.ini", std::nullopt);
    EXPECT_FALSE(form->FactoryMode());
    EXPECT_FALSE(form->pcMain->isTabVisible(form->pcMain->indexOf(form->tsTwo)));

    form.reset();
    QByteArray binary("[MODE]\nFactory=1\n");
    binary.append('\0').append("\x01\xfe\xff", 3);
    openAs("probe", "probe.ini", binary);
    EXPECT_FALSE(form->FactoryMode());
}

TEST_F(MainWindowTest, EnablingLocatorControlsDependsOnTheMode) {
    for (bool factory : {false, true}) {
        open(factory);
        form->EnableDisableLocatorControls(true);
        const std::vector<QWidget*> factoryOnly = factoryOnlyLists();
        for (QWidget* control : locatorControls()) {
            const bool isFactoryOnly =
                std::find(factoryOnly.begin(), factoryOnly.end(), control) != factoryOnly.end();
            EXPECT_EQ(control->isEnabled(), factory || !isFactoryOnly)
                << control->objectName().toStdString() << (factory ? " factory" : " normal");
        }
        EXPECT_FALSE(form->btnSend->isEnabled()) << "the switch leaves btnSend alone";
        EXPECT_TRUE(form->Panel8->isVisible() == factory) << "the switch leaves rows alone";
        form->EnableDisableLocatorControls(false);
        for (QWidget* control : locatorControls())
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    }
}

// Tab walks the "Configure" page in its own order, which differs from the rows' order.
TEST_F(MainWindowTest, TabOrderDiffersFromVisualOrder) {
    open(true);
    form->EnableDisableLocatorControls(true);
    const std::vector<QWidget*> expected{form->cbxOEM1,
                                         form->cbxOEM2,
                                         form->edtLocationID,
                                         form->cbxCustMsgCounts,
                                         form->cbxCustMsgPeriod,
                                         form->cbxLocationStatus,
                                         form->cbxLocationStatusPolling,
                                         form->cbxLocationStatusMsgCounts,
                                         form->cbxEnableCustMsgAntenna,
                                         form->cbxCustMsgPower,
                                         form->cbxTransmitLowBatFFM,
                                         form->cbxFrequency,
                                         form->cbxLowBatFreeMsg,
                                         form->edtExt1,
                                         form->edtExt2,
                                         form->btnSet,
                                         form->btnReset};
    form->cbxOEM1->setFocus();
    std::vector<QWidget*> visited{QApplication::focusWidget()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(MainWindowTest, LocationIdTakesOnlyDigitsAndBackspace) {
    open(true);
    form->EnableDisableLocatorControls(true);
    form->edtLocationID->clear();
    typeInto(form->edtLocationID, "1a-2 3");
    QTest::keyClick(form->edtLocationID, Qt::Key_Return);
    EXPECT_EQ(form->edtLocationID->text(), "123");
    QTest::keyClick(form->edtLocationID, Qt::Key_Backspace);
    EXPECT_EQ(form->edtLocationID->text(), "12");
    QTest::keyClick(form->edtLocationID, Qt::Key_Z, Qt::ControlModifier); // undo is discarded
    EXPECT_EQ(form->edtLocationID->text(), "12");

    QApplication::clipboard()->setText("9x");
    QTest::keyClick(form->edtLocationID, Qt::Key_V, Qt::ControlModifier); // pasting is not filtered
    EXPECT_EQ(form->edtLocationID->text(), "129x");
}

TEST_F(MainWindowTest, HexEditsTakeUpperCaseHexDigitsOnly) {
    open(true);
    form->EnableDisableLocatorControls(true);
    for (QLineEdit* edit : {form->Edit[0], form->Edit[7], form->edtExt1, form->edtExt2}) {
        edit->clear();
        typeInto(edit, "a");
        EXPECT_EQ(edit->text(), "") << edit->objectName().toStdString();
        typeInto(edit, "gA-");
        EXPECT_EQ(edit->text(), "A") << edit->objectName().toStdString();
        typeInto(edit, "5F"); // the box holds two characters at most
        EXPECT_EQ(edit->text(), "A5") << edit->objectName().toStdString();
        QTest::keyClick(edit, Qt::Key_Backspace);
        EXPECT_EQ(edit->text(), "A") << edit->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, LeavingLocationIdChecksItsRange) {
    open(true);
    form->EnableDisableLocatorControls(true);
    const auto leaveWith = [&](const QString& text) {
        dialogs.messages.clear();
        dialogs.errors.clear();
        form->edtLocationID->setText(text);
        form->edtLocationID->setFocus();
        QTest::keyClick(form->edtLocationID, Qt::Key_Tab);
        QCoreApplication::processEvents();
    };
    for (const char* outOfRange : {"0", "4096"}) {
        leaveWith(outOfRange);
        ASSERT_EQ(dialogs.messages.size(), 1u) << outOfRange;
        EXPECT_EQ(dialogs.messages[0], "Location ID must be in the range of (1-4095)");
        EXPECT_EQ(QApplication::focusWidget(), form->edtLocationID) << outOfRange;
        EXPECT_EQ(form->edtLocationID->text(), outOfRange);
    }
    for (const char* inRange : {"1", "4095"}) {
        leaveWith(inRange);
        EXPECT_TRUE(dialogs.messages.empty()) << inRange;
        EXPECT_EQ(QApplication::focusWidget(), form->cbxCustMsgCounts) << inRange;
    }
    leaveWith("");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.errors.size(), 1u); // the default error box, and no focus back
    EXPECT_EQ(QApplication::focusWidget(), form->cbxCustMsgCounts);
}

TEST_F(MainWindowTest, ClrDoesWhatFfDoes) {
    open(true);
    for (QToolButton* button : {form->SpeedButton1, form->SpeedButton2}) {
        for (QLineEdit* edit : form->Edit)
            edit->setText("12");
        form->edtAscii->setText("keep");
        QTest::mouseClick(button, Qt::LeftButton);
        for (QLineEdit* edit : form->Edit)
            EXPECT_EQ(edit->text(), "FF") << button->text().toStdString();
        EXPECT_EQ(form->edtAscii->text(), "keep");
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
}

TEST_F(MainWindowTest, ReportFromTheWindowUsesTheControls) {
    open(true);
    TReport report;
    form->InitHidData(report.Data);
    form->SetHidDataFromUI(report);
    const std::vector<int> expected{0x01, 0x01, 0x00, 0x01, 0x01, 0x3C, 0x00, 0x01,
                                    0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<int>(report.Data + 1, report.Data + 17), expected);

    form->cbxFrequency->setCurrentIndex(-1);
    form->edtLocationID->setText("4095");
    form->SetHidDataFromUI(report);
    EXPECT_EQ(report.Data[13], 0xFF);
    EXPECT_EQ(report.Data[3], 0x0F);
    EXPECT_EQ(report.Data[4], 0xFF);

    form->edtExt1->clear();
    EXPECT_THROW(form->SetHidDataFromUI(report), EConvertError);
}

// Runs the event loop until something ends it or the deadline passes; true when it ended by
// itself with exit code 0.
bool loopEndsBeforeDeadline(const std::function<void()>& action) {
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    deadline.start(5000);
    QTimer::singleShot(0, action);
    return QCoreApplication::exec() == 0;
}

// Esc, wherever the focus is, ends the event loop as "Close" does.
TEST_F(MainWindowTest, EscapeEndsTheApplication) {
    open(false);
    form->EnableDisableLocatorControls(true);
    for (QWidget* focus : std::initializer_list<QWidget*>{form->edtLocationID, form->btnConnect,
                                                          form->cbxLocationStatus}) {
        EXPECT_TRUE(loopEndsBeforeDeadline([&] {
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Escape);
        })) << focus->objectName().toStdString();
        EXPECT_TRUE(form->isVisible()) << "the window closes only on the way out of the process";
    }
}

TEST_F(MainWindowTest, CloseButtonEndsTheApplication) {
    open(true);
    EXPECT_TRUE(loopEndsBeforeDeadline([&] { QTest::mouseClick(form->btnClose, Qt::LeftButton); }));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
