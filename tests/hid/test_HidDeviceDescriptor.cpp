// Descriptor queries, the further transfers and the report-parsing operations of THidDevice, on
// the simulated devices.

#include "HidDeviceTestSupport.h"
#include "platform/sources/SimDeviceSource.h"
#include "platform/win32/Handles.h"

#include <gtest/gtest.h>

#include <type_traits>

using namespace hidtest;

namespace {

// Calls that reached a bound HID entry replaced by CountCalls.
int hidEntryCalls = 0;

// While alive, routes one bound HID entry through a forwarder that counts its calls.
template <auto& Entry, typename Function = std::remove_reference_t<decltype(Entry)>>
class CountCalls;

template <auto& Entry, typename R, typename... Args> class CountCalls<Entry, R (*)(Args...)> {
public:
    CountCalls() : original_(Entry) {
        Original() = Entry;
        Entry = &Forward;
    }
    ~CountCalls() { Entry = original_; }
    CountCalls(const CountCalls&) = delete;
    CountCalls& operator=(const CountCalls&) = delete;

private:
    static R (*&Original())(Args...) {
        static R (*original)(Args...) = nullptr;
        return original;
    }
    static R Forward(Args... args) {
        ++hidEntryCalls;
        return Original()(args...);
    }
    R (*original_)(Args...);
};

// While alive, the platform lacks one HID entry.
template <auto& Entry> class WithoutEntry {
public:
    WithoutEntry() : original_(Entry) { Entry = nullptr; }
    ~WithoutEntry() { Entry = original_; }
    WithoutEntry(const WithoutEntry&) = delete;
    WithoutEntry& operator=(const WithoutEntry&) = delete;

private:
    std::remove_reference_t<decltype(Entry)> original_;
};

class HidDeviceDescriptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto source = std::make_unique<platform::SimDeviceSource>();
        sim = source.get();
        platform::installDeviceSource(std::move(source));
    }
    void TearDown() override {
        controller.reset();
        pumpPending();
        platform::installDeviceSource(nullptr);
    }

    // Plugs the model, lets the controller list it and checks it out.
    THidDevice* checkedOut(const platform::SimDeviceModel& model) {
        listedOnly(model);
        const std::u16string wanted(path.begin(), path.end());
        const auto& devices = controller->Devices();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            THidDevice* device = nullptr;
            if (devices[i]->PnPInfo()->DevicePath() == wanted &&
                controller->CheckOutByIndex(device, static_cast<int>(i)))
                return device;
        }
        ADD_FAILURE() << "not checked out: " << path;
        return nullptr;
    }
    // Plugs the model and lets the controller list it, checked in.
    THidDevice* listedOnly(const platform::SimDeviceModel& model) {
        path = sim->plug(model);
        if (controller)
            controller->DeviceChange();
        else
            controller = std::make_unique<THidDeviceController>();
        pumpPending();
        return controller->Devices().back();
    }

    platform::SimDeviceSource* sim = nullptr;
    std::string path;
    std::unique_ptr<THidDeviceController> controller;
};

// --- strings -----------------------------------------------------------------------------------

TEST_F(HidDeviceDescriptorTest, SerialNumberIsReadCachedAndClosesTheHandle) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(u"SIM0001", device->SerialNumber());
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
    CountCalls<HidD_GetSerialNumberString> counted;
    hidEntryCalls = 0;
    EXPECT_EQ(u"SIM0001", device->SerialNumber());
    EXPECT_EQ(0, hidEntryCalls) << "a serial number once read is cached";
}

TEST_F(HidDeviceDescriptorTest, SerialNumberThatRepeatsTheLanguageListReadsEmpty) {
    auto model = platform::makeSimLocator();
    model.info.languageIds = {0x0409, 0x0407};
    model.info.serialNumber = u"\u0409\u0407";
    THidDevice* device = checkedOut(model);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(u"", device->SerialNumber());

    // One differing word within the list's length is enough to make it a serial number.
    auto similar = platform::makeSimLocator();
    similar.info.languageIds = {0x0409, 0x0407};
    similar.info.serialNumber = u"\u0409X";
    THidDevice* other = checkedOut(similar);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(u"\u0409X", other->SerialNumber());
}

