#pragma once
// The HID layer: plug-and-play descriptions of the HID interfaces found, the device objects
// made for them and the controller that keeps the list of attached devices.

#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "platform/base/Exception.h"
#include "platform/uithread/Messages.h"
#include "platform/uithread/Thread.h"
#include "platform/win32/AlertableWait.h"
#include "platform/win32/Win32.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// THidPnPInfo: what device setup reports of one HID interface, read once when the controller
// finds it. The device object made for the interface owns its description.
// ---------------------------------------------------------------------------------------------

using TPnPStringList = std::vector<std::u16string>;

class THidPnPInfo {
public:
    // Reads every property at once. No unreadable property is an error: it reads as 0, empty
    // text, an empty list or the all-zero GUID text. Only an exhausted resource while a list is
    // filled ends construction, by passing the exception on.
    THidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA& ADevData, std::u16string ADevicePath);
    virtual ~THidPnPInfo() = default;
    THidPnPInfo(const THidPnPInfo&) = delete;
    THidPnPInfo& operator=(const THidPnPInfo&) = delete;

    // The readers, each one property through SetupDiGetDeviceRegistryPropertyW.
    static std::u16string GetRegistryPropertyString(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                    DWORD Prop);
    static TPnPStringList GetRegistryPropertyStringList(HDEVINFO PnPHandle,
                                                        SP_DEVINFO_DATA& DevData, DWORD Prop);
    static DWORD GetRegistryPropertyDWord(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData, DWORD Prop);
    // The GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
    static std::u16string GetRegistryPropertyGuid(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                  DWORD Prop);

    // Properties up to this size (the reported size plus the terminating NULs) are read into
    // a buffer on the stack; larger ones into one allocated for the read.
    static constexpr DWORD FixedStringBufferBytes = 2048;
    static constexpr DWORD FixedListBufferBytes = 32768;

    DWORD DeviceID() const { return FDeviceID; }
    const std::u16string& DevicePath() const { return FDevicePath; }
    DWORD Capabilities() const { return FCapabilities; }
    const std::u16string& ClassDescr() const { return FClassDescr; }
    const std::u16string& ClassGUID() const { return FClassGUID; }
    const TPnPStringList& CompatibleIDs() const { return FCompatibleIDs; }
    DWORD ConfigFlags() const { return FConfigFlags; }
    const std::u16string& DeviceDescr() const { return FDeviceDescr; }
    const std::u16string& Driver() const { return FDriver; }
    const std::u16string& FriendlyName() const { return FFriendlyName; }
    const TPnPStringList& HardwareID() const { return FHardwareID; }
    const TPnPStringList& LowerFilters() const { return FLowerFilters; }
    const std::u16string& Mfg() const { return FMfg; }
    const TPnPStringList& UpperFilters() const { return FUpperFilters; }
    const std::u16string& Address() const { return FAddress; }
    DWORD BusNumber() const { return FBusNumber; }
    const std::u16string& BusType() const { return FBusType; }
    const std::u16string& Characteristics() const { return FCharacteristics; }
    DWORD DevType() const { return FDevType; }
    const std::u16string& EnumeratorName() const { return FEnumeratorName; }
    DWORD Exclusive() const { return FExclusive; }
    DWORD LegacyBusType() const { return FLegacyBusType; }
    const std::u16string& LocationInfo() const { return FLocationInfo; }
    const std::u16string& PhysDevObjName() const { return FPhysDevObjName; }
    const std::u16string& SecuritySDS() const { return FSecuritySDS; }
    const std::u16string& Service() const { return FService; }
    DWORD UINumber() const { return FUINumber; }
    const std::u16string& UINumberFormat() const { return FUINumberFormat; }

private:
    DWORD FDeviceID = 0;
    std::u16string FDevicePath;
    DWORD FCapabilities = 0;
    std::u16string FClassDescr;
    std::u16string FClassGUID;
    TPnPStringList FCompatibleIDs;
    DWORD FConfigFlags = 0;
    std::u16string FDeviceDescr;
    std::u16string FDriver;
    std::u16string FFriendlyName;
    TPnPStringList FHardwareID;
    TPnPStringList FLowerFilters;
    std::u16string FMfg;
    TPnPStringList FUpperFilters;
    std::u16string FAddress;
    DWORD FBusNumber = 0;
    std::u16string FBusType;
    std::u16string FCharacteristics;
    DWORD FDevType = 0;
    std::u16string FEnumeratorName;
    DWORD FExclusive = 0;
    DWORD FLegacyBusType = 0;
    std::u16string FLocationInfo;
    std::u16string FPhysDevObjName;
    std::u16string FSecuritySDS;
    std::u16string FService;
    DWORD FUINumber = 0;
    std::u16string FUINumberFormat;
};

