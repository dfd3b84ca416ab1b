#pragma once
// The real window on simulated devices: each test installs its own simulated source before the
// window opens, plugs what it needs, and drives the window through clicks, menu actions and the
// dialogs interface, waiting on conditions with a deadline.

#include "WindowTestSupport.h"
#include "platform/sources/SimDeviceSource.h"
#include "platform/sources/SimScenarioRunner.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>

#include <mutex>
#include <string>
#include <vector>

constexpr int kDeadlineMs = 5000;

class SimWindowTest : public WindowTest {
protected:
    platform::SimDeviceSource* sim = nullptr;

    void SetUp() override {
        auto source = std::make_unique<platform::SimDeviceSource>();
        sim = source.get();
        platform::installDeviceSource(std::move(source));
    }
    void TearDown() override { form.reset(); }

    // Runs the devices of a file in scenarios/ instead of the empty simulated source.
    void useScenario(const std::string& fileName) {
        platform::ScenarioError error;
        const auto scenario =
            platform::loadScenarioFile(std::string(TARVEX_SCENARIO_DIR) + "/" + fileName, error);
        ASSERT_TRUE(scenario) << error.message();
        auto source = platform::startScenario(*scenario);
        sim = source.get();
        platform::installDeviceSource(std::move(source));
    }

    // Opens the window and waits for the controller's first list.
    void openOnSim(bool factory, std::size_t expectedDevices) {
        open(factory);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return form->HidControl->Devices().size() == expectedDevices; }, kDeadlineMs));
    }
    void waitForDeviceCount(std::size_t count) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->HidControl->Devices().size() == count; },
                                    kDeadlineMs))
            << "devices listed: " << form->HidControl->Devices().size();
    }

    static platform::SimDeviceModel namedLocator(const std::u16string& name) {
        auto model = platform::makeSimLocator();
        model.info.product = name;
        return model;
    }

    // A caption as the menu shows it: accelerator markers gone, "&&" shown as "&".
    static QString shownText(const QString& caption) {
        QString shown;
        for (qsizetype i = 0; i < caption.size(); ++i) {
            if (caption[i] == '&' && ++i == caption.size())
                break;
            shown += caption[i];
        }
        return shown;
    }
    QStringList menuEntries() const {
        QStringList names;
        for (const QAction* entry : form->PopupMenu1->actions())
            names << shownText(entry->text());
        return names;
    }
    // Presses "Connect" and chooses the entry at `index` of the menu it opened.
    void choose(int index) {
        QTest::mouseClick(form->btnConnect, Qt::LeftButton);
        const QList<QAction*> entries = form->PopupMenu1->actions();
        ASSERT_LT(index, entries.size());
        entries[index]->trigger();
        form->PopupMenu1->hide();
    }
    bool waitForStatus(const QString& text, int deadlineMs = kDeadlineMs) {
        return QTest::qWaitFor([&] { return form->StatusText(0) == text; }, deadlineMs);
    }
    // Chooses the first entry and waits until it is connected.
    void connectFirst(const QString& name = "Locator") {
        choose(0);
        ASSERT_TRUE(waitForStatus(name + " - Status: Device Connected"))
            << form->StatusText(0).toStdString();
    }

    QStringList terminalLines() const {
        QStringList lines = form->Memo1->toPlainText().split('\n');
        if (form->Memo1->document()->isEmpty())
            lines.clear();
        return lines;
    }
    bool waitForTerminalLines(int count) {
        return QTest::qWaitFor([&] { return terminalLines().size() >= count; }, kDeadlineMs);
    }
};

// Every output report a simulated device receives, collected from the writer's thread.
class OutputRecorder {
public:
    void attach(platform::SimDeviceSource& sim, const std::string& path) {
        sim.setOutputObserver(path, [this](const platform::Report& report) {
            std::lock_guard lock(mutex_);
            reports_.push_back(report);
        });
    }
    std::vector<platform::Report> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::size_t count() const { return reports().size(); }
    bool waitForCount(std::size_t count) const {
        return QTest::qWaitFor([&] { return this->count() >= count; }, kDeadlineMs);
    }

private:
    mutable std::mutex mutex_;
    std::vector<platform::Report> reports_;
};
