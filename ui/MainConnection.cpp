// The window's connection: listing devices as a menu, connecting to the chosen one on the
// 500 ms timer, and dropping the connection when its device leaves.

#include "ui/MainU.h"

#include "platform/uithread/QtEventLoop.h"
#include "platform/win32/Utf16.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QSet>
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

// Accelerator keys the menu hands out: letters and digits.
bool canBeAccelerator(QChar c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The caption of a menu entry that shows `name`: each "&" doubled, so the menu shows it as it
// is, and an accelerator on the first letter or digit whose key no earlier entry has taken.
// `taken` holds the keys handed out so far.
QString menuCaption(const QString& name, QSet<QChar>& taken) {
    QString caption;
    bool keyGiven = false;
    for (QChar c : name) {
        const QChar key = c.toUpper();
        if (!keyGiven && canBeAccelerator(key) && !taken.contains(key)) {
            taken.insert(key);
            caption += '&';
            keyGiven = true;
        }
        caption += c == '&' ? QStringLiteral("&&") : QString(c);
    }
    return caption;
}

// Serial numbers tell the devices of one name apart when each has its own; otherwise their
// order among that name does.
QStringList distinguishers(const std::vector<const THIDSettings*>& sameName) {
    QStringList serials;
    for (const THIDSettings* settings : sameName)
        serials << QString::fromStdU16String(settings->SerialNumber);
    const bool serialsDiffer =
        !serials.contains(QString()) && QSet<QString>(serials.begin(), serials.end()).size() ==
                                            static_cast<qsizetype>(serials.size());
    if (serialsDiffer)
        return serials;
    QStringList positions;
    for (std::size_t n = 1; n <= sameName.size(); ++n)
        positions << QString::number(n);
    return positions;
}

} // namespace

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
    FDeviceLock.reset();
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
    NameMenuEntries();
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
    // The entry knows its device by its place in HIDSettingsList, never by its caption.
    auto* entry = new QAction(PopupMenu1);
    entry->setData(static_cast<int>(HIDSettingsList->size()));
    connect(entry, &QAction::triggered, this, [this, entry] { ConnectItemClick(entry); });
    PopupMenu1->addAction(entry);
    const THidPnPInfo* info = HidDev->PnPInfo();
    auto settings = std::make_unique<THIDSettings>(
        THIDSettings{vid, pid, name.toStdString(), info ? info->DevicePath() : std::u16string(),
                     HidDev->SerialNumber()});
    HIDSettingsList->push_back({name, std::move(settings)});
    return true;
}

// "Locator [CUST-0001]" and "Locator [CUST-0002]", or "Locator [1]" and "Locator [2]" when the
// serial numbers do not tell them apart: the name shown is the name the status bar uses.
void TFormMain::NameMenuEntries() {
    QMap<QString, std::vector<const THIDSettings*>> byName;
    for (const HIDSettingsEntry& listed : *HIDSettingsList)
        byName[listed.Text].push_back(listed.Settings.get());
    QMap<const THIDSettings*, QString> distinguisher;
    for (const auto& sameName : byName) {
        if (sameName.size() < 2)
            continue;
        const QStringList marks = distinguishers(sameName);
        for (std::size_t n = 0; n < sameName.size(); ++n)
            distinguisher[sameName[n]] = marks[static_cast<qsizetype>(n)];
    }
    QSet<QChar> takenKeys;
    const QList<QAction*> entries = PopupMenu1->actions();
    for (std::size_t n = 0; n < HIDSettingsList->size(); ++n) {
        HIDSettingsEntry& listed = (*HIDSettingsList)[n];
        if (const auto mark = distinguisher.constFind(listed.Settings.get());
            mark != distinguisher.constEnd()) {
            listed.Text += " [" + *mark + "]";
            listed.Settings->DeviceName = listed.Text.toStdString();
        }
        entries[static_cast<qsizetype>(n)]->setText(menuCaption(listed.Text, takenKeys));
    }
}

void TFormMain::ConnectItemClick(QObject* Sender) {
    const auto* entry = qobject_cast<const QAction*>(Sender);
    if (!entry || entry->parent() != PopupMenu1)
        return;
    bool isIndex = false;
    const int index = entry->data().toInt(&isIndex);
    if (!isIndex || index < 0 || static_cast<std::size_t>(index) >= HIDSettingsList->size())
        return;
    const THIDSettings& chosen = *(*HIDSettingsList)[static_cast<std::size_t>(index)].Settings;
    VID = chosen.VID;
    PID = chosen.PID;
    DeviceName = QString::fromStdString(chosen.DeviceName);
    FChosenDevicePath = chosen.DevicePath;
    ReleaseDevice();
    ConnectionTimerCount = 0;
    FDeniedDevicePath.clear();
    ConnectTimer->start();
}

bool TFormMain::CheckOutChosenDevice() {
    const std::vector<THidDevice*>& devices = HidControl->Devices();
    for (std::size_t i = 0; i < devices.size() && !FChosenDevicePath.empty(); ++i) {
        const THidPnPInfo* info = devices[i]->PnPInfo();
        if (devices[i]->IsPluggedIn() && info && info->DevicePath() == FChosenDevicePath)
            return HidControl->CheckOutByIndex(HIDDevice, static_cast<int>(i));
    }
    return HidControl->CheckOutByID(HIDDevice, VID, PID);
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

// A device another process uses (a second window, tarvexctl) is given back unconnected, so
// that two processes never interleave their commands; the next attempt asks again.
bool TFormMain::RefuseWhenBusy() {
    const THidPnPInfo* info = HIDDevice->PnPInfo();
    platform::DeviceLock::Outcome outcome;
    FDeviceLock = platform::DeviceLock::tryAcquire(
        info ? platform::utf8FromUtf16(reinterpret_cast<LPCWSTR>(info->DevicePath().c_str()))
             : std::string(),
        outcome);
    FDeviceBusy = outcome == platform::DeviceLock::Outcome::Busy;
    if (FDeviceBusy)
        HidControl->CheckIn(HIDDevice);
    return FDeviceBusy;
}

void TFormMain::ConnectTimerTimer() {
    if (ConnectionTimerCount >= kConnectAttempts) {
        sbMainPanels[0]->setText("Unable to connect to " + DeviceName + " device.");
        ConnectionTimerCount = 0;
        ConnectTimer->stop();
        if (!FDeniedDevicePath.isEmpty())
            FDialogs.ShowMessage(PermissionDeniedText(FDeniedDevicePath.toStdString()));
        else if (FDeviceBusy)
            FDialogs.ShowMessage(DeviceBusyText(DeviceName.toStdString()));
        FDeniedDevicePath.clear();
        FDeviceBusy = false;
        return;
    }
    ++ConnectionTimerCount;
    if (HIDDevice)
        return;
    sbMainPanels[0]->setText("Waiting for " + DeviceName + " device to connect");
    try {
        HidControl->CheckIn(HIDDevice);
        if (!CheckOutChosenDevice()) {
            FDeniedDevicePath.clear();
            return;
        }
        if (RefuseWithoutReadWriteAccess() || RefuseWhenBusy())
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
