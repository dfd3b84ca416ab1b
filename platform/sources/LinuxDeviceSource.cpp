#include "platform/sources/LinuxDeviceSource.h"

#include "platform/device/FdReportConnection.h"
#include "platform/hidclass/HidReportDescriptor.h"
#include "platform/uithread/Messages.h"
#include "platform/win32/Utf16.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <memory>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t MaxDescriptorBytes = 4096; // the kernel's own limit for hidraw

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

std::u16string hex4(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFF);
    return utf16FromUtf8(buffer);
}

std::vector<std::uint8_t> readDescriptorFile(const std::string& file) {
    std::vector<std::uint8_t> bytes(MaxDescriptorBytes);
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) {
        return {};
    }
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), stream));
    std::fclose(stream);
    return bytes;
}

unsigned hexAttribute(udev_device* device, const char* name) {
    const char* value = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value != nullptr ? static_cast<unsigned>(std::strtoul(value, nullptr, 16)) : 0;
}

std::string stringAttribute(udev_device* device, const char* name) {
    return device != nullptr ? text(udev_device_get_sysattr_value(device, name)) : "";
}

// Fills what the hid parent knows: "HID_ID=0003:00003F7C:00005A21", HID_NAME, HID_UNIQ, the
// report descriptor and the driver.
void describeFromHidParent(udev_device* hid, HidInterfaceInfo& info) {
    unsigned bus = 0, vendor = 0, product = 0;
    if (std::sscanf(text(udev_device_get_property_value(hid, "HID_ID")).c_str(), "%x:%x:%x", &bus,
                    &vendor, &product) == 3) {
        info.vendorId = static_cast<std::uint16_t>(vendor);
        info.productId = static_cast<std::uint16_t>(product);
    }
    const std::u16string name =
        utf16FromUtf8(text(udev_device_get_property_value(hid, "HID_NAME")));
    info.product = name;
    info.friendlyName = name;
    info.deviceDescription = name;
    info.locationInformation = utf16FromUtf8(text(udev_device_get_property_value(hid, "HID_PHYS")));
    info.service = utf16FromUtf8(text(udev_device_get_driver(hid)));
    info.reportDescriptor =
        readDescriptorFile(text(udev_device_get_syspath(hid)) + "/report_descriptor");
}

// A HID device without a USB parent (uhid, Bluetooth, I2C) shows its release number only to the
// input devices it makes: hid-input copies it into each one's id/version. A vendor-defined
// device such as the locator makes none, and its release number stays 0.
void describeFromInputChild(udev* context, udev_device* hid, HidInterfaceInfo& info) {
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context));
    if (!enumeration || udev_enumerate_add_match_parent(enumeration.get(), hid) < 0 ||
        udev_enumerate_add_match_subsystem(enumeration.get(), "input") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevPtr<udev_device> input(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (input && udev_device_get_sysattr_value(input.get(), "id/version") != nullptr) {
            info.versionNumber =
                static_cast<std::uint16_t>(hexAttribute(input.get(), "id/version"));
            return;
        }
    }
}

// The USB device's own descriptor strings are more precise than HID_NAME where they exist.
void describeFromUsbParent(udev_device* usb, HidInterfaceInfo& info) {
    if (usb == nullptr) {
        return;
    }
    info.versionNumber = static_cast<std::uint16_t>(hexAttribute(usb, "bcdDevice"));
    if (const auto manufacturer = stringAttribute(usb, "manufacturer"); !manufacturer.empty()) {
        info.manufacturer = utf16FromUtf8(manufacturer);
    }
    if (const auto product = stringAttribute(usb, "product"); !product.empty()) {
        info.product = utf16FromUtf8(product);
        info.deviceDescription = info.product;
    }
}

std::string hidUniq(udev_device* hid) {
    return text(udev_device_get_property_value(hid, "HID_UNIQ"));
}

// hidraw cannot reach a device's string table, so the serial number is the kernel's: asked of
// the node, or, where the node cannot be opened, the HID device's HID_UNIQ.
std::string kernelSerialNumber(const std::string& devnode, const std::string& hidUniqValue) {
    const int fd = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return hidUniqValue;
    }
    const std::string serial = LinuxDeviceSource::serialNumberOf(fd, hidUniqValue);
    ::close(fd);
    return serial;
}

void fillHardwareIds(HidInterfaceInfo& info) {
    const std::u16string base =
        u"HID\\VID_" + hex4(info.vendorId) + u"&PID_" + hex4(info.productId);
    info.hardwareIds = {base + u"&REV_" + hex4(info.versionNumber), base};
    info.enumeratorName = u"HID";
}

// The udev syspaths of the hidraw nodes; empty when udev cannot list them.
std::vector<std::string> hidrawSyspaths(udev* context) {
    std::vector<std::string> syspaths;
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return syspaths;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        syspaths.push_back(text(udev_list_entry_get_name(entry)));
    }
    return syspaths;
}

// A syspath names one plug-in: the hid parent in it carries a number the kernel never reuses,
// so comparing these lists also sees a device unplugged and plugged back between two looks.
std::vector<std::string> attachedHidrawNodes() {
    UdevPtr<udev> context(udev_new());
    return context ? hidrawSyspaths(context.get()) : std::vector<std::string>{};
}

