// A device the user may not open for reading and writing is listed, but never shown as
// connected: the attempts go on, and when they are used up the user learns why.

#include "SimWindowTestSupport.h"

namespace {

class PermissionTest : public SimWindowTest {
protected:
    // Chooses the first menu entry and then makes the attempts by hand, without the timer.
    void chooseAndStopTheTimer() {
        choose(0);
        form->ConnectTimer->stop();
    }
    void attempt(int times) {
        for (int n = 0; n < times; ++n)
            form->ConnectTimerTimer();
    }
};

TEST_F(PermissionTest, ALocatorWithoutAccessIsNeverConnectedAndTheUserIsToldWhy) {
    const std::string path = sim->plug(platform::makeSimLocator());
    ASSERT_TRUE(sim->setReadWriteAllowed(path, false));
    openOnSim(false, 1);
    chooseAndStopTheTimer();
    attempt(10);
    EXPECT_EQ(form->StatusText(0), "Waiting for Locator device to connect");
    EXPECT_EQ(form->HIDDevice, nullptr);
    EXPECT_FALSE(form->btnSend->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
    attempt(1);
    EXPECT_EQ(form->StatusText(0), "Unable to connect to Locator device.");
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{PermissionDeniedText(path)}));
    EXPECT_NE(dialogs.messages[0].find(path), std::string::npos);
    EXPECT_NE(dialogs.messages[0].find("udev rule"), std::string::npos);
    ASSERT_EQ(form->HidControl->Devices().size(), 1u) << "still listed";
    EXPECT_FALSE(form->HidControl->Devices()[0]->IsCheckedOut());
}

TEST_F(PermissionTest, AccessArrivingDuringTheAttemptsConnects) {
    const std::string path = sim->plug(platform::makeSimLocator());
    ASSERT_TRUE(sim->setReadWriteAllowed(path, false));
    OutputRecorder sent;
    sent.attach(*sim, path);
    openOnSim(false, 1);
    chooseAndStopTheTimer();
    attempt(3);
    EXPECT_EQ(form->HIDDevice, nullptr);
    ASSERT_TRUE(sim->setReadWriteAllowed(path, true));
    attempt(1);
    EXPECT_EQ(form->StatusText(0), "Locator - Status: Device Connected");
    ASSERT_NE(form->HIDDevice, nullptr);
    EXPECT_TRUE(form->HIDDevice->HasReadWriteAccess());
    EXPECT_TRUE(sent.waitForCount(1)) << "the configuration is asked for";
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PermissionTest, FactoryModeRefusesAnyDeviceWithoutAccess) {
    const std::string keyboard = sim->plug(platform::makeSimKeyboard());
    ASSERT_TRUE(sim->setReadWriteAllowed(keyboard, false));
    openOnSim(true, 1);
    chooseAndStopTheTimer();
    attempt(11);
    EXPECT_EQ(form->StatusText(0), "Unable to connect to USB Keyboard device.");
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{PermissionDeniedText(keyboard)}));
    EXPECT_FALSE(form->btnSend->isEnabled());
}

TEST_F(PermissionTest, GivingUpForAnotherReasonSaysNothingOfPermission) {
    const std::string path = sim->plug(platform::makeSimLocator());
    ASSERT_TRUE(sim->setReadWriteAllowed(path, false));
    openOnSim(false, 1);
    chooseAndStopTheTimer();
    attempt(2);
    sim->unplug(path);
    waitForDeviceCount(0);
    attempt(9);
    EXPECT_EQ(form->StatusText(0), "Unable to connect to Locator device.");
    EXPECT_TRUE(dialogs.messages.empty());
}

} // namespace
