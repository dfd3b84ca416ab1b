#pragma once
// The real window on a temporary executable folder, with its dialogs answered by FakeDialogs.

#include "FakeDialogs.h"
#include "app/Settings.h"
#include "ui/MainU.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class WindowTest : public ::testing::Test {
protected:
    FakeDialogs dialogs;
    QTemporaryDir dir; // stands for the executable's folder
    std::unique_ptr<TFormMain> form;

    // Opens the window as if started from `executableName` in `dir`, with `settings` (if any)
    // as the content of the settings file named `settingsName` beside it.
    void openAs(const QString& executableName, const QString& settingsName,
                const std::optional<QByteArray>& settings) {
        ASSERT_TRUE(dir.isValid());
        if (settings) {
            QFile file(dir.filePath(settingsName));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*settings);
        }
        const QString executable = dir.filePath(executableName);
        const std::string settingsPath = SettingsFilePath(executable.toStdString());
        TFormStartup startup{executable, ReadFactoryMode(settingsPath)};
        startup.TerminalLines = ReadTerminalLines(settingsPath).value_or(startup.TerminalLines);
        form = std::make_unique<TFormMain>(dialogs, startup);
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void open(bool factory) {
        openAs("tarvex", "tarvex.ini",
               factory ? std::optional<QByteArray>("[MODE]\nFactory=1\n") : std::nullopt);
    }

    std::vector<QWidget*> locatorControls() const {
        return {form->btnSet,
                form->btnReset,
                form->cbxOEM1,
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
                form->edtExt2};
    }
    std::vector<QWidget*> factoryOnlyLists() const {
        return {form->cbxOEM1, form->cbxOEM2, form->cbxFrequency};
    }

    // The visible rows of the "Configure" page, top to bottom; fails on a gap or an overlap.
    std::vector<QString> stackedRows() const {
        std::vector<QWidget*> rows;
        for (QObject* child : form->tsOne->children())
            if (auto* row = qobject_cast<QFrame*>(child); row && row->isVisible())
                rows.push_back(row);
        std::sort(rows.begin(), rows.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        std::vector<QString> names;
        int expectedTop = 0;
        for (QWidget* row : rows) {
            EXPECT_EQ(row->y(), expectedTop) << row->objectName().toStdString();
            expectedTop = row->y() + row->height();
            names.push_back(row->objectName());
        }
        return names;
    }

    void typeInto(QLineEdit* edit, const QString& keys) {
        edit->setFocus();
        QTest::keyClicks(edit, keys);
    }
};
