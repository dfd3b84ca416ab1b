#include "DeviceTestSupport.h"

#include "platform/hidclass/HidD.h"
#include "platform/win32/Win32.h"

#include <future>

namespace platform {
namespace {

class HidDTest : public SimSourceTest {
protected:
    void SetUp() override {
        SimSourceTest::SetUp();
        path = sim->plug(makeSimLocator());
    }
    void TearDown() override {
        for (HANDLE handle : handles) {
            CloseHandle(handle);
        }
        SimSourceTest::TearDown();
    }
    HANDLE openDevice(DWORD access) {
        const std::u16string wide = widen(path);
        HANDLE handle = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        handles.push_back(handle);
        return handle;
    }
    std::string path;
    std::vector<HANDLE> handles;
};

TEST_F(HidDTest, AttributesNeedTheRecordSizeAndAReadableDevice) {
    HANDLE handle = openDevice(0);
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    attributes.Size = sizeof(HIDD_ATTRIBUTES);
    ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.VendorID, 0x3F7C);
    EXPECT_EQ(attributes.ProductID, 0x5A21);

    sim->setAttributesReadable(path, false);
    EXPECT_FALSE(HidD_GetAttributes(openDevice(0), &attributes));
    EXPECT_FALSE(HidD_GetAttributes(nullptr, &attributes));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HidDTest, StringsAreTerminatedWhenTheNulFitsAndRefusedWhenTheTextDoesNot) {
    HANDLE handle = openDevice(0);
    char16_t buffer[254];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    ASSERT_TRUE(HidD_GetProductString(handle, buffer, sizeof buffer));
    EXPECT_EQ(std::u16string(buffer), u"Locator");

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    ASSERT_TRUE(HidD_GetProductString(handle, buffer, 7 * 2)); // exactly the text, no NUL
    EXPECT_EQ(buffer[7], u'#');
    EXPECT_FALSE(HidD_GetProductString(handle, buffer, 6 * 2));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    EXPECT_TRUE(HidD_GetIndexedString(handle, 1, buffer, sizeof buffer));
    EXPECT_EQ(std::u16string(buffer), u"Tarvex");
    EXPECT_FALSE(HidD_GetIndexedString(handle, 9, buffer, sizeof buffer));
}

TEST_F(HidDTest, UnterminatedStringsFillTheBufferWithoutANul) {
    sim->setStringsUnterminated(path, true);
    HANDLE handle = openDevice(0);
    char16_t buffer[16];
    ASSERT_TRUE(HidD_GetManufacturerString(handle, buffer, sizeof buffer));
    EXPECT_EQ(std::find(std::begin(buffer), std::end(buffer), u'\0'), std::end(buffer));
    EXPECT_EQ(std::u16string(buffer, 6), u"Tarvex");
}

TEST_F(HidDTest, PreparsedDataGivesTheLocatorsReportLengths) {
    HANDLE handle = openDevice(0);
    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(handle, &data));
    HIDP_CAPS caps{};
    EXPECT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.InputReportByteLength, 65);
    EXPECT_EQ(caps.OutputReportByteLength, 65);
    EXPECT_TRUE(HidD_FreePreparsedData(data));
    EXPECT_FALSE(HidD_FreePreparsedData(data));
}

