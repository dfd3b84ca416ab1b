#pragma once
// The hidraw nodes of this machine, listed with libudev. What device setup reports comes from
// udev and sysfs (the parent "hid" and "usb_device" nodes, the report descriptor file), so a
// listing needs no permission on the nodes; only opening one for report I/O does. A monitor
// thread turns hidraw hot-plug events into the device-change broadcast.

#include "DeviceSource.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

class LinuxDeviceSource : public DeviceSource {
public:
    LinuxDeviceSource();
    ~LinuxDeviceSource() override;
    LinuxDeviceSource(const LinuxDeviceSource&) = delete;
    LinuxDeviceSource& operator=(const LinuxDeviceSource&) = delete;

    std::vector<HidInterfaceInfo> enumerate() override;
    // Opens /dev/hidrawN read-write.
    std::unique_ptr<HidConnection> open(const std::string& path, int* error) override;

    // Whether a report descriptor declares report IDs (has a Report ID item).
    static bool declaresReportIds(const std::vector<std::uint8_t>& descriptor);

private:
    std::uint32_t instanceFor(const std::string& syspath);
    void forget(const std::string& syspath);
    void monitor();

    std::mutex mutex_;
    std::map<std::string, std::uint32_t> instances_; // by udev syspath, while attached
    std::uint32_t nextInstance_ = 1;
    int stopFd_ = -1; // eventfd that ends the monitor thread
    std::thread monitorThread_;
};

} // namespace platform