TEST_F(HidDeviceDescriptorTest, SerialNumberReadsEmptyWithAnEmptyLanguageListButNotOnHidraw) {
    auto model = platform::makeSimLocator();
    model.info.languageIds.clear();
    THidDevice* device = checkedOut(model);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(u"", device->SerialNumber());

    // hidraw has no way to string 0: the serial number is the kernel's, kept as it is.
    auto hidrawLike = platform::makeSimLocator();
    hidrawLike.info.stringsByIndexAvailable = false;
    THidDevice* second = checkedOut(hidrawLike);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(u"SIM0001", second->SerialNumber());
    EXPECT_EQ(u"Locator", second->ProductName());
}

TEST_F(HidDeviceDescriptorTest, DeviceStringsByIndexLeaveTheHandleOpen) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    {
        CountCalls<HidD_GetIndexedString> counted;
        hidEntryCalls = 0;
        EXPECT_EQ(u"", device->DeviceStrings(0));
        EXPECT_EQ(0, hidEntryCalls) << "string 0 is the language list, never asked for as text";
        EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
    }
    EXPECT_EQ(u"Calibrate", device->DeviceStrings(4));
    EXPECT_NE(INVALID_HANDLE_VALUE, device->HidFileHandle());
    EXPECT_EQ(u"Sim Game Pad", device->DeviceStrings(2));
    EXPECT_EQ(u"", device->DeviceStrings(5));
}

TEST_F(HidDeviceDescriptorTest, LanguageStringsNameEachLanguageAndAreCached) {
    auto model = platform::makeSimGamePad();
    model.info.languageIds = {0x0409, 0x0407, 0x7FFF, 0x000A};
    THidDevice* device = checkedOut(model);
    ASSERT_NE(nullptr, device);
    const std::vector<std::u16string> expected = {u"English (United States)", u"German (Germany)",
                                                  u"Unknown Locale ID $7FFF",
                                                  u"Unknown Locale ID $000A"};
    EXPECT_EQ(expected, device->LanguageStrings());
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
    CountCalls<HidD_GetIndexedString> counted;
    hidEntryCalls = 0;
    EXPECT_EQ(expected, device->LanguageStrings());
    EXPECT_EQ(0, hidEntryCalls);
}

TEST_F(HidDeviceDescriptorTest, LanguageListWithoutTerminatorFillsTheBuffer) {
    auto model = platform::makeSimGamePad();
    model.info.languageIds.assign(254, 0x0409);
    THidDevice* device = checkedOut(model);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(254u, device->LanguageStrings().size());
}

// --- descriptors and records ---------------------------------------------------------------------

TEST_F(HidDeviceDescriptorTest, PhysicalDescriptorGrowsUntilItFitsAndIsCached) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    {
        CountCalls<HidD_GetPhysicalDescriptor> counted;
        hidEntryCalls = 0;
        const TPhysicalDescriptor expected = {0x0301, 0x2000, 0x0107};
        EXPECT_EQ(expected, device->PhysicalDescriptor());
        EXPECT_EQ(4, hidEntryCalls) << "0, 2, 4 and 6 bytes";
        EXPECT_EQ(expected, device->PhysicalDescriptor());
        EXPECT_EQ(4, hidEntryCalls);
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
}

TEST_F(HidDeviceDescriptorTest, PhysicalDescriptorIsEmptyWhenAbsentOrTooLong) {
    THidDevice* locator = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, locator);
    EXPECT_TRUE(locator->PhysicalDescriptor().empty());

    auto huge = platform::makeSimGamePad();
    huge.info.physicalDescriptor.assign(2 * 2048 + 1, 0x11);
    THidDevice* device = checkedOut(huge);
    ASSERT_NE(nullptr, device);
    EXPECT_TRUE(device->PhysicalDescriptor().empty());
}

