#include "hid/HidControllerClass.h"

#include <algorithm>
#include <array>

namespace {

// The string queries take a 508-byte buffer: 254 UTF-16 characters, of which the device may
// fill every one without a terminating NUL.
constexpr ULONG StringBufferBytes = 508;
constexpr std::size_t StringBufferChars = StringBufferBytes / sizeof(char16_t);

constexpr int MinPollingDelayTime = 0;
constexpr int MaxPollingDelayTime = 10000;
constexpr int MinThreadSleepTime = 10;
constexpr int MaxThreadSleepTime = 10000;

HANDLE OpenDevicePath(const std::u16string& path, DWORD access, DWORD flags) {
    return CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

int PlatformInputBuffers(HANDLE handle) {
    ULONG count = 0;
    return HidD_GetNumInputBuffers(handle, &count) ? static_cast<int>(count) : 0;
}

void CloseHandleIfOpen(std::atomic<HANDLE>& handle) {
    const HANDLE open = handle.exchange(INVALID_HANDLE_VALUE);
    if (open != INVALID_HANDLE_VALUE)
        CloseHandle(open);
}

} // namespace

THidDevice::THidDevice() : FMyController(nullptr) {
    throw EControllerError("Direct creation of a THidDevice object is not allowed");
}

THidDevice* THidDevice::CtlCreate(THidPnPInfo* APnPInfo, THidDeviceController* Controller) {
    return new THidDevice(APnPInfo, Controller);
}

THidDevice::THidDevice(THidPnPInfo* APnPInfo, THidDeviceController* Controller)
    : FMyController(Controller) {
    FPollingDelayTime = Controller->DevPollingDelayTime();
    FThreadSleepTime = Controller->DevThreadSleepTime();
    SetOnData(Controller->OnDeviceData());
    FOnUnplug = Controller->OnDeviceUnplug();
    FOnDataError = Controller->OnDeviceDataError();

    OpenWithAccessFallback(*APnPInfo);
    if (FHidFileHandle == INVALID_HANDLE_VALUE)
        throw EControllerError("Device cannot be opened");
    FAttributes.Size = sizeof(FAttributes);
    if (!HidD_GetAttributes(FHidFileHandle, &FAttributes)) {
        CloseFile();
        throw EControllerError("Device cannot be identified");
    }
    FPnPInfo.reset(APnPInfo);
    CloseFile();
}

THidDevice::~THidDevice() {
    const THidDataEvent data = FOnData;
    const THidPlugEvent unplug = FOnUnplug;
    SetOnData(nullptr);
    FOnUnplug = nullptr;
    CloseAll();
    if (const auto preparsed = FPreparsedData.exchange(nullptr))
        HidD_FreePreparsedData(preparsed);
    if (FMyController)
        ReplaceInController(data, unplug);
}

// Keeps the controller's list and counters right without this object: a plugged-in device is
// replaced at its position by a fresh, checked-in object for the same interface, which takes
// over the description; an unplugged one just leaves the list.
void THidDevice::ReplaceInController(const THidDataEvent& Data, const THidPlugEvent& Unplug) {
    THidDeviceController& controller = *FMyController;
    auto entry = std::find(controller.FList.begin(), controller.FList.end(), this);
    if (entry == controller.FList.end())
        return;
    if (!FIsPluggedIn) {
        controller.FList.erase(entry);
        --controller.FNumUnpluggedDevices;
        return;
    }
    if (FIsCheckedOut) {
        --controller.FNumCheckedOutDevices;
        ++controller.FNumCheckedInDevices;
    }
    // No fresh objects while the controller tears its list down.
    if (controller.FDestroying) {
        controller.FList.erase(entry);
        return;
    }
    try {
        THidDevice* replacement = CtlCreate(FPnPInfo.get(), &controller);
        FPnPInfo.release();
        replacement->SetOnData(Data);
        replacement->FOnUnplug = Unplug;
        replacement->SetPollingDelayTime(FPollingDelayTime);
        replacement->SetThreadSleepTime(FThreadSleepTime);
        *entry = replacement;
    } catch (const std::exception&) {
        // A destructor cannot pass errors on: whatever stopped the replacement, the interface
        // leaves the list, as when it cannot be opened any more.
        controller.FList.erase(entry);
        --controller.FNumCheckedInDevices;
    }
}

void THidDevice::OpenWithAccessFallback(const THidPnPInfo& Info) {
    HANDLE handle = OpenDevicePath(Info.DevicePath(), GENERIC_READ | GENERIC_WRITE, 0);
    FHasReadWriteAccess = handle != INVALID_HANDLE_VALUE;
    if (!FHasReadWriteAccess)
        handle = OpenDevicePath(Info.DevicePath(), 0, 0);
    FHidFileHandle = handle;
}

bool THidDevice::IsAccessible() const {
    return FIsPluggedIn && (FIsCheckedOut || FIsEnumerated);
}

bool THidDevice::OpenFile() {
    if (IsAccessible() && FHidFileHandle == INVALID_HANDLE_VALUE && FPnPInfo) {
        OpenWithAccessFallback(*FPnPInfo);
        if (FHidFileHandle != INVALID_HANDLE_VALUE)
            FNumInputBuffers = PlatformInputBuffers(FHidFileHandle);
    }
    return FHidFileHandle != INVALID_HANDLE_VALUE;
}

bool THidDevice::OpenFileEx(THidOpenExMode Mode) {
    if (!IsAccessible() || !FPnPInfo)
        return false;
    std::atomic<HANDLE>& slot = Mode == omhRead ? FHidOverlappedRead : FHidOverlappedWrite;
    if (slot.load() != INVALID_HANDLE_VALUE)
        return true;
    const HANDLE opened =
        OpenDevicePath(FPnPInfo->DevicePath(), Mode == omhRead ? GENERIC_READ : GENERIC_WRITE,
                       FILE_FLAG_OVERLAPPED);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    // The reader and the UI thread may both open the read handle; the first one stays.
    HANDLE expected = INVALID_HANDLE_VALUE;
    if (!slot.compare_exchange_strong(expected, opened)) {
        CloseHandle(opened);
        return true;
    }
    if (Mode == omhRead)
        FNumOverlappedBuffers = PlatformInputBuffers(opened);
    return true;
}

void THidDevice::CloseFile() {
    if (FHidFileHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FHidFileHandle);
    FHidFileHandle = INVALID_HANDLE_VALUE;
    FNumInputBuffers = 0;
}

void THidDevice::CloseFileEx(THidOpenExMode Mode) {
    if (Mode == omhRead) {
        CloseHandleIfOpen(FHidOverlappedRead);
        FNumOverlappedBuffers = 0;
    } else {
        CloseHandleIfOpen(FHidOverlappedWrite);
    }
}

void THidDevice::CloseAll() {
    CloseFile();
    CloseFileEx(omhRead);
    CloseFileEx(omhWrite);
}

bool THidDevice::CancelIO(THidOpenExMode Mode) {
    const HANDLE handle = Mode == omhRead ? FHidOverlappedRead.load() : FHidOverlappedWrite.load();
    return handle != INVALID_HANDLE_VALUE && CancelIo(handle);
}

bool THidDevice::WriteFile(const void* Report, DWORD ToWrite, DWORD& BytesWritten) {
    if (!OpenFile())
        return false;
    return ::WriteFile(FHidFileHandle, Report, ToWrite, &BytesWritten, nullptr);
}

bool THidDevice::ReadFileEx(void* Report, DWORD ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
    if (!OpenFileEx(omhRead))
        return false;
    FOvlRead = OVERLAPPED{};
    // Left alone by the platform when a completion routine is used: lets the routine find us.
    FOvlRead.hEvent = this;
    return ::ReadFileEx(FHidOverlappedRead, Report, ToRead, &FOvlRead, CallBack);
}

DWORD THidDevice::HidOverlappedReadResult() {
    const HANDLE handle = FHidOverlappedRead;
    DWORD count = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetOverlappedResult(handle, &FOvlRead, &count, FALSE))
        return 0;
    return count;
}