TEST_F(SimSourceTest, AnUnparsableDescriptorFailsPreparsedData) {
    SimDeviceModel broken = makeSimMouse();
    broken.info.reportDescriptor = {0xA1, 0x01}; // a collection never ended
    const std::u16string path = widen(sim->plug(broken));
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    PHIDP_PREPARSED_DATA data = nullptr;
    EXPECT_FALSE(HidD_GetPreparsedData(handle, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    CloseHandle(handle);
}

TEST_F(HidDTest, InputBufferCountIsKeptWithinItsRange) {
    HANDLE handle = openDevice(GENERIC_READ | GENERIC_WRITE);
    EXPECT_TRUE(HidD_SetNumInputBuffers(handle, 2));
    EXPECT_TRUE(HidD_SetNumInputBuffers(handle, 512));
    ULONG count = 0;
    EXPECT_TRUE(HidD_GetNumInputBuffers(handle, &count));
    EXPECT_EQ(count, 512u);
    EXPECT_FALSE(HidD_SetNumInputBuffers(handle, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HidD_SetNumInputBuffers(handle, 513));
    EXPECT_TRUE(HidD_GetNumInputBuffers(handle, &count));
    EXPECT_EQ(count, 512u);
}

TEST_F(HidDTest, ReportsNeedAReadWriteHandle) {
    std::uint8_t report[65] = {0};
    EXPECT_FALSE(HidD_SetFeature(openDevice(0), report, sizeof report));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    HANDLE handle = openDevice(GENERIC_READ | GENERIC_WRITE);
    report[1] = 0x77;
    EXPECT_TRUE(HidD_SetFeature(handle, report, 2));
    std::uint8_t back[8] = {0};
    EXPECT_TRUE(HidD_GetFeature(handle, back, sizeof back));
    EXPECT_EQ(back[1], 0x77);
    std::uint8_t state[65] = {0};
    ASSERT_TRUE(HidD_GetInputReport(handle, state, sizeof state));
    EXPECT_EQ(state[1], 0x52) << "the locator's state: its last answer to a read";

    // The locator has no numbered reports.
    back[0] = 2;
    EXPECT_FALSE(HidD_GetFeature(handle, back, sizeof back));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    report[0] = 2;
    EXPECT_FALSE(HidD_SetFeature(handle, report, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// A device that answers a request with another report than the one asked for.
TEST_F(SimSourceTest, AReportOfAnotherIdIsRefusedAndLeavesTheBufferAlone) {
    SimDeviceModel confused = makeSimGamePad();
    confused.features[5] = {0x02, 0x99, 0x99};
    confused.inputReports[6] = {0x01, 0x88, 0x88, 0x88};
    const std::u16string path = widen(sim->plug(confused));
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    std::uint8_t feature[3] = {5, 0x11, 0x22};
    EXPECT_FALSE(HidD_GetFeature(handle, feature, sizeof feature));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(Report(std::begin(feature), std::end(feature)), (Report{5, 0x11, 0x22}));

    std::uint8_t input[4] = {6, 0x11, 0x22, 0x33};
    DWORD returned = 99;
    EXPECT_FALSE(DeviceIoControl(handle, IOCTL_HID_GET_INPUT_REPORT, nullptr, 0, input,
                                 sizeof input, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(Report(std::begin(input), std::end(input)), (Report{6, 0x11, 0x22, 0x33}));

    // The report it does have under its own ID still comes through, and only its bytes.
    std::uint8_t good[6] = {2, 0, 0, 0xAA, 0xAA, 0xAA};
    ASSERT_TRUE(DeviceIoControl(handle, IOCTL_HID_GET_FEATURE, nullptr, 0, good, sizeof good,
                                &returned, nullptr));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(Report(std::begin(good), std::end(good)), (Report{2, 0x10, 0x80, 0xAA, 0xAA, 0xAA}));
    CloseHandle(handle);
}

TEST_F(SimSourceTest, IndexedStringsStartWithTheLanguageList) {
    const std::u16string path = widen(sim->plug(makeSimGamePad()));
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    char16_t buffer[16];
    ASSERT_TRUE(HidD_GetIndexedString(handle, 0, buffer, sizeof buffer));
    EXPECT_EQ(std::u16string(buffer), u"\u0409\u0407");
    ASSERT_TRUE(HidD_GetIndexedString(handle, 4, buffer, sizeof buffer));
    EXPECT_EQ(std::u16string(buffer), u"Calibrate");
    ASSERT_TRUE(HidD_GetIndexedString(handle, 3, buffer, sizeof buffer));
    EXPECT_EQ(std::u16string(buffer), u"GP-0042");
    EXPECT_FALSE(HidD_GetIndexedString(handle, 5, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HidD_GetIndexedString(handle, 0x104, buffer, sizeof buffer));
    CloseHandle(handle);

    // A source without the device's string table (hidraw) has the named strings only.
    SimDeviceModel hidrawLike = makeSimGamePad();
    hidrawLike.info.stringsByIndexAvailable = false;
    const std::u16string other = widen(sim->plug(hidrawLike));
    handle = CreateFileW(other.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(HidD_GetIndexedString(handle, 0, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(HidD_GetIndexedString(handle, 4, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(HidD_GetIndexedString(handle, 2, buffer, sizeof buffer));
    CloseHandle(handle);
}

TEST_F(SimSourceTest, PhysicalDescriptorNeedsRoomForAllOfIt) {
    const std::u16string pad = widen(sim->plug(makeSimGamePad()));
    HANDLE handle = CreateFileW(pad.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::uint8_t buffer[8] = {};
    EXPECT_FALSE(HidD_GetPhysicalDescriptor(handle, buffer, 5));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(HidD_GetPhysicalDescriptor(handle, buffer, 6));
    EXPECT_EQ(Report(buffer, buffer + 6), (Report{0x01, 0x03, 0x00, 0x20, 0x07, 0x01}));
    CloseHandle(handle);

    const std::u16string locator = widen(sim->plug(makeSimLocator()));
    handle = CreateFileW(locator.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(HidD_GetPhysicalDescriptor(handle, buffer, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(handle);
}

TEST_F(HidDTest, DeviceIoControlServesTheReportRequestsOnly) {
    HANDLE handle = openDevice(GENERIC_READ | GENERIC_WRITE);
    Report seen;
    sim->setOutputObserver(path, [&](const Report& output) { seen = output; });
    std::uint8_t output[65] = {0, 0x33};
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(handle, IOCTL_HID_SET_OUTPUT_REPORT, output, sizeof output, nullptr,
                                0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(seen, Report(std::begin(output), std::end(output)));
    EXPECT_TRUE(
        DeviceIoControl(handle, IOCTL_HID_FLUSH_QUEUE, nullptr, 0, nullptr, 0, &returned, nullptr));

    EXPECT_FALSE(DeviceIoControl(handle, 0x000B0000 | (200 << 2), nullptr, 0, nullptr, 0, &returned,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    OVERLAPPED overlapped{};
    EXPECT_FALSE(DeviceIoControl(handle, IOCTL_HID_FLUSH_QUEUE, nullptr, 0, nullptr, 0, &returned,
                                 &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(nullptr, IOCTL_HID_FLUSH_QUEUE, nullptr, 0, nullptr, 0, &returned,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HidDTest, SetOutputReportReachesTheDeviceByteForByte) {
    HANDLE handle = openDevice(GENERIC_READ | GENERIC_WRITE);
    Report seen;
    sim->setOutputObserver(path, [&](const Report& output) { seen = output; });
    std::uint8_t report[65] = {0, 0x52, 1, 2, 3};
    ASSERT_TRUE(HidD_SetOutputReport(handle, report, sizeof report));
    EXPECT_EQ(seen, Report(std::begin(report), std::end(report)));
}

} // namespace
} // namespace platform

namespace platform {
namespace {

void ignoreCompletion(DWORD, DWORD, LPOVERLAPPED) {}

// One overlapped read completed by an alertable wait, as the device layer reads; the bytes
// read, or nothing when the read failed or no report came within the deadline.
Report readThroughHandle(HANDLE handle) {
    Report report(65);
    OVERLAPPED overlapped{};
    if (!ReadFileEx(handle, report.data(), static_cast<DWORD>(report.size()), &overlapped,
                    ignoreCompletion)) {
        return {};
    }
    if (SleepEx(10000, TRUE) != WAIT_IO_COMPLETION) {
        CancelIo(handle);
        SleepEx(0, TRUE);
        return {};
    }
    DWORD read = 0;
    if (!GetOverlappedResult(handle, &overlapped, &read, FALSE)) {
        return {};
    }
    report.resize(read);
    return report;
}

TEST_F(HidDTest, TheSimulatedLocatorAnswersThroughHandlesAndHangsUpAfterItsQueue) {
    const std::u16string wide = widen(path);
    HANDLE handle =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    handles.push_back(handle);
    std::uint8_t command[65] = {0, 0x52};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, command, sizeof command, &written, nullptr));
    EXPECT_EQ(written, 65u);
    const Report answer = readThroughHandle(handle);
    ASSERT_EQ(answer.size(), 65u);
    EXPECT_EQ(answer[1], 0x52);
    EXPECT_EQ(answer[2], SimLocatorFactoryConfiguration[0]);

    sim->injectInput(path, Report(65, 0x07));
    sim->unplug(path);
    EXPECT_EQ(readThroughHandle(handle).size(), 65u); // queued before the unplug
    EXPECT_TRUE(readThroughHandle(handle).empty());
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

int writeCompletions = 0;
void countWriteCompletion(DWORD error, DWORD count, LPOVERLAPPED) {
    writeCompletions += error == ERROR_SUCCESS && count == 65 ? 1 : 100;
}

TEST_F(HidDTest, OverlappedWriteCompletesOnlyInAnAlertableWait) {
    const std::u16string wide = widen(path);
    HANDLE overlappedHandle =
        CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(overlappedHandle, INVALID_HANDLE_VALUE);
    handles.push_back(overlappedHandle);
    HANDLE syncHandle = openDevice(GENERIC_READ | GENERIC_WRITE);
    writeCompletions = 0;

    std::uint8_t command[65] = {0, 0x52};
    OVERLAPPED overlapped{};
    ASSERT_TRUE(
        WriteFileEx(overlappedHandle, command, sizeof command, &overlapped, countWriteCompletion));
    DWORD count = 0;
    EXPECT_FALSE(GetOverlappedResult(overlappedHandle, &overlapped, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    // A blocking read is no alertable wait: the write's routine stays queued meanwhile.
    std::uint8_t answer[65] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(syncHandle, answer, sizeof answer, &read, nullptr));
    EXPECT_EQ(read, 65u);
    EXPECT_EQ(answer[1], 0x52);
    EXPECT_EQ(writeCompletions, 0);

    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(writeCompletions, 1);
    ASSERT_TRUE(GetOverlappedResult(overlappedHandle, &overlapped, &count, FALSE));
    EXPECT_EQ(count, 65u);

    // Refused at once, and nothing is queued for the next alertable wait.
    command[0] = 1; // no numbered reports on the locator
    EXPECT_FALSE(
        WriteFileEx(overlappedHandle, command, sizeof command, &overlapped, countWriteCompletion));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(
        WriteFileEx(syncHandle, command, sizeof command, &overlapped, countWriteCompletion));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "not an overlapped handle";
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
    EXPECT_EQ(writeCompletions, 1);
}

TEST_F(HidDTest, BlockingReadEndsWhenTheDeviceGoes) {
    HANDLE handle = openDevice(GENERIC_READ | GENERIC_WRITE);
    auto reading = std::async(std::launch::async, [handle] {
        std::uint8_t buffer[65];
        DWORD read = 0;
        const BOOL done = ReadFile(handle, buffer, sizeof buffer, &read, nullptr);
        return std::make_pair(done, GetLastError());
    });
    sim->unplug(path);
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto [done, error] = reading.get();
    EXPECT_FALSE(done);
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidDTest, DeniedReadWriteStillAllowsAnOpenWithoutAccess) {
    sim->setReadWriteAllowed(path, false);
    const std::u16string wide = widen(path);
    EXPECT_EQ(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
    EXPECT_TRUE(HidD_GetAttributes(openDevice(0), &attributes));
}

} // namespace
} // namespace platform
