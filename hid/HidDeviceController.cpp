#include "hid/HidDeviceController.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace {

// Where the path starts in the interface-detail record, and the record's fixed part (size field
// and terminating NUL) that the size field must hold whatever the buffer's length.
constexpr DWORD DetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
constexpr DWORD DetailFixedSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
constexpr DWORD DetailMinimumSize = DetailPathOffset + sizeof(WCHAR);
// lParam of the controller's own first notification: that refresh always reports a change.
constexpr LPARAM OwnNotification = -1;

// A device and whether it still exists: handlers may delete any device while a walk runs.
struct TDeviceRef {
    THidDevice* device;
    std::weak_ptr<int> life;
    bool Alive() const { return !life.expired(); }
};

std::optional<std::u16string> InterfacePath(HDEVINFO PnPHandle, SP_DEVICE_INTERFACE_DATA& Iface,
                                            SP_DEVINFO_DATA& DevData) {
    DWORD size = 0;
    if (SetupDiGetDeviceInterfaceDetailW(PnPHandle, &Iface, nullptr, 0, &size, &DevData) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < DetailMinimumSize)
        return std::nullopt;
    std::vector<BYTE> buffer(size, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = DetailFixedSize;
    if (!SetupDiGetDeviceInterfaceDetailW(PnPHandle, &Iface, detail, size, nullptr, &DevData))
        return std::nullopt;
    std::u16string path((size - DetailMinimumSize) / sizeof(char16_t), u'\0');
    std::memcpy(path.data(), buffer.data() + DetailPathOffset, path.size() * sizeof(char16_t));
    path.resize(std::char_traits<char16_t>::length(path.c_str()));
    return path;
}

} // namespace

THidDeviceController::THidDeviceController() : THidDeviceController(nullptr, nullptr) {}

THidDeviceController::THidDeviceController(const THidDeviceCreateError& AOnHidCtlDeviceCreateError,
                                           const TNotifyEvent& AOnDeviceChange) {
    FSetupApiBound = LoadSetupApi();
    FHidBound = FSetupApiBound && LoadHid();
    SetOnDeviceChange(AOnDeviceChange);
    OnDeviceCreateError = AOnHidCtlDeviceCreateError;
    if (IsHidLoaded()) {
        HidD_GetHidGuid(&FHidGuid);
        FHWnd = AllocateHWnd([this](TMessage& Msg) { EventPipe(Msg); });
        PostMessage(FHWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, OwnNotification);
    } else {
        FHidGuid = cHidGuid;
    }
}

THidDeviceController::~THidDeviceController() {
    FDestroying = true;
    FOnDeviceChange = nullptr;
    OnEnumerate = nullptr;
    SetOnDeviceUnplug(nullptr);
    const bool hidLoaded = IsHidLoaded();
    if (hidLoaded && FHWnd)
        DeallocateHWnd(FHWnd);
    // Each device leaves the list before it is told anything, so an unplug handler that
    // deletes devices finds them either still listed (and removes them itself) or gone.
    while (!FList.empty()) {
        THidDevice* device = FList.front();
        FList.erase(FList.begin());
        const TDeviceRef ref{device, device->FLifeToken};
        device->FMyController = nullptr;
        if (device->IsCheckedOut())
            device->DoUnplug();
        if (ref.Alive())
            delete device;
    }
    // Only what this controller bound, so that another controller's bindings keep their count.
    if (FHidBound)
        UnloadHid();
    if (FSetupApiBound)
        UnloadSetupApi();
}

void THidDeviceController::EventPipe(TMessage& Msg) {
    if (!FDestroying && Msg.Msg == WM_DEVICECHANGE && Msg.WParam == DBT_DEVNODES_CHANGED &&
        !FInDeviceChange) {
        FLParam = Msg.LParam;
        FInDeviceChange = true;
        try {
            DeviceChange();
        } catch (...) {
            FInDeviceChange = false;
            throw;
        }
        FInDeviceChange = false;
    }
    Msg.Result = DefWindowProc(FHWnd, Msg.Msg, Msg.WParam, Msg.LParam);
}

void THidDeviceController::DeviceChange() {
    bool changed = FLParam == OwnNotification;
    std::vector<THidDevice*> newList = FillInList();
    RemoveVanished(newList, changed);
    AddArrivals(newList, changed);
    RecountDevices();
    if (changed)
        DoDeviceChange();
}

bool THidDeviceController::IsListed(const THidDevice* HidDev) const {
    return std::find(FList.begin(), FList.end(), HidDev) != FList.end();
}

