#include "platform/hidclass/SetupApi.h"

#include "platform/device/DeviceSource.h"
#include "platform/win32/Utf16.h"
#include "platform/win32/Win32.h"

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace platform {

namespace {

// A snapshot of the attached interfaces, taken when the set is made.
struct DeviceInfoSet {
    std::vector<HidInterfaceInfo> members;
};

// The live sets by handle. A handle not in here (never made, or destroyed) is refused.
class DeviceInfoSets {
public:
    HDEVINFO add(std::shared_ptr<DeviceInfoSet> set) {
        std::lock_guard lock(mutex_);
        HDEVINFO handle = set.get();
        sets_.emplace(handle, std::move(set));
        return handle;
    }
    std::shared_ptr<DeviceInfoSet> find(HDEVINFO handle) const {
        std::lock_guard lock(mutex_);
        const auto it = sets_.find(handle);
        return it == sets_.end() ? nullptr : it->second;
    }
    bool remove(HDEVINFO handle) {
        std::lock_guard lock(mutex_);
        return sets_.erase(handle) == 1;
    }

private:
    mutable std::mutex mutex_;
    std::map<HDEVINFO, std::shared_ptr<DeviceInfoSet>> sets_;
};

DeviceInfoSets& liveSets() {
    static DeviceInfoSets sets;
    return sets;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// A property value as the registry holds it: its type and its bytes.
struct PropertyValue {
    DWORD type;
    std::vector<BYTE> bytes;
};

void appendWide(std::vector<BYTE>& bytes, const std::u16string& text) {
    const auto* begin = reinterpret_cast<const BYTE*>(text.c_str());
    bytes.insert(bytes.end(), begin, begin + (text.size() + 1) * sizeof(WCHAR));
}

std::optional<PropertyValue> textValue(const std::u16string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    PropertyValue value{REG_SZ, {}};
    appendWide(value.bytes, text);
    return value;
}

// Each text with its NUL, then one more NUL that ends the list.
std::optional<PropertyValue> listValue(const std::vector<std::u16string>& texts) {
    if (texts.empty()) {
        return std::nullopt;
    }
    PropertyValue value{REG_MULTI_SZ, {}};
    for (const auto& text : texts) {
        appendWide(value.bytes, text);
    }
    appendWide(value.bytes, u"");
    return value;
}

std::optional<PropertyValue> propertyOf(const HidInterfaceInfo& info, DWORD property) {
    switch (property) {
    case SPDRP_DEVICEDESC:
        return textValue(info.deviceDescription);
    case SPDRP_HARDWAREID:
        return listValue(info.hardwareIds);
    case SPDRP_SERVICE:
        return textValue(info.service);
    case SPDRP_CLASS:
        return textValue(u"HIDClass");
    case SPDRP_CLASSGUID:
        return textValue(u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}");
    case SPDRP_MFG:
        return textValue(info.manufacturer);
    case SPDRP_FRIENDLYNAME:
        return textValue(info.friendlyName);
    case SPDRP_LOCATION_INFORMATION:
        return textValue(info.locationInformation);
    case SPDRP_ENUMERATOR_NAME:
        return textValue(info.enumeratorName);
    default:
        return std::nullopt;
    }
}

// The member a record returned by this set stands for, from the index kept in Reserved.
const HidInterfaceInfo* memberOf(const DeviceInfoSet& set, ULONG_PTR reserved) {
    if (reserved == 0 || reserved > set.members.size()) {
        return nullptr;
    }
    return &set.members[reserved - 1];
}

void fillDeviceRecord(SP_DEVINFO_DATA& record, const HidInterfaceInfo& member, ULONG_PTR reserved) {
    record.ClassGuid = GUID_DEVCLASS_HIDCLASS;
    record.DevInst = member.instance;
    record.Reserved = reserved;
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR, HWND, DWORD Flags) {
    if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    try {
        auto set = std::make_shared<DeviceInfoSet>();
        const bool hidInterfaces =
            (Flags & DIGCF_DEVICEINTERFACE) != 0 &&
            ((Flags & DIGCF_ALLCLASSES) != 0 || *ClassGuid == GUID_DEVINTERFACE_HID);
        if (hidInterfaces) {
            set->members = deviceSource().enumerate();
        }
        return liveSets().add(std::move(set));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    return liveSets().remove(DeviceInfoSet) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const auto set = liveSets().find(DeviceInfoSet);
    if (!set) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (*InterfaceClassGuid != GUID_DEVINTERFACE_HID || MemberIndex >= set->members.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    DeviceInterfaceData->InterfaceClassGuid = GUID_DEVINTERFACE_HID;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = MemberIndex + 1;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    const auto set = liveSets().find(DeviceInfoSet);
    if (!set) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const HidInterfaceInfo* member = memberOf(*set, DeviceInterfaceData->Reserved);
    if (member == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if ((DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) ||
        (DeviceInterfaceDetailData != nullptr &&
         DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) ||
        (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    const std::u16string path = utf16FromUtf8(member->path);
    const DWORD required =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (RequiredSize != nullptr) {
        *RequiredSize = required;
    }
    if (DeviceInfoData != nullptr) {
        fillDeviceRecord(*DeviceInfoData, *member, DeviceInterfaceData->Reserved);
    }
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < required) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(),
                (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
    const auto set = liveSets().find(DeviceInfoSet);
    if (!set) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
        (PropertyBuffer == nullptr && PropertyBufferSize != 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const HidInterfaceInfo* member = memberOf(*set, DeviceInfoData->Reserved);
    if (member == nullptr) {
        return fail(ERROR_NO_SUCH_DEVINST);
    }
    if (Property >= SPDRP_MAXIMUM_PROPERTY) {
        return fail(ERROR_INVALID_REG_PROPERTY);
    }
    const auto value = propertyOf(*member, Property);
    if (!value) {
        return fail(ERROR_INVALID_DATA);
    }
    const auto size = static_cast<DWORD>(value->bytes.size());
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = value->type;
    }
    if (PropertyBuffer == nullptr || PropertyBufferSize < size) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(PropertyBuffer, value->bytes.data(), size);
    return TRUE;
}

std::vector<std::pair<std::string, void*>> setupApiModuleEntries() {
    auto entry = [](const char* name, auto function) {
        return std::pair<std::string, void*>(name, reinterpret_cast<void*>(function));
    };
    return {
        entry("SetupDiGetClassDevsW", &SetupDiGetClassDevsW),
        entry("SetupDiDestroyDeviceInfoList", &SetupDiDestroyDeviceInfoList),
        entry("SetupDiEnumDeviceInterfaces", &SetupDiEnumDeviceInterfaces),
        entry("SetupDiGetDeviceInterfaceDetailW", &SetupDiGetDeviceInterfaceDetailW),
        entry("SetupDiGetDeviceRegistryPropertyW", &SetupDiGetDeviceRegistryPropertyW),
    };
}

} // namespace platform