// libudev's monitor on a netlink socket of its own, filtered to hidraw in the socket.
class UdevMonitorEvents : public HotplugEventSource {
public:
    static std::unique_ptr<HotplugEventSource> open(HotplugMode mode) {
        UdevPtr<udev> context(udev_new());
        const char* stream = mode == HotplugMode::UdevEvents ? "udev" : "kernel";
        UdevPtr<udev_monitor> monitor(context ? udev_monitor_new_from_netlink(context.get(), stream)
                                              : nullptr);
        if (!monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor.get()) < 0) {
            return nullptr;
        }
        return std::unique_ptr<HotplugEventSource>(
            new UdevMonitorEvents(std::move(context), std::move(monitor), mode));
    }

    HotplugMode mode() const override { return mode_; }
    int fd() const override { return udev_monitor_get_fd(monitor_.get()); }

    // The socket never blocks: an empty one reads as EAGAIN, one that overflowed as ENOBUFS.
    HotplugEvent next() override {
        errno = 0;
        UdevPtr<udev_device> device(udev_monitor_receive_device(monitor_.get()));
        if (!device) {
            if (errno == ENOBUFS) {
                return {HotplugEvent::Kind::Overflow, {}};
            }
            const bool nothingWaiting = errno == 0 || errno == EAGAIN || errno == EINTR;
            return {nothingWaiting ? HotplugEvent::Kind::None : HotplugEvent::Kind::Failure, {}};
        }
        if (text(udev_device_get_subsystem(device.get())) != "hidraw") {
            return {HotplugEvent::Kind::Unrelated, {}};
        }
        const bool removed = text(udev_device_get_action(device.get())) == "remove";
        return {HotplugEvent::Kind::Change,
                removed ? text(udev_device_get_syspath(device.get())) : std::string()};
    }

private:
    UdevMonitorEvents(UdevPtr<udev> context, UdevPtr<udev_monitor> monitor, HotplugMode mode)
        : context_(std::move(context)), monitor_(std::move(monitor)), mode_(mode) {}

    UdevPtr<udev> context_;
    UdevPtr<udev_monitor> monitor_;
    const HotplugMode mode_;
};

} // namespace

LinuxDeviceSource::LinuxDeviceSource() : LinuxDeviceSource(systemHotplugOpeners()) {}

LinuxDeviceSource::LinuxDeviceSource(const HotplugOpeners& openers)
    : hotplug_(std::make_unique<HotplugMonitor>(
          openHotplugEvents(openers),
          HotplugMonitor::Listener{attachedHidrawNodes,
                                   [this](const std::string& syspath) { forget(syspath); },
                                   broadcastDeviceNodesChanged})) {}

LinuxDeviceSource::~LinuxDeviceSource() = default;

HotplugOpeners LinuxDeviceSource::systemHotplugOpeners() {
    return {[] { return ::access("/run/udev/control", F_OK) == 0; }, UdevMonitorEvents::open};
}

std::vector<HidInterfaceInfo> LinuxDeviceSource::enumerate() {
    std::vector<HidInterfaceInfo> list;
    UdevPtr<udev> context(udev_new());
    if (!context) {
        return list;
    }
    std::set<std::string> present;
    for (const std::string& syspath : hidrawSyspaths(context.get())) {
        UdevPtr<udev_device> node(udev_device_new_from_syspath(context.get(), syspath.c_str()));
        const char* devnode = node ? udev_device_get_devnode(node.get()) : nullptr;
        // Parents belong to the node and are released with it.
        udev_device* hid =
            node ? udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr)
                 : nullptr;
        if (devnode == nullptr || hid == nullptr) {
            continue;
        }
        HidInterfaceInfo info;
        info.path = devnode;
        describeFromHidParent(hid, info);
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device");
        describeFromUsbParent(usb, info);
        if (usb == nullptr) {
            describeFromInputChild(context.get(), hid, info);
        }
        info.serialNumber = utf16FromUtf8(kernelSerialNumber(devnode, hidUniq(hid)));
        fillHardwareIds(info);
        info.readWriteAllowed = ::access(devnode, R_OK | W_OK) == 0;
        info.instance = instanceFor(syspath);
        present.insert(syspath);
        list.push_back(std::move(info));
    }
    // A node gone since the last listing gets a new number if it comes back.
    std::lock_guard lock(mutex_);
    std::erase_if(instances_, [&](const auto& known) { return !present.contains(known.first); });
    return list;
}

std::unique_ptr<HidConnection> LinuxDeviceSource::open(const std::string& path, int* error) {
    const auto info = find(path);
    if (!info) {
        if (error != nullptr) {
            *error = ENOENT;
        }
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) {
            *error = errno;
        }
        return nullptr;
    }
    return std::make_unique<FdReportConnection>(fd, DeclaresReportIds(info->reportDescriptor));
}

std::string LinuxDeviceSource::serialNumberOf(int fd, const std::string& fallback) {
    char uniq[256] = {};
    const int length = ::ioctl(fd, HIDIOCGRAWUNIQ(sizeof uniq - 1), uniq);
    return length >= 0 ? std::string(uniq) : fallback;
}

std::uint32_t LinuxDeviceSource::instanceFor(const std::string& syspath) {
    std::lock_guard lock(mutex_);
    const auto [it, added] = instances_.try_emplace(syspath, nextInstance_);
    if (added) {
        ++nextInstance_;
    }
    return it->second;
}

void LinuxDeviceSource::forget(const std::string& syspath) {
    std::lock_guard lock(mutex_);
    instances_.erase(syspath);
}

} // namespace platform