void THidDeviceController::DeleteUnlisted(THidDevice* HidDev) {
    HidDev->FMyController = nullptr;
    delete HidDev;
}

// Last to first over the list as it was, skipping whatever a handler deleted meanwhile.
void THidDeviceController::RemoveVanished(const std::vector<THidDevice*>& NewList, bool& Changed) {
    std::vector<TDeviceRef> listed;
    for (THidDevice* device : FList)
        listed.push_back({device, device->FLifeToken});
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        if (!it->Alive() || !IsListed(it->device))
            continue;
        THidDevice* device = it->device;
        const DWORD id = device->PnPInfo()->DeviceID();
        const bool present =
            device->IsPluggedIn() &&
            std::any_of(NewList.begin(), NewList.end(), [id](const THidDevice* found) {
                return found->PnPInfo()->DeviceID() == id;
            });
        if (present)
            continue;
        Changed = true;
        device->DoUnplug();
        if (!it->Alive())
            continue;
        DoRemoval(device);
        if (!it->Alive() || device->IsCheckedOut() || !IsListed(device))
            continue;
        FList.erase(std::find(FList.begin(), FList.end(), device));
        DeleteUnlisted(device);
    }
}

void THidDeviceController::AddArrivals(std::vector<THidDevice*>& NewList, bool& Changed) {
    std::vector<THidDevice*> arrivals;
    for (THidDevice* found : NewList) {
        const DWORD id = found->PnPInfo()->DeviceID();
        const bool listed = std::any_of(FList.begin(), FList.end(), [id](const THidDevice* d) {
            return d->IsPluggedIn() && d->PnPInfo() && d->PnPInfo()->DeviceID() == id;
        });
        if (listed)
            DeleteUnlisted(found);
        else
            arrivals.push_back(found);
    }
    NewList.clear();
    std::vector<TDeviceRef> refs;
    for (THidDevice* device : arrivals) {
        FList.push_back(device);
        refs.push_back({device, device->FLifeToken});
        Changed = true;
    }
    for (const TDeviceRef& ref : refs)
        if (ref.Alive() && IsListed(ref.device))
            DoArrival(ref.device);
}

void THidDeviceController::RecountDevices() {
    int checkedOut = 0;
    FNumCheckedInDevices = 0;
    FNumUnpluggedDevices = 0;
    for (const THidDevice* device : FList) {
        if (device->IsCheckedOut())
            ++checkedOut;
        else
            ++FNumCheckedInDevices;
        if (!device->IsPluggedIn())
            ++FNumUnpluggedDevices;
    }
    FNumCheckedOutDevices = checkedOut - FNumUnpluggedDevices;
}

std::vector<THidDevice*> THidDeviceController::FillInList() {
    std::vector<THidDevice*> found;
    if (!IsHidLoaded())
        return found;
    const HDEVINFO pnpHandle = SetupDiGetClassDevsW(
        &FHidGuid, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_DEVICEINTERFACE);
    if (pnpHandle == INVALID_HANDLE_VALUE)
        return found;
    try {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        for (DWORD devn = 0;
             SetupDiEnumDeviceInterfaces(pnpHandle, nullptr, &FHidGuid, devn, &iface); ++devn) {
            SP_DEVINFO_DATA devData{};
            devData.cbSize = sizeof(devData);
            const auto path = InterfacePath(pnpHandle, iface, devData);
            if (!path)
                continue;
            auto pnpInfo = std::make_unique<THidPnPInfo>(pnpHandle, devData, *path);
            if (THidDevice* device = CreateDevice(pnpInfo))
                found.push_back(device);
        }
    } catch (...) {
        for (THidDevice* device : found)
            DeleteUnlisted(device);
        SetupDiDestroyDeviceInfoList(pnpHandle);
        throw;
    }
    SetupDiDestroyDeviceInfoList(pnpHandle);
    return found;
}

// Null when the creation-error handler chose to skip the interface; its description is then
// released here. An error the handler does not handle propagates.
THidDevice* THidDeviceController::CreateDevice(std::unique_ptr<THidPnPInfo>& PnPInfo) {
    bool retryCreate = false;
    for (;;) {
        try {
            THidDevice* device = THidDevice::CtlCreate(PnPInfo.get(), this);
            PnPInfo.release();
            return device;
        } catch (const EControllerError&) {
            if (!OnDeviceCreateError)
                throw;
            bool handled = false;
            OnDeviceCreateError(this, PnPInfo.get(), handled, retryCreate);
            if (!handled)
                throw;
            if (!retryCreate)
                return nullptr;
        }
    }
}

