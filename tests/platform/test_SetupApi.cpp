#include "DeviceTestSupport.h"

#include "platform/hidclass/SetupApi.h"
#include "platform/win32/Win32.h"

#include <vector>

namespace platform {
namespace {

class SetupApiTest : public SimSourceTest {
protected:
    void SetUp() override {
        SimSourceTest::SetUp();
        locatorPath = sim->plug(makeSimLocator());
        set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_HID, nullptr, nullptr,
                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        SimSourceTest::TearDown();
    }

    // The first interface of the set and its device record, through the size query.
    std::u16string firstPath(SP_DEVINFO_DATA& record) {
        SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
        EXPECT_TRUE(
            SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_HID, 0, &interface));
        DWORD required = 0;
        EXPECT_FALSE(
            SetupDiGetDeviceInterfaceDetailW(set, &interface, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<std::uint8_t> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        record.cbSize = sizeof(SP_DEVINFO_DATA);
        EXPECT_TRUE(
            SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, required, nullptr, &record));
        return detail->DevicePath;
    }

    std::string locatorPath;
    HDEVINFO set = INVALID_HANDLE_VALUE;
};

TEST_F(SetupApiTest, EnumeratesTheSnapshotAndStopsWithNoMoreItems) {
    sim->plug(makeSimKeyboard()); // after the snapshot: not in this set
    SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_HID, 0, &interface));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_HID, 1, &interface));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
}

TEST_F(SetupApiTest, DetailGivesPathAndInstanceAfterTheSizeQuery) {
    SP_DEVINFO_DATA record{};
    EXPECT_EQ(firstPath(record), widen(locatorPath));
    EXPECT_EQ(record.DevInst, sim->find(locatorPath)->instance);
}

TEST_F(SetupApiTest, DetailRefusesWrongRecordSizesAndShortBuffers) {
    SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_HID, 0, &interface));
    std::vector<std::uint8_t> buffer(512);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = static_cast<DWORD>(buffer.size()); // the buffer's size is not the record's
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, 512, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, 10, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 4 + (locatorPath.size() + 1) * 2);
}

TEST_F(SetupApiTest, RegistryPropertiesFollowTheSizeQueryProtocol) {
    SP_DEVINFO_DATA record{};
    firstPath(record);
    DWORD required = 0, type = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_CLASS, &type, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, sizeof(u"HIDClass"));
    std::vector<std::uint8_t> buffer(required);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_CLASS, &type, buffer.data(),
                                                   required - 1, &required));
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_CLASS, &type, buffer.data(),
                                                  required, nullptr));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), u"HIDClass");
}

TEST_F(SetupApiTest, HardwareIdsAreAMultiStringAndMissingPropertiesAreInvalidData) {
    SP_DEVINFO_DATA record{};
    firstPath(record);
    DWORD required = 0, type = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                      &required);
    std::vector<char16_t> ids(required / 2);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, &type,
                                                  reinterpret_cast<PBYTE>(ids.data()), required,
                                                  nullptr));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(std::u16string(ids.data()), u"HID\\VID_3F7C&PID_5A21");
    EXPECT_EQ(ids[ids.size() - 1], 0);
    EXPECT_EQ(ids[ids.size() - 2], 0);

    DWORD value = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_BUSNUMBER, nullptr,
                                                   reinterpret_cast<PBYTE>(&value), 4, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
}

TEST_F(SetupApiTest, DestroyedOrForeignSetsAreRefused) {
    HDEVINFO other = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_HID, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(other));
    SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
    EXPECT_FALSE(
        SetupDiEnumDeviceInterfaces(other, nullptr, &GUID_DEVINTERFACE_HID, 0, &interface));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(other));
}

TEST_F(SimSourceTest, AnotherInterfaceClassListsNothing) {
    sim->plug(makeSimLocator());
    const GUID other{1, 2, 3, {4}};
    HDEVINFO set =
        SetupDiGetClassDevsW(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA interface { sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0 };
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_HID, 0, &interface));
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace
} // namespace platform
