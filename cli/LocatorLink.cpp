#include "cli/LocatorLink.h"

#include "locator/DeviceAccess.h"
#include "locator/LocatorAnswer.h"
#include "platform/uithread/EventLoop.h"
#include "platform/win32/Utf16.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint16_t kLocatorVendorId = 0x3F7C;
constexpr std::uint16_t kLocatorProductId = 0x5A21;
constexpr int kInputBuffers = 64;

std::string utf8(const std::u16string& text) {
    return platform::utf8FromUtf16(reinterpret_cast<LPCWSTR>(text.c_str()));
}

bool isIndex(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string listingLine(const TListedDevice& device) {
    return "  " + std::to_string(device.Index) + "  " + device.Path +
           (device.Serial.empty() ? "" : "  serial " + device.Serial);
}

} // namespace

TLocatorLink::TLocatorLink(std::chrono::milliseconds answerTimeout)
    : FAnswerTimeout(answerTimeout) {
    FController = std::make_unique<THidDeviceController>(
        THidDeviceCreateError(this, &TLocatorLink::HidControlDeviceCreateError),
        TNotifyEvent(this, &TLocatorLink::HidControlDeviceChange));
    FController->OnEnumerate = THidEnumerateEvent(this, &TLocatorLink::HidControlEnumerate);
    FController->SetOnDeviceUnplug(THidPlugEvent(this, &TLocatorLink::HidControlDeviceUnplug));
    Pump(std::chrono::milliseconds(0)); // the controller's first list
}

TLocatorLink::~TLocatorLink() {
    Close();
    LetCommandsFinish();
    FController.reset();
}

void TLocatorLink::Pump(std::chrono::milliseconds wait) {
    platform::PumpMessages();
    if (wait.count() > 0 && platform::WaitForPostedWork(static_cast<DWORD>(wait.count())))
        platform::PumpMessages();
}

bool TLocatorLink::HidControlEnumerate(THidDevice* HidDev, int Idx) {
    TListedDevice device;
    device.Index = Idx;
    device.Path = HidDev->PnPInfo() ? utf8(HidDev->PnPInfo()->DevicePath()) : std::string();
    device.Name = utf8(HidDev->ProductName());
    device.Manufacturer = utf8(HidDev->VendorName());
    device.Serial = utf8(HidDev->SerialNumber());
    device.VendorId = HidDev->Attributes().VendorID;
    device.ProductId = HidDev->Attributes().ProductID;
    device.Release = HidDev->Attributes().VersionNumber;
    device.Locator = device.VendorId == kLocatorVendorId && device.ProductId == kLocatorProductId;
    device.Openable = HidDev->HasReadWriteAccess();
    FListing.push_back(std::move(device));
    return true;
}

std::vector<TListedDevice> TLocatorLink::List() {
    FListing.clear();
    FController->Enumerate();
    return std::move(FListing);
}

TListedDevice TLocatorLink::Select(const std::string& selector) {
    const std::vector<TListedDevice> devices = List();
    std::vector<TListedDevice> chosen;
    for (const TListedDevice& device : devices) {
        const bool named = selector.empty()
                               ? device.Locator
                               : device.Path == selector ||
                                     (!device.Serial.empty() && device.Serial == selector) ||
                                     (isIndex(selector) && std::stoi(selector) == device.Index);
        if (named)
            chosen.push_back(device);
    }
    if (chosen.empty())
        throw ECliError(TExitCode::NoLocator, selector.empty()
                                                  ? "No locator found."
                                                  : "No device matches --device " + selector + ".");
    if (chosen.size() > 1) {
        std::string message =
            "Several " + std::string(selector.empty() ? "locators are attached" : "devices match") +
            "; choose one with --device (index, path or serial):";
        for (const TListedDevice& device : chosen)
            message += "\n" + listingLine(device);
        throw ECliError(TExitCode::Usage, message);
    }
    if (!chosen.front().Locator)
        throw ECliError(TExitCode::Usage, chosen.front().Path + " is not a locator.");
    return chosen.front();
}

void TLocatorLink::Open(const TListedDevice& device) {
    Close();
    if (!FController->CheckOutByIndex(FDevice, device.Index))
        throw ECliError(TExitCode::NoLocator, device.Path + " is no longer attached.");
    if (!FDevice->HasReadWriteAccess()) {
        FController->CheckIn(FDevice);
        throw ECliError(TExitCode::PermissionDenied, PermissionDeniedText(device.Path));
    }
    platform::DeviceLock::Outcome outcome;
    FLock = platform::DeviceLock::tryAcquire(device.Path, outcome);
    if (outcome == platform::DeviceLock::Outcome::Busy) {
        FController->CheckIn(FDevice);
        throw ECliError(TExitCode::DeviceBusy, DeviceBusyText(device.Path));
    }
    FGone = false;
    FOpened = device;
    FDevice->SetNumInputBuffers(kInputBuffers);
    FDevice->SetNumOverlappedBuffers(kInputBuffers);
}

void TLocatorLink::Close() {
    if (FDevice)
        FController->CheckIn(FDevice);
    FLock.reset();
    FGone = false;
}

std::string TLocatorLink::Exchange(TDeviceCommand command) {
    if (!FDevice || FGone)
        throw ECliError(TExitCode::DeviceGone, "The device is gone.");
    auto answer = std::make_shared<std::optional<std::string>>();
    FAnswer = answer;
    command.Handler = THidDataEvent(std::function<void(THidDevice*, BYTE, const BYTE*, USHORT)>(
        [answer](THidDevice*, BYTE, const BYTE* Data, USHORT Size) {
            if (!*answer)
                *answer = LocatorAnswerText(Data, Size);
        }));
    StartDeviceCommand([this]() { return FGone ? nullptr : FDevice; }, std::move(command));
    const auto deadline = std::chrono::steady_clock::now() + FAnswerTimeout;
    while (!*answer && !FGone && std::chrono::steady_clock::now() < deadline)
        Pump(std::chrono::milliseconds(10));
    if (*answer)
        return **answer;
    if (FGone)
        throw ECliError(TExitCode::DeviceGone, FOpened.Path + " was unplugged during the command.");
    throw ECliError(TExitCode::NoAnswer, FOpened.Path + " did not answer within " +
                                             std::to_string(FAnswerTimeout.count()) + " ms.");
}

void TLocatorLink::Watch(THidDataEvent handler) {
    if (FDevice && !FGone)
        FDevice->SetOnData(std::move(handler));
}

void TLocatorLink::HidControlDeviceUnplug(THidDevice* HidDev) {
    if (HidDev && HidDev == FDevice)
        FGone = true; // checked in (and so deleted) by Close
}

void TLocatorLink::HidControlDeviceChange(void*) {
    if (OnDevicesChanged)
        OnDevicesChanged();
}

void TLocatorLink::HidControlDeviceCreateError(THidDeviceController*, THidPnPInfo*, bool& Handled,
                                               bool&) {
    Handled = true;
}

// A worker waits in Synchronize until this thread runs its procedure; let each one finish.
void TLocatorLink::LetCommandsFinish() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (CommandsInFlight() > 0 && std::chrono::steady_clock::now() < deadline)
        Pump(std::chrono::milliseconds(10));
}