TEST_F(HidDeviceDescriptorTest, ConfigurationIsTheHandlesQueueSize) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    const HIDD_CONFIGURATION first = device->Configuration();
    EXPECT_GT(first.RingBufferSize, 0u);
    HIDD_CONFIGURATION larger = first;
    larger.RingBufferSize = 64;
    device->SetConfiguration(larger);
    EXPECT_EQ(64u, device->Configuration().RingBufferSize);
    ULONG platformCount = 0;
    ASSERT_TRUE(HidD_GetNumInputBuffers(device->HidFileHandle(), &platformCount));
    EXPECT_EQ(64u, platformCount) << "the same handle's queue";
}

TEST_F(HidDeviceDescriptorTest, LinkCollectionNodesAndTheZeroedNodePastTheEnd) {
    THidDevice* device = checkedOut(platform::makeSimMouse());
    ASSERT_NE(nullptr, device);
    const HIDP_LINK_COLLECTION_NODE application = device->LinkCollectionNodes(0);
    EXPECT_EQ(0x02, application.LinkUsage); // Mouse
    EXPECT_EQ(0x01, application.LinkUsagePage);
    EXPECT_EQ(1, application.NumberOfChildren);
    const HIDP_LINK_COLLECTION_NODE pointer = device->LinkCollectionNodes(1);
    EXPECT_EQ(0x01, pointer.LinkUsage);
    EXPECT_EQ(0, pointer.Parent);

    for (WORD past : {WORD{2}, WORD{0xFFFF}}) {
        const HIDP_LINK_COLLECTION_NODE node = device->LinkCollectionNodes(past);
        EXPECT_EQ(0, node.LinkUsage);
        EXPECT_EQ(0, node.LinkUsagePage);
        EXPECT_EQ(0, node.NumberOfChildren);
        EXPECT_EQ(0u, node.CollectionType);
    }
}

TEST_F(HidDeviceDescriptorTest, ParameterSettersRefreshTheListLengthsOnlyWhileAccessible) {
    THidDevice* listed = listedOnly(platform::makeSimKeyboard());
    listed->SetReportTypeParam(HidP_Input);
    EXPECT_EQ(0u, listed->MaxDataListLength());
    EXPECT_EQ(0u, listed->MaxUsageListLength());

    THidDevice* device = nullptr;
    ASSERT_TRUE(controller->CheckOut(device));
    device->SetReportTypeParam(HidP_Input);
    EXPECT_EQ(HidP_Input, static_cast<int>(device->ReportTypeParam()));
    EXPECT_GT(device->MaxDataListLength(), 0u);
    const ULONG everyPage = device->MaxUsageListLength();
    EXPECT_EQ(8u + 6u, everyPage) << "eight modifier buttons and six key places";
    EXPECT_EQ(everyPage, device->MaxButtonListLength());

    device->SetUsagePageParam(0x08); // LEDs: output only
    EXPECT_EQ(0u, device->MaxUsageListLength());
    device->SetReportTypeParam(HidP_Output);
    EXPECT_EQ(5u, device->MaxUsageListLength());
    EXPECT_EQ(5u, device->MaxButtonListLength());
}

// --- transfers -----------------------------------------------------------------------------------

TEST_F(HidDeviceDescriptorTest, FeatureReportsGoBothWays) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    BYTE feature[3] = {2, 0, 0};
    ASSERT_TRUE(device->GetFeature(feature, sizeof feature));
    EXPECT_EQ(0x10, feature[1]);
    EXPECT_EQ(0x80, feature[2]);

    BYTE changed[3] = {2, 0x22, 0x44};
    ASSERT_TRUE(device->SetFeature(changed, sizeof changed));
    BYTE back[3] = {2, 0, 0};
    DWORD returned = 0;
    ASSERT_TRUE(device->DeviceIoControl(platform::IOCTL_HID_GET_FEATURE, nullptr, 0, back,
                                        sizeof back, returned));
    EXPECT_EQ(3u, returned);
    EXPECT_EQ(0x44, back[2]);
}

