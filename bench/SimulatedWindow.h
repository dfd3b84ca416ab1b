#pragma once
// The window on one simulated locator, connected through its own menu and timer, with the
// configuration read back: where the window benchmarks start.

#include "locator/DeviceCommand.h"
#include "platform/sources/SimDeviceSource.h"
#include "ui/MainU.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>

#include <functional>
#include <memory>
#include <string>

// Runs the event loop until `condition` holds or the deadline passes; whether it holds.
inline bool waitFor(const std::function<bool()>& condition, int deadlineMs) {
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < deadlineMs)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

class SimulatedWindow {
public:
    // Installs a simulated source holding one locator; the window opens on it.
    explicit SimulatedWindow(TDialogs& dialogs) {
        auto source = std::make_unique<platform::SimDeviceSource>();
        sim_ = source.get();
        platform::installDeviceSource(std::move(source));
        locatorPath_ = sim_->plug(platform::makeSimLocator());
        form_ = std::make_unique<TFormMain>(dialogs, TFormStartup{folder_.filePath("tarvex")});
        form_->show();
    }

    // Connects to the locator and waits for the read-back to be shown; false when it did not
    // happen in time.
    bool connect() {
        TFormMain& form = *form_;
        if (!waitFor([&] { return !form.HidControl->Devices().empty(); }, 5000))
            return false;
        form.btnConnect->click();
        form.PopupMenu1->actions().value(0)->trigger();
        form.PopupMenu1->hide();
        return waitFor([&] { return form.HIDDevice && CommandsInFlight() == 0; }, 10000) &&
               waitFor([&] { return form.Memo1->document()->blockCount() >= 9; }, 5000);
    }

    TFormMain& form() { return *form_; }
    platform::SimDeviceSource& sim() { return *sim_; }
    const std::string& locatorPath() const { return locatorPath_; }

private:
    QTemporaryDir folder_;
    platform::SimDeviceSource* sim_ = nullptr;
    std::string locatorPath_;
    std::unique_ptr<TFormMain> form_;
};
