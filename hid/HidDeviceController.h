#pragma once

#include "hid/HidDevice.h"
#include "platform/uithread/Messages.h"

#include <memory>
#include <string>
#include <vector>

// Keeps the list of attached HID interfaces, refreshes it when the system announces that
// device nodes changed, and hands devices out (check-out) and takes them back (check-in).
// Owns every device object it lists; an application's device references are invalid once the
// controller is deleted. Event handlers may delete any device object, including the one they
// are told about; the walks over the list survive that.
class THidDeviceController {
public:
    static constexpr GUID cHidGuid = {
        0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

    THidDeviceController();
    // Binds the setup and HID libraries and, when both are there, posts itself the first
    // device-change notification: the list fills at the event loop's next pass.
    THidDeviceController(const THidDeviceCreateError& AOnHidCtlDeviceCreateError,
                         const TNotifyEvent& AOnDeviceChange);
    ~THidDeviceController();
    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    // Offers each plugged-in device to OnEnumerate; the number offered.
    int Enumerate();
    bool CheckOut(THidDevice*& HidDev);
    bool CheckOutByIndex(THidDevice*& HidDev, int Idx);
    // Pid -1 matches any product; Vid has no wildcard.
    bool CheckOutByID(THidDevice*& HidDev, int Vid, int Pid);
    bool CheckOutByProductName(THidDevice*& HidDev, const std::u16string& ProductName);
    bool CheckOutByVendorName(THidDevice*& HidDev, const std::u16string& VendorName);
    bool CheckOutByClass(THidDevice*& HidDev, const std::u16string& ClassName);
    bool CheckOutByCallback(THidDevice*& HidDev, THidCheckCallback Check);
    // Stops the reader and closes the handles; an unplugged device is deleted. HidDev becomes
    // null.
    void CheckIn(THidDevice*& HidDev);
    int CountByID(int Vid, int Pid);
    int CountByProductName(const std::u16string& ProductName);
    int CountByVendorName(const std::u16string& VendorName);
    int CountByClass(const std::u16string& ClassName);
    int CountByCallback(THidCheckCallback Check);
    // Refreshes the list now.
    void DeviceChange();
    // The HID library's file version; empty where it has no version resource, as here.
    static std::string HidVersion();

    const GUID& HidGuid() const { return FHidGuid; }
    int NumCheckedInDevices() const { return FNumCheckedInDevices; }
    int NumCheckedOutDevices() const { return FNumCheckedOutDevices; }
    int NumUnpluggedDevices() const { return FNumUnpluggedDevices; }
    // The listed devices in list order; valid until the list next changes.
    const std::vector<THidDevice*>& Devices() const { return FList; }
    std::string Version() const { return FVersion; }
    // Every report of the checked-out devices, and of devices checked out later, goes to
    // Capture as well until it is replaced; none ends capturing.
    void SetCapture(std::shared_ptr<THidCapture> Capture);
    const std::shared_ptr<THidCapture>& Capture() const { return FCapture; }

    int DevPollingDelayTime() const { return FDevPollingDelayTime; }
    void SetDevPollingDelayTime(int DevTime);
    int DevThreadSleepTime() const { return FDevThreadSleepTime; }
    void SetDevThreadSleepTime(int DevTime);

    THidPlugEvent OnArrival;
    THidEnumerateEvent OnEnumerate;
    THidDeviceCreateError OnDeviceCreateError;
    THidPlugEvent OnRemoval;
    const TNotifyEvent& OnDeviceChange() const { return FOnDeviceChange; }
    void SetOnDeviceChange(const TNotifyEvent& Notifier);
    const THidDataEvent& OnDeviceData() const { return FOnDeviceData; }
    void SetOnDeviceData(const THidDataEvent& DataEvent);
    const THidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
    void SetOnDeviceDataError(const THidDataErrorEvent& DataErrorEvent);
    const THidPlugEvent& OnDeviceUnplug() const { return FOnDeviceUnplug; }
    void SetOnDeviceUnplug(const THidPlugEvent& Unplugger);

private:
    friend class THidDevice;
    using TDeviceCheck = std::function<bool(THidDevice*)>;

    void EventPipe(TMessage& Msg);
    std::vector<THidDevice*> FillInList();
    THidDevice* CreateDevice(std::unique_ptr<THidPnPInfo>& PnPInfo);
    bool CheckThisOut(THidDevice*& HidDev, int Idx, const TDeviceCheck& Check);
    bool CheckOutFirst(THidDevice*& HidDev, const TDeviceCheck& Check);
    int CountPluggedIn(const TDeviceCheck& Check);
    bool CallWhileEnumerated(THidDevice* HidDev, const std::function<bool()>& Call);
    void DoArrival(THidDevice* HidDev);
    void DoRemoval(THidDevice* HidDev);
    void DoDeviceChange();
    bool DoEnumerate(THidDevice* HidDev, int Idx);
    void RemoveVanished(const std::vector<THidDevice*>& NewList, bool& Changed);
    void AddArrivals(std::vector<THidDevice*>& NewList, bool& Changed);
    void RecountDevices();
    bool IsListed(const THidDevice* HidDev) const;
    void DeleteUnlisted(THidDevice* HidDev);

    GUID FHidGuid{};
    TNotifyEvent FOnDeviceChange;
    THidDataEvent FOnDeviceData;
    THidDataErrorEvent FOnDeviceDataError;
    THidPlugEvent FOnDeviceUnplug;
    int FDevPollingDelayTime = 0;
    int FDevThreadSleepTime = 100;
    std::string FVersion = "1.0.35";
    std::vector<THidDevice*> FList;
    std::shared_ptr<THidCapture> FCapture;
    int FNumCheckedInDevices = 0;
    int FNumCheckedOutDevices = 0;
    int FNumUnpluggedDevices = 0;
    bool FInDeviceChange = false;
    bool FDestroying = false;
    bool FSetupApiBound = false;
    bool FHidBound = false;
    LPARAM FLParam = 0;
    HWND FHWnd = nullptr;
};