// ---------------------------------------------------------------------------------------------
// Devices, their readers and the controller. Everything here belongs to the UI thread, except
// what a device's reader does on its own thread (marked where it matters).
// ---------------------------------------------------------------------------------------------

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

// The one error the HID layer raises: a device object that cannot be constructed.
class EControllerError : public Exception {
public:
    using Exception::Exception;
};

// A handler bound to an object. Two handlers are equal when they call the same member function
// of the same object; one made from a plain callable is equal only to its own copies. Handlers
// that are not assigned are equal to each other.
template <typename Signature> class THidHandler;

template <typename R, typename... Args> class THidHandler<R(Args...)> {
public:
    THidHandler() = default;
    THidHandler(std::nullptr_t) {}

    template <typename Object>
    THidHandler(Object* object, R (Object::*method)(Args...))
        : function_(std::make_shared<const std::function<R(Args...)>>(
              [object, method](Args... args) { return (object->*method)(args...); })),
          object_(object), method_(methodKey(method)) {}

    explicit THidHandler(std::function<R(Args...)> function) {
        if (function) {
            function_ = std::make_shared<const std::function<R(Args...)>>(std::move(function));
            object_ = function_.get();
        }
    }

    bool Assigned() const { return function_ != nullptr; }
    explicit operator bool() const { return Assigned(); }
    R operator()(Args... args) const { return (*function_)(args...); }

    friend bool operator==(const THidHandler& a, const THidHandler& b) {
        return a.object_ == b.object_ && a.method_ == b.method_;
    }

private:
    template <typename Method> static std::string methodKey(Method method) {
        std::string key(sizeof(method), '\0');
        std::memcpy(key.data(), &method, sizeof(method));
        return key;
    }

    std::shared_ptr<const std::function<R(Args...)>> function_;
    const void* object_ = nullptr; // identity only, never dereferenced
    std::string method_;
};

using THidDataEvent =
    THidHandler<void(THidDevice* HidDev, BYTE ReportID, const BYTE* Data, USHORT Size)>;
using THidDataErrorEvent = THidHandler<void(THidDevice* HidDev, DWORD Error)>;
using THidPlugEvent = THidHandler<void(THidDevice* HidDev)>;
using THidEnumerateEvent = THidHandler<bool(THidDevice* HidDev, int Idx)>;
using THidDeviceCreateError = THidHandler<void(
    THidDeviceController* Controller, THidPnPInfo* PnPInfo, bool& Handled, bool& RetryCreate)>;
using TNotifyEvent = THidHandler<void(void* Sender)>;
using THidCheckCallback = bool (*)(THidDevice* HidDev);

enum THidOpenExMode { omhRead, omhWrite };

// A device's physical descriptor set, in 16-bit words.
using TPhysicalDescriptor = std::vector<WORD>;

// One HID interface of the controller's list. Only the controller makes devices (CtlCreate);
// an application checks one out, uses it and gives it back by checking it in or deleting it.
// Deleting a checked-out device that is still attached leaves a fresh, checked-in object for
// the same interface in the controller's list.
//
// Handles are opened on demand, and only while the device is accessible: plugged in and
// either checked out or being handed to a controller callback.
class THidDevice {
public:
    // Refused: raises EControllerError. Devices come from the controller.
    THidDevice();
    // Takes ownership of APnPInfo only when it returns; raises EControllerError "Device cannot
    // be opened" or "Device cannot be identified", leaving APnPInfo the caller's.
    static THidDevice* CtlCreate(THidPnPInfo* APnPInfo, THidDeviceController* Controller);
    virtual ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    bool IsAccessible() const;
    bool OpenFile();
    bool OpenFileEx(THidOpenExMode Mode);
    void CloseFile();
    void CloseFileEx(THidOpenExMode Mode);
    // Cancels the calling thread's transfers on the overlapped handle of that direction.
    bool CancelIO(THidOpenExMode Mode);

