#pragma once
// tarvexctl's side of the device layer. The HID layer delivers answers, reports and hot-plug
// news on the UI thread (this process's main thread) through the plain queue of
// platform/uithread; without a window, the link pumps that queue itself while it waits.

#include "cli/CliError.h"
#include "hid/HidControllerClass.h"
#include "locator/DeviceCommand.h"
#include "platform/device/DeviceLock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One device of the controller's list as `list` shows it.
struct TListedDevice {
    int Index = 0; // position in the list; --device takes it
    std::string Path;
    std::string Name;
    std::string Manufacturer;
    std::string Serial;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint16_t Release = 0;
    bool Locator = false;
    bool Openable = false; // read-write access
};

class TLocatorLink {
public:
    // Builds the device list (the controller's first pass of the queue).
    explicit TLocatorLink(std::chrono::milliseconds answerTimeout);
    ~TLocatorLink();
    TLocatorLink(const TLocatorLink&) = delete;
    TLocatorLink& operator=(const TLocatorLink&) = delete;

    // Runs what is queued for the UI thread, waiting up to `wait` for something to arrive.
    void Pump(std::chrono::milliseconds wait);

    std::vector<TListedDevice> List();
    // The locator `selector` names (a path, a serial number or an index from List), or the
    // one locator attached when it is empty. Raises ECliError: none, several, not a locator.
    TListedDevice Select(const std::string& selector);

    // Checks the device out, locks it and makes sure it may be read and written. Raises
    // ECliError (gone, permission denied, busy).
    void Open(const TListedDevice& device);
    // Gives the device back; nothing happens when none is open.
    void Close();
    bool IsOpen() const { return FDevice != nullptr; }
    bool DeviceGone() const { return FGone; }
    const TListedDevice& Opened() const { return FOpened; }

    // Sends the command on the command road and waits for its answer: the report text of the
    // first full report after it. Raises ECliError NoAnswer or DeviceGone.
    std::string Exchange(TDeviceCommand command);
    // Hands every input report of the open device to handler (on this thread, while pumping).
    void Watch(THidDataEvent handler);

    // Called on every device change, after the list has been refreshed.
    std::function<void()> OnDevicesChanged;

private:
    bool HidControlEnumerate(THidDevice* HidDev, int Idx);
    void HidControlDeviceUnplug(THidDevice* HidDev);
    void HidControlDeviceChange(void* Sender);
    void HidControlDeviceCreateError(THidDeviceController*, THidPnPInfo*, bool& Handled, bool&);
    void LetCommandsFinish();

    std::chrono::milliseconds FAnswerTimeout;
    std::unique_ptr<THidDeviceController> FController;
    std::vector<TListedDevice> FListing; // filled by HidControlEnumerate
    THidDevice* FDevice = nullptr;
    TListedDevice FOpened;
    std::unique_ptr<platform::DeviceLock> FLock;
    bool FGone = false;
    // Keeps late answers of an abandoned exchange from reaching a finished one.
    std::shared_ptr<std::optional<std::string>> FAnswer;
};
