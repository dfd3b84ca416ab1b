#include "hid/HidDevice.h"
#include "hid/HidDeviceController.h"
#include "hid/HidDeviceReadThread.h"

#include "platform/device/DeviceSource.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Locale.h"
#include "platform/win32/Utf16.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// The string queries take a 508-byte buffer: 254 UTF-16 characters, of which the device may
// fill every one without a terminating NUL.
constexpr ULONG StringBufferBytes = 508;
constexpr std::size_t StringBufferChars = StringBufferBytes / sizeof(char16_t);
using StringBuffer = std::array<char16_t, StringBufferChars>;

// String 0 is the device's list of language identifiers rather than text.
constexpr ULONG LanguageListIndex = 0;
constexpr char16_t UnwrittenWord = 0xFFFF;
constexpr int LocaleNameChars = 256;

// The physical descriptor is asked for with a growing length, up to this many words.
constexpr std::size_t MaxPhysicalDescriptorWords = 2048;

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

std::u16string TextUpToNul(const StringBuffer& buffer) {
    return std::u16string(buffer.begin(), std::find(buffer.begin(), buffer.end(), u'\0'));
}

// Fetches the language list into a buffer prefilled with 0xFFFF words, so that the words the
// device wrote can be told from the rest whether or not it ended the list with a NUL.
bool FetchLanguageList(HANDLE handle, StringBuffer& ids) {
    ids.fill(UnwrittenWord);
    return HidD_GetIndexedString(handle, LanguageListIndex, ids.data(), StringBufferBytes);
}

// The number of identifiers in a fetched list: up to the last word written, less a NUL that
// ends it.
std::size_t LanguageCount(const StringBuffer& ids) {
    const auto lastWritten =
        std::find_if(ids.rbegin(), ids.rend(), [](char16_t word) { return word != UnwrittenWord; });
    if (lastWritten == ids.rend())
        return 0;
    const auto position = static_cast<std::size_t>(ids.rend() - lastWritten) - 1;
    return *lastWritten == u'\0' ? position : position + 1;
}

std::u16string LocaleName(WORD languageId) {
    std::array<WCHAR, LocaleNameChars> name{};
    if (GetLocaleInfoW(languageId, LOCALE_SLANGUAGE, name.data(), LocaleNameChars) > 0)
        return std::u16string(name.data());
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown Locale ID $%.4X", languageId);
    return std::u16string(unknown, unknown + std::char_traits<char>::length(unknown));
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

std::uint64_t THidDevice::DroppedInputReports() const {
    const HANDLE reading = FHidOverlappedRead.load();
    const std::uint64_t platformDropped =
        reading == INVALID_HANDLE_VALUE ? 0 : platform::droppedInputReports(reading);
    return platformDropped + FDroppedByStoppedReaders +
           (FDataThread ? FDataThread->DroppedReports() : 0);
}

void THidDevice::RetryReadWriteAccess() {
    if (FHasReadWriteAccess || !FPnPInfo)
        return;
    CloseFile();
    OpenFile();
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
    const bool written = ::WriteFile(FHidFileHandle, Report, ToWrite, &BytesWritten, nullptr);
    if (written)
        CaptureReport(false, Report, ToWrite);
    return written;
}

bool THidDevice::ReadFileEx(void* Report, DWORD ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
    if (!OpenFileEx(omhRead))
        return false;
    FOvlRead = OVERLAPPED{};
    // Left alone by the platform when a completion routine is used: lets the routine find us.
    FOvlRead.hEvent = this;
    return ReadFileEx(Report, ToRead, FOvlRead, CallBack);
}

bool THidDevice::ReadFileEx(void* Report, DWORD ToRead, OVERLAPPED& Ovl,
                            LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
    if (!OpenFileEx(omhRead))
        return false;
    return ::ReadFileEx(FHidOverlappedRead, Report, ToRead, &Ovl, CallBack);
}

DWORD THidDevice::HidOverlappedReadResult() {
    return HidOverlappedReadResult(FOvlRead);
}

DWORD THidDevice::HidOverlappedReadResult(OVERLAPPED& Ovl) {
    const HANDLE handle = FHidOverlappedRead;
    DWORD count = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetOverlappedResult(handle, &Ovl, &count, FALSE))
        return 0;
    return count;
}

bool THidDevice::ReadFile(void* Report, DWORD ToRead, DWORD& BytesRead) {
    if (!OpenFile())
        return false;
    return ::ReadFile(FHidFileHandle, Report, ToRead, &BytesRead, nullptr);
}

