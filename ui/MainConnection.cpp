// The window's connection: listing devices as a menu, connecting to the chosen one on the
// 500 ms timer, and dropping the connection when its device leaves.

#include "ui/MainU.h"

#include "platform/uithread/QtEventLoop.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kLocatorVID = 0x3F7C;
constexpr int kLocatorPID = 0x5A21;
constexpr int kConnectAttempts = 10;

bool isLocator(int vid, int pid) {
    return vid == kLocatorVID && pid == kLocatorPID;
}

// Blank once blanks and control characters are stripped from both ends.
bool isBlankName(const std::u16string& name) {
    for (char16_t c : name)
        if (c > u' ')
            return false;
    return true;
}

} // namespace

std::string PermissionDeniedText(const std::string& devicePath) {
    return "Tarvex may not read from and write to " + devicePath +
           ". Install the udev rule as the README's \"Real hardware\" section shows, then unplug "
           "the device and plug it in again.";
}

void TFormMain::createHidControl() {
    EventLoop = std::make_unique<QtEventLoop>();
    HidControl = std::make_unique<THidDeviceController>(
        THidDeviceCreateError(this, &TFormMain::HidControlDeviceCreateError), nullptr);
    HidControl->OnEnumerate = THidEnumerateEvent(this, &TFormMain::HidControlEnumerate);
    HidControl->SetOnDeviceUnplug(THidPlugEvent(this, &TFormMain::HidControlDeviceUnplug));
    auto* dropWatch = new QTimer(this);
    connect(dropWatch, &QTimer::timeout, this, &TFormMain::ReportDroppedInputReports);
    dropWatch->start(1000);
}

void TFormMain::ReleaseDevice() {
    ReportDroppedInputReports();
    delete HIDDevice;
    HIDDevice = nullptr;
    FDroppedReported = 0;
}

// Reports dropped because the device sent faster than the window took them are not an error
// the user must act on, but they must not vanish unnoticed either: they go to standard error.
void TFormMain::ReportDroppedInputReports() {
    if (!HIDDevice)
        return;
    const std::uint64_t dropped = HIDDevice->DroppedInputReports();
    if (dropped <= FDroppedReported)
        return;
    std::fprintf(stderr,
                 "tarvex: %llu input reports from %s dropped so far, oldest first: the device "
                 "sends faster than the tool can take them\n",
                 static_cast<unsigned long long>(dropped), qPrintable(DeviceName));
    FDroppedReported = dropped;
}

void TFormMain::btnConnectClick() {
    for (QAction* entry : PopupMenu1->actions()) {
        PopupMenu1->removeAction(entry);
        delete entry;
    }
    HIDSettingsList->clear();
    UnknownEnumeratedIdx = 0;
    HidControl->Enumerate();
    if (!HIDSettingsList->empty())
        PopupMenu1->popup(QCursor::pos());
    else
        FDialogs.ShowMessage(FFactoryMode ? "No Device Found." : "No Locator Device Found.");
}

bool TFormMain::HidControlEnumerate(THidDevice* HidDev, int) {
    const int vid = HidDev->Attributes().VendorID;
    const int pid = HidDev->Attributes().ProductID;
    if (!FFactoryMode && !isLocator(vid, pid))
        return true;
    const std::u16string product = HidDev->ProductName();
    QString name = QString::fromStdU16String(product);
    if (isBlankName(product))
        name = "Unknown " + QString::number(++UnknownEnumeratedIdx);
    auto* entry = new QAction(name, PopupMenu1);
    connect(entry, &QAction::triggered, this, [this, entry] { ConnectItemClick(entry); });
    PopupMenu1->addAction(entry);
    auto settings = std::make_unique<THIDSettings>(THIDSettings{vid, pid, name.toStdString()});
    HIDSettingsList->push_back({name, std::move(settings)});
    return true;
}

void TFormMain::ConnectItemClick(QObject* Sender) {
    const auto* entry = qobject_cast<const QAction*>(Sender);
    if (!entry)
        return;
    const std::string caption = QString(entry->text()).remove('&').toStdString();
    for (const HIDSettingsEntry& listed : *HIDSettingsList) {
        if (listed.Settings->DeviceName != caption)
            continue;
        VID = listed.Settings->VID;
        PID = listed.Settings->PID;
        DeviceName = QString::fromStdString(listed.Settings->DeviceName);
        ReleaseDevice();
        ConnectionTimerCount = 0;
        FDeniedDevicePath.clear();
        ConnectTimer->start();
        return;
    }
}

// A device the user may not open for reading and writing is given back unconnected. The next
// check-out looks at its access again: permission may arrive a moment after the device, once
// udev has applied its rules.
bool TFormMain::RefuseWithoutReadWriteAccess() {
    if (HIDDevice->HasReadWriteAccess()) {
        FDeniedDevicePath.clear();
        return false;
    }
    const THidPnPInfo* info = HIDDevice->PnPInfo();
    FDeniedDevicePath = info ? QString::fromStdU16String(info->DevicePath()) : QString();
    HidControl->CheckIn(HIDDevice);
    return true;
}

void TFormMain::ConnectTimerTimer() {
    if (ConnectionTimerCount >= kConnectAttempts) {
        sbMainPanels[0]->setText("Unable to connect to " + DeviceName + " device.");
        ConnectionTimerCount = 0;
        ConnectTimer->stop();
        if (!FDeniedDevicePath.isEmpty())
            FDialogs.ShowMessage(PermissionDeniedText(FDeniedDevicePath.toStdString()));
        FDeniedDevicePath.clear();
        return;
    }
    ++ConnectionTimerCount;
    if (HIDDevice)
        return;
    sbMainPanels[0]->setText("Waiting for " + DeviceName + " device to connect");
    try {
        HidControl->CheckIn(HIDDevice);
        if (!HidControl->CheckOutByID(HIDDevice, VID, PID)) {
            FDeniedDevicePath.clear();
            return;
        }
        if (RefuseWithoutReadWriteAccess())
            return;
        EnableDisableLocatorControls(false);
        btnSend->setEnabled(true);
        ConnectTimer->stop();
        sbMainPanels[0]->setText(DeviceName + " - Status: Device Connected");
        HIDDevice->SetNumInputBuffers(64);
        HIDDevice->SetNumOverlappedBuffers(64);
        if (isLocator(VID, PID)) {
            EnableDisableLocatorControls(true);
            HIDDevice->SetOnData(THidDataEvent(this, &TFormMain::DeviceRead));
            AskForLocatorConfiguration();
        }
    } catch (...) {
        // A failed attempt ends the tick quietly; the next tick tries again while the timer runs.
    }
}

// Only the window's own device leaving ends the connection: another HID device coming and
// going (a mouse, a second locator) leaves it alone.
void TFormMain::HidControlDeviceUnplug(THidDevice* HidDev) {
    if (!HidDev || HidDev != HIDDevice)
        return;
    ReleaseDevice();
    sbMainPanels[0]->setText(DeviceName + " - Status: Device Removed");
    btnSend->setEnabled(false);
    EnableDisableLocatorControls(false);
}

void TFormMain::HidControlDeviceCreateError(THidDeviceController*, THidPnPInfo*, bool& Handled,
                                            bool&) {
    Handled = true;
}