TEST_F(HidDeviceDescriptorTest, AnAnswerWithAnotherReportIdIsRefusedAndCopiesNothing) {
    auto model = platform::makeSimGamePad();
    model.features[5] = {0x02, 0x99, 0x99}; // asked for 5, answers with report 2
    model.inputReports[4] = {0x01, 0x77, 0x77, 0x77};
    THidDevice* device = checkedOut(model);
    ASSERT_NE(nullptr, device);

    BYTE feature[3] = {5, 0xAB, 0xCD};
    EXPECT_FALSE(device->GetFeature(feature, sizeof feature));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
    EXPECT_EQ(5, feature[0]);
    EXPECT_EQ(0xAB, feature[1]);
    EXPECT_EQ(0xCD, feature[2]);

    BYTE input[4] = {4, 0xAB, 0xCD, 0xEF};
    EXPECT_FALSE(device->GetInputReport(input, sizeof input));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
    EXPECT_EQ(4, input[0]);
    EXPECT_EQ(0xEF, input[3]);
}

TEST_F(HidDeviceDescriptorTest, InputAndOutputReportsOnRequest) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    std::vector<BYTE> state(65, 0);
    ASSERT_TRUE(device->GetInputReport(state.data(), 65));
    EXPECT_EQ(0x52, state[1]);
    EXPECT_EQ(platform::SimLocatorFactoryConfiguration[0], state[2]);

    std::vector<BYTE> write(65, 0xFF);
    write[0] = 0;
    write[1] = 0x57;
    write[2] = 0x12;
    ASSERT_TRUE(device->SetOutputReport(write.data(), 65));
    std::vector<BYTE> answer(65, 0);
    DWORD read = 0;
    ASSERT_TRUE(device->ReadFile(answer.data(), 65, read)); // the answer to the 'W'
    EXPECT_EQ(65u, read);
    EXPECT_EQ(0x57, answer[1]);
    EXPECT_EQ(0x12, answer[2]);
    ASSERT_TRUE(device->GetInputReport(state.data(), 65));
    EXPECT_EQ(0x12, state[2]) << "the device's state is what it sent last";

    BYTE numbered[65] = {3};
    EXPECT_FALSE(device->SetOutputReport(numbered, 65)) << "no report IDs on this device";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(HidDeviceDescriptorTest, WithoutThePlatformRequestsOnRequestTransfersFail) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    std::vector<BYTE> report(65, 0);
    {
        WithoutEntry<HidD_GetInputReport> noGet;
        EXPECT_FALSE(device->GetInputReport(report.data(), 65));
    }
    {
        WithoutEntry<HidD_SetOutputReport> noSet;
        report[1] = 0x52;
        EXPECT_FALSE(device->SetOutputReport(report.data(), 65));
    }
    EXPECT_TRUE(device->GetInputReport(report.data(), 65));
}

void NoteWriteCompletion(DWORD Error, DWORD Count, LPOVERLAPPED Overlapped) {
    auto* device = static_cast<THidDevice*>(Overlapped->hEvent);
    device->SetTag(Error == ERROR_SUCCESS ? static_cast<int>(Count) : -1);
}

TEST_F(HidDeviceDescriptorTest, OverlappedWriteCompletesInAnAlertableWait) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(0u, device->HidOverlappedWriteResult()) << "no write handle yet";
    std::vector<BYTE> report(65, 0xFF);
    report[0] = 0;
    report[1] = 0x52;
    ASSERT_TRUE(device->WriteFileEx(report.data(), 65, NoteWriteCompletion));
    EXPECT_NE(INVALID_HANDLE_VALUE, device->HidOverlappedWrite());
    EXPECT_EQ(0u, device->HidOverlappedWriteResult()) << "pending until the alertable wait";
    EXPECT_EQ(0, device->Tag());
    EXPECT_EQ(WAIT_IO_COMPLETION, SleepEx(5000, TRUE));
    EXPECT_EQ(65, device->Tag());
    EXPECT_EQ(65u, device->HidOverlappedWriteResult());
}

TEST_F(HidDeviceDescriptorTest, FlushQueueDropsWaitingReports) {
    THidDevice* device = checkedOut(platform::makeSimLocator());
    ASSERT_NE(nullptr, device);
    device->SetNumInputBuffers(2);
    ASSERT_EQ(2, device->NumInputBuffers());
    auto report = [](BYTE mark) {
        std::vector<BYTE> bytes(65, mark);
        bytes[0] = 0;
        return bytes;
    };
    // Three reports into a queue of two: once one is dropped, the other two wait in the queue.
    for (BYTE mark : {1, 2, 3})
        sim->injectInput(path, report(mark));
    ASSERT_TRUE(
        pumpUntil([&] { return platform::droppedInputReports(device->HidFileHandle()) == 1; }));
    ASSERT_TRUE(device->FlushQueue());
    sim->injectInput(path, report(4));
    std::vector<BYTE> read(65, 0);
    DWORD count = 0;
    ASSERT_TRUE(device->ReadFile(read.data(), 65, count));
    EXPECT_EQ(4, read[1]) << "the waiting reports went with the flush";
}