bool THidDevice::WriteFileEx(const void* Report, DWORD ToWrite,
                             LPOVERLAPPED_COMPLETION_ROUTINE CallBack) {
    if (!OpenFileEx(omhWrite))
        return false;
    FOvlWrite = OVERLAPPED{};
    FOvlWrite.hEvent = this;
    const bool started = ::WriteFileEx(FHidOverlappedWrite, Report, ToWrite, &FOvlWrite, CallBack);
    if (started)
        CaptureReport(false, Report, ToWrite);
    return started;
}

DWORD THidDevice::HidOverlappedWriteResult() {
    const HANDLE handle = FHidOverlappedWrite;
    DWORD count = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetOverlappedResult(handle, &FOvlWrite, &count, FALSE))
        return 0;
    return count;
}

bool THidDevice::FlushQueue() {
    return OpenFile() && HidD_FlushQueue(FHidFileHandle);
}

bool THidDevice::GetFeature(void* Report, int Size) {
    return OpenFile() && HidD_GetFeature(FHidFileHandle, Report, static_cast<ULONG>(Size));
}

bool THidDevice::SetFeature(void* Report, int Size) {
    return OpenFile() && HidD_SetFeature(FHidFileHandle, Report, static_cast<ULONG>(Size));
}

bool THidDevice::GetInputReport(void* Report, DWORD Size) {
    return HidD_GetInputReport && OpenFile() && HidD_GetInputReport(FHidFileHandle, Report, Size);
}

bool THidDevice::SetOutputReport(void* Report, DWORD Size) {
    return HidD_SetOutputReport && OpenFile() && HidD_SetOutputReport(FHidFileHandle, Report, Size);
}

bool THidDevice::DeviceIoControl(DWORD IoControlCode, void* InBuffer, DWORD InSize, void* OutBuffer,
                                 DWORD OutSize, DWORD& BytesReturned) {
    return OpenFile() && ::DeviceIoControl(FHidFileHandle, IoControlCode, InBuffer, InSize,
                                           OutBuffer, OutSize, &BytesReturned, nullptr);
}