void THidDeviceController::DoArrival(THidDevice* HidDev) {
    if (!OnArrival)
        return;
    CallWhileEnumerated(HidDev, [&] {
        OnArrival(HidDev);
        return true;
    });
}

void THidDeviceController::DoRemoval(THidDevice* HidDev) {
    if (!OnRemoval)
        return;
    CallWhileEnumerated(HidDev, [&] {
        OnRemoval(HidDev);
        return true;
    });
}

void THidDeviceController::DoDeviceChange() {
    if (FOnDeviceChange)
        FOnDeviceChange(this);
}

// Makes the device accessible for the call. The handler may delete it: then it is left alone.
bool THidDeviceController::CallWhileEnumerated(THidDevice* HidDev,
                                               const std::function<bool()>& Call) {
    const TDeviceRef ref{HidDev, HidDev->FLifeToken};
    HidDev->FIsEnumerated = true;
    bool result = false;
    try {
        result = Call();
    } catch (...) {
        if (ref.Alive())
            HidDev->FIsEnumerated = false;
        throw;
    }
    if (ref.Alive())
        HidDev->FIsEnumerated = false;
    return result;
}

bool THidDeviceController::DoEnumerate(THidDevice* HidDev, int Idx) {
    if (!OnEnumerate)
        return false;
    const TDeviceRef ref{HidDev, HidDev->FLifeToken};
    const bool goOn = CallWhileEnumerated(HidDev, [&] { return OnEnumerate(HidDev, Idx); });
    if (ref.Alive() && !HidDev->IsCheckedOut())
        HidDev->CloseAll();
    return goOn;
}

int THidDeviceController::Enumerate() {
    int offered = 0;
    for (std::size_t i = 0; i < FList.size(); ++i) {
        THidDevice* device = FList[i];
        if (!device->IsPluggedIn())
            continue;
        ++offered;
        if (!DoEnumerate(device, static_cast<int>(i)))
            break;
    }
    return offered;
}

bool THidDeviceController::CheckThisOut(THidDevice*& HidDev, int Idx, const TDeviceCheck& Check) {
    THidDevice* device = FList[static_cast<std::size_t>(Idx)];
    if (device->IsCheckedOut() || !Check(device))
        return false;
    HidDev = device;
    device->FIsCheckedOut = true;
    device->RetryReadWriteAccess();
    ++FNumCheckedOutDevices;
    --FNumCheckedInDevices;
    device->StartThread();
    return true;
}

bool THidDeviceController::CheckOutFirst(THidDevice*& HidDev, const TDeviceCheck& Check) {
    HidDev = nullptr;
    for (std::size_t i = 0; i < FList.size(); ++i)
        if (CheckThisOut(HidDev, static_cast<int>(i), Check))
            return true;
    return false;
}

bool THidDeviceController::CheckOut(THidDevice*& HidDev) {
    return CheckOutFirst(HidDev, [](THidDevice*) { return true; });
}

bool THidDeviceController::CheckOutByIndex(THidDevice*& HidDev, int Idx) {
    HidDev = nullptr;
    if (Idx < 0 || static_cast<std::size_t>(Idx) >= FList.size())
        return false;
    return CheckThisOut(HidDev, Idx, [](THidDevice*) { return true; });
}

namespace {

bool MatchesID(THidDevice* device, int Vid, int Pid) {
    return device->Attributes().VendorID == Vid &&
           (device->Attributes().ProductID == Pid || Pid == -1);
}

const std::u16string& ClassOf(THidDevice* device) {
    return device->PnPInfo()->ClassDescr();
}

} // namespace

bool THidDeviceController::CheckOutByID(THidDevice*& HidDev, int Vid, int Pid) {
    return CheckOutFirst(HidDev, [=](THidDevice* d) { return MatchesID(d, Vid, Pid); });
}

bool THidDeviceController::CheckOutByProductName(THidDevice*& HidDev,
                                                 const std::u16string& ProductName) {
    HidDev = nullptr;
    if (ProductName.empty())
        return false;
    return CheckOutFirst(HidDev, [&](THidDevice* d) { return d->ProductName() == ProductName; });
}

bool THidDeviceController::CheckOutByVendorName(THidDevice*& HidDev,
                                                const std::u16string& VendorName) {
    HidDev = nullptr;
    if (VendorName.empty())
        return false;
    return CheckOutFirst(HidDev, [&](THidDevice* d) { return d->VendorName() == VendorName; });
}

