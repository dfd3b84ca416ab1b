#include "hid/HidControllerClass.h"
#include "hid/ModuleLoader.h"
#include "platform/sources/SimDeviceSource.h"
#include "platform/win32/Win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

namespace {

using platform::SPDRP_BUSTYPEGUID;
using platform::SPDRP_CLASS;
using platform::SPDRP_COMPATIBLEIDS;
using platform::SPDRP_DEVICEDESC;
using platform::SPDRP_HARDWAREID;
using platform::SPDRP_UI_NUMBER;

// Registry properties a test sets up, served with the size-query protocol.
std::map<DWORD, std::vector<std::uint8_t>> properties;
int propertyCalls = 0;

BOOL fakeRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD property, PDWORD, PBYTE buffer,
                          DWORD bufferSize, PDWORD requiredSize) {
    ++propertyCalls;
    const auto it = properties.find(property);
    if (it == properties.end()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const auto size = static_cast<DWORD>(it->second.size());
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (buffer == nullptr || bufferSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, it->second.data(), size);
    return TRUE;
}

std::vector<std::uint8_t> bytesOf(const std::u16string& text) {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
    return std::vector<std::uint8_t>(begin, begin + text.size() * sizeof(char16_t));
}

// Binds "SetupApi.dll" to the fake property reader above for one test.
class PnPReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto list = platform::setupApiModuleEntries();
        ModuleEntries entries(list.begin(), list.end());
        entries["SetupDiGetDeviceRegistryPropertyW"] =
            reinterpret_cast<void*>(&fakeRegistryProperty);
        RegisterModule(SetupApiModuleName, entries);
        ASSERT_TRUE(LoadSetupApi());
        properties.clear();
        propertyCalls = 0;
    }
    void TearDown() override {
        UnloadSetupApi();
        UnregisterModule(SetupApiModuleName);
    }
    SP_DEVINFO_DATA record{sizeof(SP_DEVINFO_DATA), {}, 7, 0};
};

TEST_F(PnPReaderTest, AnUnreportedGuidReadsAsTheAllZeroText) {
    const std::u16string text =
        THidPnPInfo::GetRegistryPropertyGuid(nullptr, record, SPDRP_BUSTYPEGUID);
    EXPECT_EQ(text, u"{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(text.size(), 38u);
}

TEST_F(PnPReaderTest, AGuidIsUpperCaseHexInItsGroups) {
    const GUID guid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x3a}};
    const auto* begin = reinterpret_cast<const std::uint8_t*>(&guid);
    properties[SPDRP_BUSTYPEGUID].assign(begin, begin + sizeof guid);
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyGuid(nullptr, record, SPDRP_BUSTYPEGUID),
              u"{4D1E55B2-F16F-11CF-88CB-00111100003A}");
}

TEST_F(PnPReaderTest, ATextOfSizeZeroIsEmptyWithoutASecondCall) {
    properties[SPDRP_DEVICEDESC] = {};
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyString(nullptr, record, SPDRP_DEVICEDESC), u"");
    EXPECT_EQ(propertyCalls, 1);
}

TEST_F(PnPReaderTest, ATextEndsAtItsFirstNulAndAnUnterminatedOneAtItsSize) {
    properties[SPDRP_CLASS] = bytesOf(std::u16string(u"HIDClass\0junk", 13));
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyString(nullptr, record, SPDRP_CLASS), u"HIDClass");
    properties[SPDRP_CLASS] = bytesOf(u"NoTerminator");
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyString(nullptr, record, SPDRP_CLASS),
              u"NoTerminator");
    // An odd size: the last byte is completed by the appended NUL, and nothing beyond is read.
    properties[SPDRP_CLASS] = {'A', 0, 'B'};
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyString(nullptr, record, SPDRP_CLASS), u"AB");
}

TEST_F(PnPReaderTest, ATextLargerThanTheFixedBufferIsReadCompletely) {
    const std::u16string large(3000, u'x');
    properties[SPDRP_DEVICEDESC] = bytesOf(large + u'\0');
    ASSERT_GT(properties[SPDRP_DEVICEDESC].size() + 2, THidPnPInfo::FixedStringBufferBytes);
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyString(nullptr, record, SPDRP_DEVICEDESC), large);
}

TEST_F(PnPReaderTest, AListStopsAtItsFirstEmptyText) {
    properties[SPDRP_HARDWAREID] =
        bytesOf(std::u16string(u"HID\\VID_3F7C&PID_5A21\0HID_DEVICE\0\0LATER\0\0", 42));
    const TPnPStringList list =
        THidPnPInfo::GetRegistryPropertyStringList(nullptr, record, SPDRP_HARDWAREID);
    EXPECT_EQ(list, (TPnPStringList{u"HID\\VID_3F7C&PID_5A21", u"HID_DEVICE"}));
}

TEST_F(PnPReaderTest, AListWithoutTerminatorsOrLargerThanTheFixedBufferIsReadSafely) {
    properties[SPDRP_COMPATIBLEIDS] = bytesOf(u"ONE");
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyStringList(nullptr, record, SPDRP_COMPATIBLEIDS),
              TPnPStringList{u"ONE"});
    const std::u16string big(20000, u'y');
    properties[SPDRP_COMPATIBLEIDS] = bytesOf(big + u'\0' + u"Z" + u'\0' + u'\0');
    const auto list =
        THidPnPInfo::GetRegistryPropertyStringList(nullptr, record, SPDRP_COMPATIBLEIDS);
    EXPECT_EQ(list, (TPnPStringList{big, u"Z"}));
}

TEST_F(PnPReaderTest, UnreadableNumbersAndListsAreZeroAndEmpty) {
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyDWord(nullptr, record, SPDRP_UI_NUMBER), 0u);
    EXPECT_TRUE(
        THidPnPInfo::GetRegistryPropertyStringList(nullptr, record, SPDRP_HARDWAREID).empty());
    properties[SPDRP_UI_NUMBER] = {0x2A, 0, 0, 0};
    EXPECT_EQ(THidPnPInfo::GetRegistryPropertyDWord(nullptr, record, SPDRP_UI_NUMBER), 42u);
}

// The whole description over the built-in device setup and a simulated locator.
TEST(HidPnPInfo, DescribesASimulatedLocatorThroughDeviceSetup) {
    auto source = std::make_unique<platform::SimDeviceSource>();
    const std::string path = source->plug(platform::makeSimLocator());
    platform::installDeviceSource(std::move(source));
    ASSERT_TRUE(LoadSetupApi());
    GUID hid = platform::GUID_DEVINTERFACE_HID;
    HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr,
                                        platform::DIGCF_PRESENT | platform::DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &interface));
    std::vector<std::uint8_t> buffer(1024);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA record{sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, 1024, nullptr, &record));

    const THidPnPInfo info(set, record, detail->DevicePath);
    EXPECT_EQ(info.DevicePath(), std::u16string(path.begin(), path.end()));
    EXPECT_EQ(info.DeviceID(), record.DevInst);
    EXPECT_EQ(info.ClassDescr(), u"HIDClass");
    EXPECT_EQ(info.Mfg(), u"Tarvex");
    ASSERT_FALSE(info.HardwareID().empty());
    EXPECT_EQ(info.HardwareID().front(), u"HID\\VID_3F7C&PID_5A21");
    EXPECT_EQ(info.BusType(), u"{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(info.UINumber(), 0u);

    SetupDiDestroyDeviceInfoList(set);
    UnloadSetupApi();
    platform::installDeviceSource(nullptr);
}

} // namespace