// --- report parsing
// --------------------------------------------------------------------------------

TEST_F(HidDeviceDescriptorTest, ParsingUsesTheDeviceParameters) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    device->SetReportTypeParam(HidP_Input);
    CHAR report[4] = {1, 0, 0, 0};

    device->SetUsagePageParam(0x09); // buttons
    USAGE pressed[] = {1, 3};
    ULONG length = 2;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->SetButtons(pressed, length, report, sizeof report));
    USAGE seen[8] = {};
    length = 8;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetUsages(seen, length, report, sizeof report));
    ASSERT_EQ(2u, length);
    EXPECT_EQ(1, seen[0]);
    EXPECT_EQ(3, seen[1]);
    USAGE released[] = {1};
    length = 1;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->UnsetUsages(released, length, report, sizeof report));
    USAGE_AND_PAGE withPage[8] = {};
    length = 8;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetButtonsEx(withPage, length, report, sizeof report));
    ASSERT_EQ(1u, length);
    EXPECT_EQ(3, withPage[0].Usage);
    EXPECT_EQ(0x09, withPage[0].UsagePage);

    device->SetUsagePageParam(0x01);
    device->SetUsageParam(0x31); // Y
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->SetScaledUsageValue(-5, report, sizeof report));
    LONG scaled = 0;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetScaledUsageValue(scaled, report, sizeof report));
    EXPECT_EQ(-5, scaled);
    ULONG raw = 0;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetUsageValue(raw, report, sizeof report));
    EXPECT_EQ(0xFBu, raw);
    EXPECT_EQ(static_cast<CHAR>(0xFB), report[3]) << "Y is the last byte";

    device->SetUsageParam(0x32); // Z: not on this device
    EXPECT_EQ(HIDP_STATUS_USAGE_NOT_FOUND, device->GetUsageValue(raw, report, sizeof report));
    report[0] = 2;
    device->SetUsageParam(0x31);
    EXPECT_EQ(HIDP_STATUS_INCOMPATIBLE_REPORT_ID,
              device->GetUsageValue(raw, report, sizeof report));
}

TEST_F(HidDeviceDescriptorTest, CapsQueriesFilterByTheParameters) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    device->SetReportTypeParam(HidP_Input);
    HIDP_VALUE_CAPS values[4] = {};
    USHORT count = 4;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetValueCaps(values, count));
    EXPECT_EQ(2, count) << "X and Y";
    device->SetUsagePageParam(0x01);
    device->SetUsageParam(0x30);
    count = 4;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetSpecificValueCaps(values, count));
    ASSERT_EQ(1, count);
    EXPECT_EQ(0x30, values[0].NotRange.Usage);

    HIDP_BUTTON_CAPS buttons[4] = {};
    count = 4;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetButtonCaps(buttons, count));
    EXPECT_EQ(1, count);
    count = 4;
    EXPECT_EQ(HIDP_STATUS_USAGE_NOT_FOUND, device->GetSpecificButtonCaps(buttons, count))
        << "no button has usage X";
}

TEST_F(HidDeviceDescriptorTest, DataListsRoundTrip) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    device->SetReportTypeParam(HidP_Input);
    EXPECT_EQ(8u + 2u, device->MaxDataListLength()) << "eight buttons, X and Y";
    HIDP_BUTTON_CAPS buttons{};
    USHORT count = 1;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetButtonCaps(&buttons, count));
    const USHORT third = buttons.Range.DataIndexMin + 2;

    CHAR report[4] = {1, 0, 0, 0};
    HIDP_DATA set{};
    set.DataIndex = third;
    set.On = TRUE;
    ULONG length = 1;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->SetData(&set, length, report, sizeof report));
    EXPECT_EQ(0x04, report[1]);

    HIDP_DATA back[10] = {};
    length = 10;
    ASSERT_EQ(HIDP_STATUS_SUCCESS, device->GetData(back, length, report, sizeof report));
    ASSERT_EQ(3u, length) << "the button that is on, X and Y";
    EXPECT_EQ(third, back[0].DataIndex);
    EXPECT_EQ(HIDP_STATUS_INVALID_REPORT_LENGTH, device->GetData(back, length, report, 3));
}