std::u16string THidDevice::ReadString(std::u16string& Cache,
                                      BOOLEAN (*Query)(HANDLE, PVOID, ULONG)) {
    if (Cache.empty() && OpenFile()) {
        std::array<char16_t, StringBufferChars> buffer{};
        if (Query(FHidFileHandle, buffer.data(), StringBufferBytes)) {
            const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
            Cache.assign(buffer.begin(), end);
        }
        CloseFile();
    }
    return Cache;
}

std::u16string THidDevice::VendorName() {
    return ReadString(FVendorName, HidD_GetManufacturerString);
}

std::u16string THidDevice::ProductName() {
    return ReadString(FProductName, HidD_GetProductString);
}

PHIDP_PREPARSED_DATA THidDevice::PreparsedData() {
    if (!FPreparsedData && OpenFile()) {
        PHIDP_PREPARSED_DATA loaded = nullptr;
        HidD_GetPreparsedData(FHidFileHandle, &loaded);
        FPreparsedData = loaded;
        CloseFile();
    }
    return FPreparsedData;
}

HIDP_CAPS THidDevice::Caps() {
    PreparsedData();
    return HeldCaps();
}

HIDP_CAPS THidDevice::HeldCaps() const {
    HIDP_CAPS caps{};
    if (const auto preparsed = FPreparsedData.load())
        HidP_GetCaps(preparsed, &caps);
    return caps;
}