std::u16string THidDevice::ReadString(std::u16string& Cache,
                                      BOOLEAN (*Query)(HANDLE, PVOID, ULONG)) {
    if (Cache.empty() && OpenFile()) {
        StringBuffer buffer{};
        if (Query(FHidFileHandle, buffer.data(), StringBufferBytes))
            Cache = TextUpToNul(buffer);
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

// Some devices without a serial number answer the request with string 0, their language list:
// a serial number that starts with exactly that list is not one. Where the platform cannot reach
// string 0 at all (hidraw), the serial number is the kernel's own and is taken as it is.
std::u16string THidDevice::SerialNumber() {
    if (FSerialNumber.empty() && OpenFile()) {
        StringBuffer serial{};
        if (HidD_GetSerialNumberString(FHidFileHandle, serial.data(), StringBufferBytes)) {
            StringBuffer languages;
            const bool listReached = FetchLanguageList(FHidFileHandle, languages) ||
                                     GetLastError() != ERROR_NOT_SUPPORTED;
            const std::size_t count = LanguageCount(languages);
            if (!listReached ||
                !std::equal(serial.begin(), serial.begin() + count, languages.begin()))
                FSerialNumber = TextUpToNul(serial);
        }
        CloseFile();
    }
    return FSerialNumber;
}

std::u16string THidDevice::DeviceStrings(BYTE Idx) {
    if (Idx == LanguageListIndex || !OpenFile())
        return {};
    StringBuffer buffer{};
    if (!HidD_GetIndexedString(FHidFileHandle, Idx, buffer.data(), StringBufferBytes))
        return {};
    return TextUpToNul(buffer);
}

const std::vector<std::u16string>& THidDevice::LanguageStrings() {
    if (FLanguageStrings.empty() && OpenFile()) {
        StringBuffer languages;
        const std::size_t count =
            FetchLanguageList(FHidFileHandle, languages) ? LanguageCount(languages) : 0;
        for (std::size_t i = 0; i < count; ++i)
            FLanguageStrings.push_back(LocaleName(languages[i]));
        CloseFile();
    }
    return FLanguageStrings;
}

// The platform tells only that a buffer is too small, not how large it must be: the length
// grows a word at a time until the descriptor fits.
TPhysicalDescriptor THidDevice::PhysicalDescriptor() {
    if (FPhysicalDescriptor.empty() && OpenFile()) {
        TPhysicalDescriptor words(MaxPhysicalDescriptorWords);
        std::size_t n = 0;
        while (!HidD_GetPhysicalDescriptor(FHidFileHandle, words.data(),
                                           static_cast<ULONG>(n * sizeof(WORD)))) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || ++n > MaxPhysicalDescriptorWords) {
                n = 0;
                break;
            }
        }
        words.resize(n);
        FPhysicalDescriptor = std::move(words);
        CloseFile();
    }
    return FPhysicalDescriptor;
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

HIDD_CONFIGURATION THidDevice::Configuration() {
    HIDD_CONFIGURATION configuration{};
    if (OpenFile())
        HidD_GetConfiguration(FHidFileHandle, &configuration, sizeof configuration);
    return configuration;
}

void THidDevice::SetConfiguration(const HIDD_CONFIGURATION& Value) {
    HIDD_CONFIGURATION configuration = Value;
    if (OpenFile())
        HidD_SetConfiguration(FHidFileHandle, &configuration, sizeof configuration);
}

HIDP_LINK_COLLECTION_NODE THidDevice::LinkCollectionNodes(WORD Idx) {
    if (FLinkCollection.empty()) {
        ULONG count = Caps().NumberLinkCollectionNodes;
        FLinkCollection.resize(count);
        if (count > 0)
            HidP_GetLinkCollectionNodes(FLinkCollection.data(), &count, PreparsedData());
    }
    return Idx < FLinkCollection.size() ? FLinkCollection[Idx] : HIDP_LINK_COLLECTION_NODE{};
}

void THidDevice::SetReportTypeParam(DWORD Value) {
    FReportTypeParam = Value;
    RefreshListLengths();
}

void THidDevice::SetUsagePageParam(WORD Value) {
    FUsagePageParam = Value;
    RefreshListLengths();
}

// The platform's button-list length is its usage-list length under another name.
void THidDevice::RefreshListLengths() {
    if (!IsAccessible())
        return;
    const auto type = static_cast<HIDP_REPORT_TYPE>(FReportTypeParam);
    FMaxDataListLength = HidP_MaxDataListLength(type, PreparsedData());
    FMaxUsageListLength = HidP_MaxUsageListLength(type, FUsagePageParam, PreparsedData());
    FMaxButtonListLength = FMaxUsageListLength;
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
    FDroppedByStoppedReaders += FDataThread->DroppedReports();
    FDataThread.reset();
}

bool THidDevice::CheckOut() {
    if (!FMyController || !FIsPluggedIn || FIsCheckedOut)
        return false;
    FIsCheckedOut = true;
    ++FMyController->FNumCheckedOutDevices;
    --FMyController->FNumCheckedInDevices;
    if (FMyController->Capture())
        SetCapture(FMyController->Capture());
    StartThread();
    return true;
}

void THidDevice::SetCapture(std::shared_ptr<THidCapture> Capture) {
    int index = -1;
    if (Capture && FPnPInfo) {
        THidCaptureDevice described;
        described.Path = platform::utf8FromUtf16(FPnPInfo->DevicePath().c_str());
        described.Name = platform::utf8FromUtf16(ProductName().c_str());
        described.VendorId = FAttributes.VendorID;
        described.ProductId = FAttributes.ProductID;
        // The HID services hand out no report descriptor; the device source knows it.
        if (const auto info = platform::deviceSource().find(described.Path))
            described.ReportDescriptor = info->reportDescriptor;
        index = Capture->AddDevice(described);
    }
    std::lock_guard lock(FCaptureMutex);
    FCapture = index >= 0 ? std::move(Capture) : nullptr;
    FCaptureIndex = index;
}

void THidDevice::CaptureReport(bool Input, const void* Report, DWORD Length) {
    std::shared_ptr<THidCapture> capture;
    int index = -1;
    {
        std::lock_guard lock(FCaptureMutex);
        capture = FCapture;
        index = FCaptureIndex;
    }
    if (!capture)
        return;
    const auto* bytes = static_cast<const BYTE*>(Report);
    if (Input)
        capture->Input(index, bytes, Length);
    else
        capture->Output(index, bytes, Length);
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

template <typename Parse> NTSTATUS THidDevice::ParseReport(Parse Call) {
    if (!IsAccessible())
        return HIDP_STATUS_NULL;
    const PHIDP_PREPARSED_DATA preparsed = PreparsedData();
    return Call(static_cast<HIDP_REPORT_TYPE>(FReportTypeParam), preparsed);
}

NTSTATUS THidDevice::GetButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetSpecificButtonCaps(type, 0, 0, 0, ButtonCaps, &Count, preparsed);
    });
}