bool THidDeviceController::CheckOutByClass(THidDevice*& HidDev, const std::u16string& ClassName) {
    HidDev = nullptr;
    if (ClassName.empty())
        return false;
    return CheckOutFirst(HidDev, [&](THidDevice* d) { return ClassOf(d) == ClassName; });
}

bool THidDeviceController::CheckOutByCallback(THidDevice*& HidDev, THidCheckCallback Check) {
    return CheckOutFirst(HidDev, [&](THidDevice* d) {
        const bool taken = CallWhileEnumerated(d, [&] { return Check(d); });
        if (!taken)
            d->CloseAll();
        return taken;
    });
}

void THidDeviceController::SetCapture(std::shared_ptr<THidCapture> Capture) {
    FCapture = std::move(Capture);
    for (THidDevice* device : FList)
        device->SetCapture(device->IsCheckedOut() ? FCapture : nullptr);
}

void THidDeviceController::CheckIn(THidDevice*& HidDev) {
    if (!HidDev)
        return;
    THidDevice* device = HidDev;
    HidDev = nullptr;
    device->StopThread();
    device->CloseAll();
    if (device->IsPluggedIn()) {
        device->FIsCheckedOut = false;
        --FNumCheckedOutDevices;
        ++FNumCheckedInDevices;
    } else {
        delete device;
    }
}

int THidDeviceController::CountPluggedIn(const TDeviceCheck& Check) {
    int count = 0;
    for (THidDevice* device : FList)
        if (device->IsPluggedIn() && Check(device))
            ++count;
    return count;
}

int THidDeviceController::CountByID(int Vid, int Pid) {
    return CountPluggedIn([=](THidDevice* d) { return MatchesID(d, Vid, Pid); });
}

int THidDeviceController::CountByProductName(const std::u16string& ProductName) {
    return CountPluggedIn([&](THidDevice* d) { return d->ProductName() == ProductName; });
}

int THidDeviceController::CountByVendorName(const std::u16string& VendorName) {
    return CountPluggedIn([&](THidDevice* d) { return d->VendorName() == VendorName; });
}

int THidDeviceController::CountByClass(const std::u16string& ClassName) {
    return CountPluggedIn([&](THidDevice* d) { return ClassOf(d) == ClassName; });
}

int THidDeviceController::CountByCallback(THidCheckCallback Check) {
    return CountPluggedIn([&](THidDevice* d) {
        const bool counted = CallWhileEnumerated(d, [&] { return Check(d); });
        if (!d->IsCheckedOut())
            d->CloseAll();
        return counted;
    });
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& Notifier) {
    if (Notifier == FOnDeviceChange)
        return;
    FOnDeviceChange = Notifier;
    DeviceChange();
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& DataEvent) {
    if (DataEvent == FOnDeviceData)
        return;
    for (THidDevice* device : std::vector<THidDevice*>(FList))
        if (device->OnData() == FOnDeviceData)
            device->SetOnData(DataEvent);
    FOnDeviceData = DataEvent;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& DataErrorEvent) {
    if (DataErrorEvent == FOnDeviceDataError)
        return;
    for (THidDevice* device : FList)
        if (device->OnDataError() == FOnDeviceDataError)
            device->SetOnDataError(DataErrorEvent);
    FOnDeviceDataError = DataErrorEvent;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& Unplugger) {
    if (Unplugger == FOnDeviceUnplug)
        return;
    for (THidDevice* device : FList)
        if (device->OnUnplug() == FOnDeviceUnplug)
            device->SetOnUnplug(Unplugger);
    FOnDeviceUnplug = Unplugger;
}

void THidDeviceController::SetDevPollingDelayTime(int DevTime) {
    if (DevTime == FDevPollingDelayTime)
        return;
    for (THidDevice* device : FList)
        if (device->PollingDelayTime() == FDevPollingDelayTime)
            device->SetPollingDelayTime(DevTime);
    FDevPollingDelayTime = DevTime;
}

void THidDeviceController::SetDevThreadSleepTime(int DevTime) {
    if (DevTime == FDevThreadSleepTime)
        return;
    for (THidDevice* device : FList)
        if (device->ThreadSleepTime() == FDevThreadSleepTime)
            device->SetThreadSleepTime(DevTime);
    FDevThreadSleepTime = DevTime;
}

std::string THidDeviceController::HidVersion() {
    // The HID library here is built in and carries no version resource.
    return {};
}