void THidDevice::SetNumInputBuffers(int N) {
    if (N == FNumInputBuffers || !OpenFile())
        return;
    HidD_SetNumInputBuffers(FHidFileHandle, static_cast<ULONG>(N));
    FNumInputBuffers = PlatformInputBuffers(FHidFileHandle);
}

void THidDevice::SetNumOverlappedBuffers(int N) {
    if (N == FNumOverlappedBuffers || !OpenFileEx(omhRead))
        return;
    HidD_SetNumInputBuffers(FHidOverlappedRead, static_cast<ULONG>(N));
    FNumOverlappedBuffers = PlatformInputBuffers(FHidOverlappedRead);
}

void THidDevice::SetPollingDelayTime(int Value) {
    if (Value >= MinPollingDelayTime && Value <= MaxPollingDelayTime)
        FPollingDelayTime = Value;
}

void THidDevice::SetThreadSleepTime(int Value) {
    if (Value >= MinThreadSleepTime && Value <= MaxThreadSleepTime)
        FThreadSleepTime = Value;
}

void THidDevice::SetOnData(const THidDataEvent& Handler) {
    if (!Handler)
        StopThread();
    FOnData = Handler;
    StartThread();
}

void THidDevice::StartThread() {
    if (FOnData && FIsPluggedIn && FIsCheckedOut && FHasReadWriteAccess && !FDataThread)
        FDataThread = THidDeviceReadThread::CtlCreate(this);
}

void THidDevice::StopThread() {
    if (!FDataThread)
        return;
    FDataThread->Terminate();
    FDataThread->WaitFor();
    FDataThread.reset();
}

bool THidDevice::CheckOut() {
    if (!FMyController || !FIsPluggedIn || FIsCheckedOut)
        return false;
    FIsCheckedOut = true;
    ++FMyController->FNumCheckedOutDevices;
    --FMyController->FNumCheckedInDevices;
    StartThread();
    return true;
}

void THidDevice::DoUnplug() {
    CloseAll();
    FIsPluggedIn = false;
    if (FOnUnplug) {
        const THidPlugEvent handler = FOnUnplug;
        FOnUnplug = nullptr;
        handler(this);
    }
}