NTSTATUS THidDevice::GetSpecificButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetSpecificButtonCaps(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                          ButtonCaps, &Count, preparsed);
    });
}

NTSTATUS THidDevice::GetValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetSpecificValueCaps(type, 0, 0, 0, ValueCaps, &Count, preparsed);
    });
}

NTSTATUS THidDevice::GetSpecificValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetSpecificValueCaps(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                         ValueCaps, &Count, preparsed);
    });
}

NTSTATUS THidDevice::GetData(PHIDP_DATA DataList, ULONG& DataLength, PCHAR Report,
                             ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetData(type, DataList, &DataLength, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::SetData(PHIDP_DATA DataList, ULONG& DataLength, PCHAR Report,
                             ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_SetData(type, DataList, &DataLength, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::GetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                               ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetUsages(type, FUsagePageParam, FLinkCollectionParam, UsageList, &UsageLength,
                              preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::GetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                ULONG ReportLength) {
    return GetUsages(UsageList, UsageLength, Report, ReportLength);
}

NTSTATUS THidDevice::GetUsagesEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                 ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetUsagesEx(type, FLinkCollectionParam, UsageList, &UsageLength, preparsed,
                                Report, ReportLength);
    });
}

NTSTATUS THidDevice::GetButtonsEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                  ULONG ReportLength) {
    return GetUsagesEx(UsageList, UsageLength, Report, ReportLength);
}

NTSTATUS THidDevice::SetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                               ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_SetUsages(type, FUsagePageParam, FLinkCollectionParam, UsageList, &UsageLength,
                              preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::SetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                ULONG ReportLength) {
    return SetUsages(UsageList, UsageLength, Report, ReportLength);
}

NTSTATUS THidDevice::UnsetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                 ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_UnsetUsages(type, FUsagePageParam, FLinkCollectionParam, UsageList,
                                &UsageLength, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::UnsetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report,
                                  ULONG ReportLength) {
    return UnsetUsages(UsageList, UsageLength, Report, ReportLength);
}

NTSTATUS THidDevice::GetUsageValue(ULONG& UsageValue, PCHAR Report, ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                  &UsageValue, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::GetScaledUsageValue(LONG& UsageValue, PCHAR Report, ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetScaledUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        &UsageValue, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::GetUsageValueArray(PCHAR UsageValue, USHORT UsageValueByteLength, PCHAR Report,
                                        ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_GetUsageValueArray(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                       UsageValue, UsageValueByteLength, preparsed, Report,
                                       ReportLength);
    });
}

NTSTATUS THidDevice::SetUsageValue(ULONG UsageValue, PCHAR Report, ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_SetUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                  UsageValue, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::SetScaledUsageValue(LONG UsageValue, PCHAR Report, ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_SetScaledUsageValue(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                        UsageValue, preparsed, Report, ReportLength);
    });
}

NTSTATUS THidDevice::SetUsageValueArray(PCHAR UsageValue, USHORT UsageValueByteLength, PCHAR Report,
                                        ULONG ReportLength) {
    return ParseReport([&](HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA preparsed) {
        return HidP_SetUsageValueArray(type, FUsagePageParam, FLinkCollectionParam, FUsageParam,
                                       UsageValue, UsageValueByteLength, preparsed, Report,
                                       ReportLength);
    });
}

NTSTATUS THidDevice::GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                           PHIDP_EXTENDED_ATTRIBUTES Attributes,
                                           ULONG& LengthAttributes) {
    if (!HidP_GetExtendedAttributes)
        return HIDP_STATUS_NOT_IMPLEMENTED;
    return HidP_GetExtendedAttributes(ReportType, DataIndex, FPreparsedData, Attributes,
                                      &LengthAttributes);
}

NTSTATUS THidDevice::InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                           PCHAR Report, ULONG ReportLength) {
    if (!HidP_InitializeReportForID)
        return HIDP_STATUS_NOT_IMPLEMENTED;
    return HidP_InitializeReportForID(ReportType, ReportID, FPreparsedData, Report, ReportLength);
}
