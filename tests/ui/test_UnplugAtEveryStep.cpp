// The locator vanishing at every step of the connect flow and the five commands: for each K it
// vanishes right after the K-th call that reaches it, from the first call on until the flow
// completes without meeting the unplug. Whatever the step, the window must end without the
// device and without a command in flight, and the controller's list must follow the device.

#include "SimWindowTestSupport.h"
#include "locator/DeviceCommand.h"

#include <chrono>
#include <iostream>
#include <list>
#include <set>
#include <string>

namespace {

const QString kConnected = "Locator - Status: Device Connected";
const QString kRemoved = "Locator - Status: Device Removed";
const QString kWaiting = "Waiting for Locator device to connect";
const std::string kSetConfirmed = "Configuration has been set.";
const std::string kResetConfirmed = "Factory reset complete.";
constexpr int kBlockLines = 9; // a report block: eight "> " lines and an empty one
// Far more calls than the flow makes; the sweep fails rather than run on past it.
constexpr std::size_t kMaxCalls = 300;

// Where the unplug met the flow.
enum class Met : char {
    BeforeTheMenu = 'M',  // the menu had no locator to offer
    BeforeCheckOut = 'C', // chosen, but never connected: the attempts go on
    WhileConnected = 'R', // connected, then removed during the commands
    Never = '-',          // the flow completed
};

class UnplugAtEveryStepTest : public SimWindowTest {
protected:
    std::string locator;
    OutputRecorder* sent = nullptr;
    // Recorders outlive their runs: a device's observer may still hold one.
    std::list<OutputRecorder> recorders;
    QStringList tickTexts; // the status after each tick of the connection timer
    std::chrono::milliseconds answerDelay{0};

    // A fresh locator set to vanish after `unplugAfter` calls, and a fresh window on it.
    void startRun(std::size_t unplugAfter) {
        form.reset();
        if (!locator.empty())
            sim->unplug(locator); // the one plugged back at the end of the last run
        dialogs.messages.clear();
        dialogs.errors.clear();
        dialogs.questions.clear();
        dialogs.answer = TDialogs::Answer::Yes; // the factory reset asks first
        tickTexts.clear();
        locator = sim->plug(platform::makeSimLocator());
        sent = &recorders.emplace_back();
        sent->attach(*sim, locator);
        ASSERT_TRUE(sim->setUnplugAfterCalls(locator, unplugAfter));
        ASSERT_TRUE(sim->setAnswerDelay(locator, answerDelay));
        open(false);
        QObject::connect(form->ConnectTimer, &QTimer::timeout, form.get(),
                         [this] { tickTexts << form->StatusText(0); });
    }
    bool vanished() const { return !sim->find(locator); }
    bool removed() const { return form->StatusText(0) == kRemoved; }
    bool connectedAtATick() const { return tickTexts.contains(kConnected); }
    bool waitUntilQuiet() {
        return QTest::qWaitFor([] { return CommandsInFlight() == 0; }, kDeadlineMs);
    }

