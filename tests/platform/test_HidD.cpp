#include "DeviceTestSupport.h"

#include "platform/HidD.h"
#include "platform/Win32.h"

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
    report[0] = 2;
    report[1] = 0x77;
    EXPECT_TRUE(HidD_SetFeature(handle, report, 2));
    std::uint8_t back[8] = {2};
    EXPECT_TRUE(HidD_GetFeature(handle, back, sizeof back));
    EXPECT_EQ(back[1], 0x77);
    EXPECT_FALSE(HidD_GetInputReport(handle, back, sizeof back));
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
