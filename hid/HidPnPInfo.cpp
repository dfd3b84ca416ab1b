#include "hid/HidPnPInfo.h"

#include <array>
#include <memory>

namespace {

// A zero-filled property buffer: on the stack when the property fits, else allocated for the
// one read and released with the object.
template <std::size_t FixedBytes> class PropertyBuffer {
public:
    explicit PropertyBuffer(std::size_t bytes) : bytes_(bytes) {
        if (bytes > FixedBytes) {
            allocated_ = std::make_unique<WCHAR[]>(wideCount());
        } else {
            fixed_.fill(0);
        }
    }
    WCHAR* text() { return allocated_ ? allocated_.get() : fixed_.data(); }
    PBYTE bytes() { return reinterpret_cast<PBYTE>(text()); }
    std::size_t wideCount() const { return (bytes_ + 1) / sizeof(WCHAR); }

private:
    std::size_t bytes_;
    std::array<WCHAR, FixedBytes / sizeof(WCHAR)> fixed_;
    std::unique_ptr<WCHAR[]> allocated_; // make_unique value-initialises: zero-filled
};

// The size a property reports when asked without a buffer; 0 when it has none.
DWORD reportedSize(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &size);
    return size;
}

// The text from begin up to its NUL or the end, whichever comes first.
std::u16string textUpToNul(const WCHAR* begin, const WCHAR* end) {
    const WCHAR* stop = begin;
    while (stop != end && *stop != 0) {
        ++stop;
    }
    return std::u16string(begin, stop);
}

void appendHex(std::u16string& text, const std::uint8_t* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        text += static_cast<char16_t>(digits[bytes[i] >> 4]);
        text += static_cast<char16_t>(digits[bytes[i] & 0x0F]);
    }
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the fields as numbers, the last eight bytes in order.
std::u16string guidText(const GUID& guid) {
    const std::uint8_t data1[] = {
        static_cast<std::uint8_t>(guid.Data1 >> 24), static_cast<std::uint8_t>(guid.Data1 >> 16),
        static_cast<std::uint8_t>(guid.Data1 >> 8), static_cast<std::uint8_t>(guid.Data1)};
    const std::uint8_t data2[] = {static_cast<std::uint8_t>(guid.Data2 >> 8),
                                  static_cast<std::uint8_t>(guid.Data2)};
    const std::uint8_t data3[] = {static_cast<std::uint8_t>(guid.Data3 >> 8),
                                  static_cast<std::uint8_t>(guid.Data3)};
    std::u16string text = u"{";
    appendHex(text, data1, 4);
    text += u'-';
    appendHex(text, data2, 2);
    text += u'-';
    appendHex(text, data3, 2);
    text += u'-';
    appendHex(text, guid.Data4, 2);
    text += u'-';
    appendHex(text, guid.Data4 + 2, 6);
    text += u'}';
    return text;
}

} // namespace