    // Runs the flow once; fails the test on a hang (any deadline passed) or a wrong state.
    Met runFlow() {
        const bool listed = QTest::qWaitFor(
            [&] { return form->HidControl->Devices().size() == (vanished() ? 0u : 1u); },
            kDeadlineMs);
        EXPECT_TRUE(listed) << "the first list never settled";
        QTest::mouseClick(form->btnConnect, Qt::LeftButton);
        const QList<QAction*> entries = form->PopupMenu1->actions();
        if (entries.isEmpty()) {
            EXPECT_TRUE(vanished());
            return Met::BeforeTheMenu;
        }
        entries[0]->trigger();
        form->PopupMenu1->hide();
        // Once the list has dropped the vanished device no later tick can connect to it.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return connectedAtATick() ||
                       (vanished() && !tickTexts.isEmpty() && form->HidControl->Devices().empty());
            },
            kDeadlineMs))
            << "no tick connected and the device is still listed";
        if (!connectedAtATick())
            return Met::BeforeCheckOut;

        // Each command waits for its own answer, or for the window to drop the device.
        const auto step = [&](const char* name, auto start, auto answered) {
            if (removed())
                return;
            start();
            EXPECT_TRUE(QTest::qWaitFor([&] { return answered() || removed(); }, kDeadlineMs))
                << name << ": neither answered nor removed";
            EXPECT_TRUE(waitUntilQuiet()) << name;
        };
        const auto messageShown = [&](const std::string& text) {
            return std::find(dialogs.messages.begin(), dialogs.messages.end(), text) !=
                   dialogs.messages.end();
        };
        const auto linesGrownBy = [&](int lines) {
            const auto target = terminalLines().size() + lines;
            return [this, target] { return terminalLines().size() >= target; };
        };
        step(
            "configuration read on connect", [] {},
            [&] { return terminalLines().size() >= kBlockLines; });
        step(
            "set", [&] { QTest::mouseClick(form->btnSet, Qt::LeftButton); },
            [&] { return messageShown(kSetConfirmed); });
        step(
            "factory reset", [&] { QTest::mouseClick(form->btnReset, Qt::LeftButton); },
            [&] { return messageShown(kResetConfirmed); });
        form->Edit[0]->setText("52"); // a read: the locator answers it
        for (int n = 1; n < 8; ++n)
            form->Edit[n]->setText("00");
        step(
            "hexadecimal send", [&] { QTest::mouseClick(form->btnSend, Qt::LeftButton); },
            linesGrownBy(kBlockLines));
        form->edtAscii->setText("AB");
        const std::size_t written = sent->count();
        step(
            "ASCII send", [&] { QTest::mouseClick(form->btnSendASCII, Qt::LeftButton); },
            [&] { return sent->count() > written; }); // Data[0] is 0xFF: no answer
        return vanished() ? Met::WhileConnected : Met::Never;
    }

    void expectDisconnected() {
        EXPECT_EQ(form->HIDDevice, nullptr);
        EXPECT_FALSE(form->btnSend->isEnabled());
        for (QWidget* control : locatorControls())
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
        EXPECT_EQ(CommandsInFlight(), 0);
        EXPECT_TRUE(form->HidControl->Devices().empty());
        EXPECT_TRUE(dialogs.errors.empty());
    }
    // Waits until the window has dropped what it held of the vanished device.
    void expectSettled(const QString& status) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return form->HidControl->Devices().empty() && CommandsInFlight() == 0 &&
                       form->StatusText(0) == status;
            },
            kDeadlineMs))
            << "status " << form->StatusText(0).toStdString() << ", devices listed "
            << form->HidControl->Devices().size() << ", commands " << CommandsInFlight();
    }

    // Runs the flow for K = 1, 2, ... until it completes without meeting the unplug; every
    // way of meeting it must come up on the way.
    void sweep() {
        std::set<Met> metAt;
        std::string steps; // the step each K met, as a letter, shown with every failure
        std::size_t callsOfTheWholeFlow = 0;
        for (std::size_t k = 1; k <= kMaxCalls; ++k) {
            SCOPED_TRACE("unplug after call " + std::to_string(k));
            startRun(k);
            ASSERT_FALSE(HasFatalFailure());
            const Met met = runFlow();
            if (met == Met::Never)
                callsOfTheWholeFlow = sim->callsMade(locator).value_or(0);
            checkEnd(met);
            metAt.insert(met);
            steps += static_cast<char>(met);
            ASSERT_FALSE(HasFailure()) << "steps met so far: " << steps;
            if (met == Met::Never) {
                EXPECT_LT(callsOfTheWholeFlow, k) << "call " << k << " came, the device stayed";
                break;
            }
        }
        EXPECT_EQ(metAt, (std::set<Met>{Met::BeforeTheMenu, Met::BeforeCheckOut,
                                        Met::WhileConnected, Met::Never}))
            << steps;
        std::cout << "[ sweep    ] " << callsOfTheWholeFlow
                  << " calls in the flow, K met: " << steps << '\n';
    }

    // The end state for one K, then a fresh locator plugged in to see the window follow it.
    void checkEnd(Met met) {
        switch (met) {
        case Met::BeforeTheMenu:
            expectSettled("");
            expectDisconnected();
            EXPECT_EQ(dialogs.messages, std::vector<std::string>{"No Locator Device Found."});
            locator = sim->plug(platform::makeSimLocator());
            waitForDeviceCount(1);
            EXPECT_EQ(form->StatusText(0), "") << "nothing was chosen";
            break;
        case Met::BeforeCheckOut:
            expectSettled(kWaiting);
            expectDisconnected();
            EXPECT_TRUE(dialogs.messages.empty());
            EXPECT_TRUE(form->ConnectTimer->isActive()) << "the attempts go on";
            locator = sim->plug(platform::makeSimLocator());
            EXPECT_TRUE(waitForStatus(kConnected)) << "the fresh locator connects";
            EXPECT_NE(form->HIDDevice, nullptr);
            waitForDeviceCount(1);
            EXPECT_TRUE(waitUntilQuiet());
            break;
        case Met::WhileConnected:
            expectSettled(kRemoved);
            expectDisconnected();
            for (const std::string& message : dialogs.messages)
                EXPECT_TRUE(message == kSetConfirmed || message == kResetConfirmed) << message;
            EXPECT_FALSE(form->ConnectTimer->isActive());
            locator = sim->plug(platform::makeSimLocator());
            waitForDeviceCount(1);
            EXPECT_EQ(form->StatusText(0), kRemoved) << "no connection without a choice";
            EXPECT_EQ(form->HIDDevice, nullptr);
            break;
        case Met::Never:
            EXPECT_EQ(form->StatusText(0), kConnected);
            EXPECT_EQ(dialogs.messages, (std::vector<std::string>{kSetConfirmed, kResetConfirmed}));
            EXPECT_EQ(sent->count(), 5u) << "read, set, reset, hexadecimal, ASCII";
            EXPECT_EQ(form->HidControl->Devices().size(), 1u);
            break;
        }
    }
};

// Answers go out with the write: one already queued when the device goes is still read.
TEST_F(UnplugAtEveryStepTest, WindowEndsWithoutTheDeviceWhereverItVanishes) {
    sweep();
}

// Answers go out a moment after the write: a device vanishing in between takes them along.
TEST_F(UnplugAtEveryStepTest, WindowEndsWithoutTheDeviceWhenAnswersVanishWithIt) {
    answerDelay = std::chrono::milliseconds(30);
    sweep();
}

} // namespace
