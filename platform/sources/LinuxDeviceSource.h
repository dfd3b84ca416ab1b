#pragma once
// The hidraw nodes of this machine, listed with libudev. What device setup reports comes from
// udev and sysfs (the parent "hid" and "usb_device" nodes, the report descriptor file), so a
// listing needs no permission on the nodes; only opening one for report I/O does. A hot-plug
// monitor turns hidraw events into the device-change broadcast.

#include "platform/device/DeviceSource.h"
#include "platform/sources/HotplugMonitor.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

class LinuxDeviceSource : public DeviceSource {
public:
    LinuxDeviceSource();
    // Tests choose the event streams; the default ones are this machine's.
    explicit LinuxDeviceSource(const HotplugOpeners& openers);
    ~LinuxDeviceSource() override;
    LinuxDeviceSource(const LinuxDeviceSource&) = delete;
    LinuxDeviceSource& operator=(const LinuxDeviceSource&) = delete;

    std::vector<HidInterfaceInfo> enumerate() override;
    // Opens /dev/hidrawN read-write.
    std::unique_ptr<HidConnection> open(const std::string& path, int* error) override;
    // The node itself: whoever may use the device may open it to lock it.
    std::string lockFile(const std::string& path) override { return path; }

    // Where hot-plug news comes from now; it falls back to polling if its stream breaks.
    HotplugMode hotplugMode() const { return hotplug_->mode(); }

    // The serial number the kernel keeps for the open hidraw node fd (HIDIOCGRAWUNIQ, Linux 5.6
    // on), or fallback where the node does not answer that request.
    static std::string serialNumberOf(int fd, const std::string& fallback);
    // libudev's monitors: the udev daemon's when its control socket exists, else the kernel's.
    static HotplugOpeners systemHotplugOpeners();

private:
    std::uint32_t instanceFor(const std::string& syspath);
    void forget(const std::string& syspath);

    std::mutex mutex_;
    std::map<std::string, std::uint32_t> instances_; // by udev syspath, while attached
    std::uint32_t nextInstance_ = 1;
    std::unique_ptr<HotplugMonitor> hotplug_; // last: stopped before the rest goes
};

} // namespace platform