TEST_F(HidDeviceDescriptorTest, ExtendedAttributesAndReportInitialisationUseOnlyTheHeldData) {
    THidDevice* device = checkedOut(platform::makeSimGamePad());
    ASSERT_NE(nullptr, device);
    CHAR report[4] = {0x7F, 0x7F, 0x7F, 0x7F};
    EXPECT_EQ(HIDP_STATUS_INVALID_PREPARSED_DATA,
              device->InitializeReportForID(HidP_Input, 1, report, sizeof report))
        << "the preparsed data is not loaded for it";
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());

    ASSERT_EQ(4, device->Caps().InputReportByteLength);
    THidDevice* checkedIn = device;
    controller->CheckIn(device);
    ASSERT_FALSE(checkedIn->IsAccessible());
    EXPECT_EQ(HIDP_STATUS_SUCCESS,
              checkedIn->InitializeReportForID(HidP_Input, 1, report, sizeof report));
    EXPECT_EQ(1, report[0]);
    EXPECT_EQ(0, report[1]);
    EXPECT_EQ(0, report[3]);
    EXPECT_EQ(HIDP_STATUS_REPORT_DOES_NOT_EXIST,
              checkedIn->InitializeReportForID(HidP_Input, 2, report, sizeof report));

    alignas(HIDP_EXTENDED_ATTRIBUTES) BYTE attributes[sizeof(HIDP_EXTENDED_ATTRIBUTES)] = {};
    ULONG length = sizeof attributes;
    EXPECT_EQ(HIDP_STATUS_SUCCESS,
              checkedIn->GetExtendedAttributes(
                  HidP_Input, 0, reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(attributes), length));

    WithoutEntry<HidP_GetExtendedAttributes> noAttributes;
    WithoutEntry<HidP_InitializeReportForID> noInitialize;
    EXPECT_EQ(HIDP_STATUS_NOT_IMPLEMENTED,
              checkedIn->InitializeReportForID(HidP_Input, 1, report, sizeof report));
    EXPECT_EQ(HIDP_STATUS_NOT_IMPLEMENTED,
              checkedIn->GetExtendedAttributes(
                  HidP_Input, 0, reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(attributes), length));
}

// --- the inaccessible device ---------------------------------------------------------------------