THidPnPInfo::THidPnPInfo(HDEVINFO APnPHandle, SP_DEVINFO_DATA& ADevData, std::u16string ADevicePath)
    : FDeviceID(ADevData.DevInst), FDevicePath(std::move(ADevicePath)) {
    using namespace platform;
    HDEVINFO h = APnPHandle;
    SP_DEVINFO_DATA& d = ADevData;
    FCapabilities = GetRegistryPropertyDWord(h, d, SPDRP_CAPABILITIES);
    FClassDescr = GetRegistryPropertyString(h, d, SPDRP_CLASS);
    FClassGUID = GetRegistryPropertyString(h, d, SPDRP_CLASSGUID);
    FCompatibleIDs = GetRegistryPropertyStringList(h, d, SPDRP_COMPATIBLEIDS);
    FConfigFlags = GetRegistryPropertyDWord(h, d, SPDRP_CONFIGFLAGS);
    FDeviceDescr = GetRegistryPropertyString(h, d, SPDRP_DEVICEDESC);
    FDriver = GetRegistryPropertyString(h, d, SPDRP_DRIVER);
    FFriendlyName = GetRegistryPropertyString(h, d, SPDRP_FRIENDLYNAME);
    FHardwareID = GetRegistryPropertyStringList(h, d, SPDRP_HARDWAREID);
    FLowerFilters = GetRegistryPropertyStringList(h, d, SPDRP_LOWERFILTERS);
    FMfg = GetRegistryPropertyString(h, d, SPDRP_MFG);
    FUpperFilters = GetRegistryPropertyStringList(h, d, SPDRP_UPPERFILTERS);
    FAddress = GetRegistryPropertyString(h, d, SPDRP_ADDRESS);
    FBusNumber = GetRegistryPropertyDWord(h, d, SPDRP_BUSNUMBER);
    FBusType = GetRegistryPropertyGuid(h, d, SPDRP_BUSTYPEGUID);
    FCharacteristics = GetRegistryPropertyString(h, d, SPDRP_CHARACTERISTICS);
    FDevType = GetRegistryPropertyDWord(h, d, SPDRP_DEVTYPE);
    FEnumeratorName = GetRegistryPropertyString(h, d, SPDRP_ENUMERATOR_NAME);
    FExclusive = GetRegistryPropertyDWord(h, d, SPDRP_EXCLUSIVE);
    FLegacyBusType = GetRegistryPropertyDWord(h, d, SPDRP_LEGACYBUSTYPE);
    FLocationInfo = GetRegistryPropertyString(h, d, SPDRP_LOCATION_INFORMATION);
    FPhysDevObjName = GetRegistryPropertyString(h, d, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    FSecuritySDS = GetRegistryPropertyString(h, d, SPDRP_SECURITY_SDS);
    FService = GetRegistryPropertyString(h, d, SPDRP_SERVICE);
    FUINumber = GetRegistryPropertyDWord(h, d, SPDRP_UI_NUMBER);
    FUINumberFormat = GetRegistryPropertyString(h, d, SPDRP_UI_NUMBER_DESC_FORMAT);
}

std::u16string THidPnPInfo::GetRegistryPropertyString(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                      DWORD Prop) {
    const DWORD size = reportedSize(PnPHandle, DevData, Prop);
    if (size == 0) {
        return {};
    }
    // One wide NUL beyond what the device writes keeps the text terminated whatever it holds.
    PropertyBuffer<FixedStringBufferBytes> buffer(std::size_t{size} + sizeof(WCHAR));
    SetupDiGetDeviceRegistryPropertyW(PnPHandle, &DevData, Prop, nullptr, buffer.bytes(), size,
                                      nullptr);
    return textUpToNul(buffer.text(), buffer.text() + buffer.wideCount());
}

TPnPStringList THidPnPInfo::GetRegistryPropertyStringList(HDEVINFO PnPHandle,
                                                          SP_DEVINFO_DATA& DevData, DWORD Prop) {
    TPnPStringList list;
    const DWORD size = reportedSize(PnPHandle, DevData, Prop);
    if (size == 0) {
        return list;
    }
    // Two wide NULs beyond what the device writes end the list even if the value lacks them.
    PropertyBuffer<FixedListBufferBytes> buffer(std::size_t{size} + 2 * sizeof(WCHAR));
    SetupDiGetDeviceRegistryPropertyW(PnPHandle, &DevData, Prop, nullptr, buffer.bytes(), size,
                                      nullptr);
    const WCHAR* end = buffer.text() + buffer.wideCount();
    for (const WCHAR* entry = buffer.text(); entry != end && *entry != 0;) {
        list.push_back(textUpToNul(entry, end));
        entry += list.back().size();
        if (entry != end) {
            ++entry;
        }
    }
    return list;
}

DWORD THidPnPInfo::GetRegistryPropertyDWord(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                            DWORD Prop) {
    DWORD value = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(PnPHandle, &DevData, Prop, nullptr,
                                           reinterpret_cast<PBYTE>(&value), sizeof(value),
                                           nullptr)) {
        return 0;
    }
    return value;
}

std::u16string THidPnPInfo::GetRegistryPropertyGuid(HDEVINFO PnPHandle, SP_DEVINFO_DATA& DevData,
                                                    DWORD Prop) {
    GUID value{};
    if (!SetupDiGetDeviceRegistryPropertyW(PnPHandle, &DevData, Prop, nullptr,
                                           reinterpret_cast<PBYTE>(&value), sizeof(value),
                                           nullptr)) {
        value = GUID{};
    }
    return guidText(value);
}
