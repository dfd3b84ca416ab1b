#pragma once

#include "hid/Hid.h"
#include "hid/HidCapture.h"
#include "hid/HidEvents.h"
#include "hid/HidPnPInfo.h"
#include "platform/win32/AlertableWait.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // OVERLAPPED's hEvent. One read and one write per device may be pending in the device's own
    // control blocks.
    bool ReadFileEx(void* Report, DWORD ToRead, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
    bool WriteFileEx(const void* Report, DWORD ToWrite, LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
    // A read into the caller's own control block, for a reader that keeps several reads
    // pending; the caller's routine finds what it needs through Ovl.hEvent, which it sets.
    bool ReadFileEx(void* Report, DWORD ToRead, OVERLAPPED& Ovl,
                    LPOVERLAPPED_COMPLETION_ROUTINE CallBack);
    // Bytes of the last overlapped transfer; 0 while the handle is closed or the transfer pends.
    DWORD HidOverlappedReadResult();
    DWORD HidOverlappedReadResult(OVERLAPPED& Ovl);
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
    // Where the platform has no way to string 0 (hidraw), the kernel's serial number.
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
    // Input reports dropped, oldest first, because they came faster than the handlers took
    // them: by the platform's queue since the read handle was opened, and by the readers'
    // hand-overs to the UI thread.
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
    // On the UI thread: from now on the device's reports, read and sent, also go to Capture
    // (none: to no capture), which learns about the device here.
    void SetCapture(std::shared_ptr<THidCapture> Capture);
    // From the reader and from writing threads.
    void CaptureReport(bool Input, const void* Report, DWORD Length);

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
    std::uint64_t FDroppedByStoppedReaders = 0;
    mutable std::mutex FCaptureMutex;
    std::shared_ptr<THidCapture> FCapture;
    int FCaptureIndex = -1;
    int FTag = 0;
    // Expires when the device is deleted, so that a walk over the controller's list can tell
    // whether a handler it called deleted this object.
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);
};