TEST_F(HidDeviceDescriptorTest, AnInaccessibleDeviceAsksThePlatformNothing) {
    THidDevice* device = listedOnly(platform::makeSimGamePad());
    ASSERT_FALSE(device->IsAccessible());
    CountCalls<HidD_GetSerialNumberString> c1;
    CountCalls<HidD_GetIndexedString> c2;
    CountCalls<HidD_GetPhysicalDescriptor> c3;
    CountCalls<HidD_GetConfiguration> c4;
    CountCalls<HidD_SetConfiguration> c5;
    CountCalls<HidD_FlushQueue> c6;
    CountCalls<HidD_GetFeature> c7;
    CountCalls<HidD_SetFeature> c8;
    CountCalls<HidD_GetInputReport> c9;
    CountCalls<HidD_SetOutputReport> c10;
    CountCalls<HidD_GetPreparsedData> c11;
    CountCalls<HidP_GetSpecificButtonCaps> c12;
    CountCalls<HidP_GetSpecificValueCaps> c13;
    CountCalls<HidP_GetData> c14;
    CountCalls<HidP_SetData> c15;
    CountCalls<HidP_GetUsages> c16;
    CountCalls<HidP_GetUsagesEx> c17;
    CountCalls<HidP_SetUsages> c18;
    CountCalls<HidP_UnsetUsages> c19;
    CountCalls<HidP_GetUsageValue> c20;
    CountCalls<HidP_GetScaledUsageValue> c21;
    CountCalls<HidP_GetUsageValueArray> c22;
    CountCalls<HidP_SetUsageValue> c23;
    CountCalls<HidP_SetScaledUsageValue> c24;
    CountCalls<HidP_SetUsageValueArray> c25;
    CountCalls<HidP_MaxDataListLength> c26;
    CountCalls<HidP_MaxUsageListLength> c27;
    CountCalls<HidP_GetLinkCollectionNodes> c28;
    hidEntryCalls = 0;

    EXPECT_EQ(u"", device->SerialNumber());
    EXPECT_EQ(u"", device->DeviceStrings(4));
    EXPECT_TRUE(device->LanguageStrings().empty());
    EXPECT_TRUE(device->PhysicalDescriptor().empty());
    EXPECT_EQ(0u, device->Configuration().RingBufferSize);
    device->SetConfiguration(HIDD_CONFIGURATION{nullptr, sizeof(HIDD_CONFIGURATION), 64});
    EXPECT_EQ(0, device->LinkCollectionNodes(0).LinkUsage);
    device->SetReportTypeParam(HidP_Input);
    device->SetUsagePageParam(0x09);
    EXPECT_EQ(0u, device->MaxUsageListLength());

    BYTE bytes[8] = {1};
    DWORD count = 0;
    EXPECT_FALSE(device->FlushQueue());
    EXPECT_FALSE(device->GetFeature(bytes, sizeof bytes));
    EXPECT_FALSE(device->SetFeature(bytes, sizeof bytes));
    EXPECT_FALSE(device->GetInputReport(bytes, sizeof bytes));
    EXPECT_FALSE(device->SetOutputReport(bytes, sizeof bytes));
    EXPECT_FALSE(device->ReadFile(bytes, sizeof bytes, count));
    EXPECT_FALSE(device->WriteFileEx(bytes, sizeof bytes, NoteWriteCompletion));
    EXPECT_FALSE(device->DeviceIoControl(platform::IOCTL_HID_GET_FEATURE, nullptr, 0, bytes,
                                         sizeof bytes, count));
    EXPECT_EQ(0u, device->HidOverlappedWriteResult());

    CHAR* report = reinterpret_cast<CHAR*>(bytes);
    HIDP_BUTTON_CAPS buttons[2];
    HIDP_VALUE_CAPS values[2];
    HIDP_DATA data[2];
    USAGE usages[2];
    USAGE_AND_PAGE pages[2];
    USHORT capsCount = 2;
    ULONG length = 2;
    ULONG raw = 0;
    LONG scaled = 0;
    const NTSTATUS results[] = {
        device->GetButtonCaps(buttons, capsCount),
        device->GetSpecificButtonCaps(buttons, capsCount),
        device->GetValueCaps(values, capsCount),
        device->GetSpecificValueCaps(values, capsCount),
        device->GetData(data, length, report, 4),
        device->SetData(data, length, report, 4),
        device->GetUsages(usages, length, report, 4),
        device->GetButtons(usages, length, report, 4),
        device->GetUsagesEx(pages, length, report, 4),
        device->GetButtonsEx(pages, length, report, 4),
        device->SetUsages(usages, length, report, 4),
        device->SetButtons(usages, length, report, 4),
        device->UnsetUsages(usages, length, report, 4),
        device->UnsetButtons(usages, length, report, 4),
        device->GetUsageValue(raw, report, 4),
        device->GetScaledUsageValue(scaled, report, 4),
        device->GetUsageValueArray(report, 2, report, 4),
        device->SetUsageValue(raw, report, 4),
        device->SetScaledUsageValue(scaled, report, 4),
        device->SetUsageValueArray(report, 2, report, 4),
    };
    for (std::size_t i = 0; i < std::size(results); ++i)
        EXPECT_EQ(HIDP_STATUS_NULL, results[i]) << "operation " << i;

    EXPECT_EQ(0, hidEntryCalls);
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidFileHandle());
    EXPECT_EQ(INVALID_HANDLE_VALUE, device->HidOverlappedWrite());
}

} // namespace