    // The transfers on the synchronous handle open it on demand and are false when it cannot
    // be opened; otherwise the platform's result. ReadFile waits until an input report is there.
    bool WriteFile(const void* Report, DWORD ToWrite, DWORD& BytesWritten);
    bool ReadFile(void* Report, DWORD ToRead, DWORD& BytesRead);
    // Start an overlapped read on the read handle, or write on the write handle; the completion
    // routine runs in an alertable wait of the calling thread and finds the device in the
    // OVERLAPPED's hEvent. One read and one write per device may be pending.
    bool ReadFileEx(void* Report, DWORD ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
    bool WriteFileEx(const void* Report, DWORD ToWrite, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
    // Bytes of the last overlapped transfer; 0 while the handle is closed or the transfer pends.
    DWORD HidOverlappedReadResult();
    DWORD HidOverlappedWriteResult();
    bool FlushQueue();
    // The report ID goes in the first byte of Report.
    bool GetFeature(void* Report, int Size);
    bool SetFeature(void* Report, int Size);
    // Also false where the platform lacks the request.
    bool GetInputReport(void* Report, DWORD Size);
    bool SetOutputReport(void* Report, DWORD Size);
    bool DeviceIoControl(DWORD IoControlCode, void* InBuffer, DWORD InSize, void* OutBuffer,
                         DWORD OutSize, DWORD& BytesReturned);

    // Cached once read; asked again while empty. The synchronous handle is closed afterwards.
    std::u16string VendorName();
    std::u16string ProductName();
    // Empty when the device has none, and when it merely repeats its language list (string 0)
    // or that list cannot be read: a device without a serial number may answer with string 0.
    std::u16string SerialNumber();
    // String Idx of the device; never cached, and the synchronous handle stays open. Index 0,
    // the language list, is not text: it reads empty without asking the device.
    std::u16string DeviceStrings(BYTE Idx);
    // The names of the languages the device's strings come in, "Unknown Locale ID $XXXX" for
    // an identifier without one. Cached once not empty.
    const std::vector<std::u16string>& LanguageStrings();
    // A copy of the cached descriptor; empty for a device that has none.
    TPhysicalDescriptor PhysicalDescriptor();
    // Loads the preparsed data on first use, which closes the synchronous handle.
    PHIDP_PREPARSED_DATA PreparsedData();
    // Asked anew at every call; all zeros for a device that cannot be opened.
    HIDP_CAPS Caps();
    // Zeroed when the device cannot be opened. Read and written through the synchronous handle,
    // which stays open.
    HIDD_CONFIGURATION Configuration();
    void SetConfiguration(const HIDD_CONFIGURATION& Value);
    // Node Idx of the collection tree, read once; zeroed for Idx at or past the node count.
    HIDP_LINK_COLLECTION_NODE LinkCollectionNodes(WORD Idx);

    // The parameters of the report-parsing operations. Setting the report type or the usage
    // page refreshes the three list lengths while the device is accessible.
    DWORD ReportTypeParam() const { return FReportTypeParam; }
    void SetReportTypeParam(DWORD Value);
    WORD UsagePageParam() const { return FUsagePageParam; }
    void SetUsagePageParam(WORD Value);
    WORD LinkCollectionParam() const { return FLinkCollectionParam; }
    void SetLinkCollectionParam(WORD Value) { FLinkCollectionParam = Value; }
    WORD UsageParam() const { return FUsageParam; }
    void SetUsageParam(WORD Value) { FUsageParam = Value; }
    ULONG MaxDataListLength() const { return FMaxDataListLength; }
    ULONG MaxUsageListLength() const { return FMaxUsageListLength; }
    ULONG MaxButtonListLength() const { return FMaxButtonListLength; }

    // Report parsing: the platform's parser on this device's preparsed data, with the report
    // type and, where the platform function takes them, the usage page, link collection and
    // usage from the parameters above. HIDP_STATUS_NULL, without asking the platform, while
    // the device is not accessible.
    NTSTATUS GetButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count);
    NTSTATUS GetSpecificButtonCaps(PHIDP_BUTTON_CAPS ButtonCaps, USHORT& Count);
    NTSTATUS GetValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count);
    NTSTATUS GetSpecificValueCaps(PHIDP_VALUE_CAPS ValueCaps, USHORT& Count);
    NTSTATUS GetData(PHIDP_DATA DataList, ULONG& DataLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS SetData(PHIDP_DATA DataList, ULONG& DataLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetUsagesEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, PCHAR Report,
                         ULONG ReportLength);
    NTSTATUS GetButtonsEx(PUSAGE_AND_PAGE UsageList, ULONG& UsageLength, PCHAR Report,
                          ULONG ReportLength);
    NTSTATUS SetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS SetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS UnsetUsages(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS UnsetButtons(PUSAGE UsageList, ULONG& UsageLength, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetUsageValue(ULONG& UsageValue, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetScaledUsageValue(LONG& UsageValue, PCHAR Report, ULONG ReportLength);
    NTSTATUS GetUsageValueArray(PCHAR UsageValue, USHORT UsageValueByteLength, PCHAR Report,
                                ULONG ReportLength);
    NTSTATUS SetUsageValue(ULONG UsageValue, PCHAR Report, ULONG ReportLength);
    NTSTATUS SetScaledUsageValue(LONG UsageValue, PCHAR Report, ULONG ReportLength);
    NTSTATUS SetUsageValueArray(PCHAR UsageValue, USHORT UsageValueByteLength, PCHAR Report,
                                ULONG ReportLength);
    // These two take the caller's report type, work on the preparsed data already held (never
    // loading it) whether or not the device is accessible, and answer
    // HIDP_STATUS_NOT_IMPLEMENTED where the platform lacks the function.
    NTSTATUS GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                   PHIDP_EXTENDED_ATTRIBUTES Attributes, ULONG& LengthAttributes);
    NTSTATUS InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID, PCHAR Report,
                                   ULONG ReportLength);

    int NumInputBuffers() const { return FNumInputBuffers; }
    void SetNumInputBuffers(int N);
    int NumOverlappedBuffers() const { return FNumOverlappedBuffers; }
    void SetNumOverlappedBuffers(int N);
    // Taken for 0..10000; other values are ignored.
    int PollingDelayTime() const { return FPollingDelayTime; }
    void SetPollingDelayTime(int Value);
    // One wait slice of the reader; taken for 10..10000, other values are ignored.
    int ThreadSleepTime() const { return FThreadSleepTime; }
    void SetThreadSleepTime(int Value);

    // Clearing stops and deletes the reader before returning; setting starts one if the start
    // rule allows; replacing one handler by another keeps the running reader.
    const THidDataEvent& OnData() const { return FOnData; }
    void SetOnData(const THidDataEvent& Handler);
    const THidDataErrorEvent& OnDataError() const { return FOnDataError; }
    void SetOnDataError(const THidDataErrorEvent& Handler) { FOnDataError = Handler; }
    const THidPlugEvent& OnUnplug() const { return FOnUnplug; }
    void SetOnUnplug(const THidPlugEvent& Handler) { FOnUnplug = Handler; }

    // Starts a reader if OnData is set, the device is plugged in, checked out, opened with
    // read-write access and has none yet.
    void StartThread();
    // Terminates the reader and waits for it (serving its synchronized calls), then deletes it.
    void StopThread();
    // Checks the device out of its own controller.
    bool CheckOut();
    // The device has gone: closes its handles, marks it unplugged and tells its unplug handler
    // once. The handler may delete the device; nothing of it is touched after the call.
    void DoUnplug();

    const HIDD_ATTRIBUTES& Attributes() const { return FAttributes; }
    bool HasReadWriteAccess() const { return FHasReadWriteAccess; }
    // Input reports the reader's queue had to drop, oldest first, because they came faster
    // than the handler took them; counted since the reader's handle was opened.
    std::uint64_t DroppedInputReports() const;
    HANDLE HidFileHandle() const { return FHidFileHandle; }
    HANDLE HidOverlappedRead() const { return FHidOverlappedRead; }
    HANDLE HidOverlappedWrite() const { return FHidOverlappedWrite; }
    bool IsCheckedOut() const { return FIsCheckedOut; }
    bool IsPluggedIn() const { return FIsPluggedIn; }
    const THidPnPInfo* PnPInfo() const { return FPnPInfo.get(); }
    THidDeviceReadThread* DataThread() const { return FDataThread.get(); }
    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    THidDevice(THidPnPInfo* APnPInfo, THidDeviceController* Controller);
    void OpenWithAccessFallback(const THidPnPInfo& Info);
    // A device opened without read-write access tries again: the right to open it may have
    // arrived since (udev applies its rules a moment after the node appears).
    void RetryReadWriteAccess();
    std::u16string ReadString(std::u16string& Cache, BOOLEAN (*Query)(HANDLE, PVOID, ULONG));
    void CloseAll();
    void RefreshListLengths();
    // Runs a report-parsing call with the preparsed data and the report type, or answers
    // HIDP_STATUS_NULL while the device is not accessible.
    template <typename Parse> NTSTATUS ParseReport(Parse Call);
    // Caps from the preparsed data already held, never loading it: what the reader uses, so
    // that it makes no call that could open the synchronous handle from its thread.
    HIDP_CAPS HeldCaps() const;
    void ReplaceInController(const THidDataEvent& Data, const THidPlugEvent& Unplug);

    THidDeviceController* FMyController;
    // Read by the reader thread, written on the UI thread.
    std::atomic<bool> FIsPluggedIn{true};
    std::atomic<bool> FIsCheckedOut{false};
    std::atomic<bool> FIsEnumerated{false};
    HANDLE FHidFileHandle = INVALID_HANDLE_VALUE;
    // Opened by whichever thread needs them first, closed on the UI thread.
    std::atomic<HANDLE> FHidOverlappedRead{INVALID_HANDLE_VALUE};
    std::atomic<HANDLE> FHidOverlappedWrite{INVALID_HANDLE_VALUE};
    OVERLAPPED FOvlRead{};
    OVERLAPPED FOvlWrite{};
    HIDD_ATTRIBUTES FAttributes{};
    std::unique_ptr<THidPnPInfo> FPnPInfo;
    std::u16string FVendorName;
    std::u16string FProductName;
    std::u16string FSerialNumber;
    TPhysicalDescriptor FPhysicalDescriptor;
    std::atomic<PHIDP_PREPARSED_DATA> FPreparsedData{nullptr};
    std::vector<std::u16string> FLanguageStrings;
    int FNumInputBuffers = 0;
    std::atomic<int> FNumOverlappedBuffers{0};
    std::atomic<int> FPollingDelayTime{0};
    std::atomic<int> FThreadSleepTime{100};
    std::vector<HIDP_LINK_COLLECTION_NODE> FLinkCollection;
    ULONG FMaxDataListLength = 0;
    ULONG FMaxUsageListLength = 0;
    ULONG FMaxButtonListLength = 0;
    DWORD FReportTypeParam = 0;
    WORD FUsagePageParam = 0;
    WORD FLinkCollectionParam = 0;
    WORD FUsageParam = 0;
    THidDataEvent FOnData;
    THidDataErrorEvent FOnDataError;
    THidPlugEvent FOnUnplug;
    bool FHasReadWriteAccess = false;
    std::unique_ptr<THidDeviceReadThread> FDataThread;
    int FTag = 0;
    // Expires when the device is deleted, so that a walk over the controller's list can tell
    // whether a handler it called deleted this object.
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);
};

// The reader of one device: keeps one overlapped read pending and hands each input report to
// the device's OnData handler on the UI thread, waiting until the handler returns. When a read
// cannot be started, the error code goes to OnDataError once per wait slice. An exception
// raised by a handler ends the reader; it is kept in FatalException, never raised into the UI
// thread. Terminate cuts the reader's current wait short, so a stop does not wait for the end
// of a wait slice.
class THidDeviceReadThread final : public TThread {
public:
    // Refused: raises EControllerError. Readers come from their device.
    THidDeviceReadThread();
    // On the UI thread; the reader runs at once. Loads the device's preparsed data here.
    static std::unique_ptr<THidDeviceReadThread> CtlCreate(THidDevice* Dev);
    ~THidDeviceReadThread() override;

    std::string ThreadName;

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    explicit THidDeviceReadThread(THidDevice* Dev);
    void DoData();
    void DoDataError();
    static void DummyReadCompletion(DWORD ErrorCode, DWORD Count, LPOVERLAPPED Ovl);
    DWORD ReadLength() const;
    // Starts a read; on failure tells OnDataError and pauses one slice. Whether it started.
    bool StartRead();
    // Waits in slices until the read completes or a stop is asked; the last wait's result.
    DWORD WaitForRead();

    DWORD FErr = 0;
    THidDevice* Device;
    DWORD NumBytesRead = 0;
    std::vector<BYTE> Report;
    // The reader's own alertable waits, set once Execute runs; Terminate interrupts them.
    std::mutex FWaitsMutex;
    std::shared_ptr<platform::AlertableContext> FWaits;
};

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
