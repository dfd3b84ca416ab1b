#pragma once
// The one scripted device source of the tests. Its connections are what the Linux source hands
// out for a hidraw node: an FdReportConnection told by the report-descriptor parser whether the
// device numbers its reports, here on one end of a SOCK_SEQPACKET socket pair (one message per
// report, like hidraw). The test plugs and unplugs interfaces, denies read-write access, and
// plays the device's end of every connection.

#include "platform/device/DeviceSource.h"
#include "platform/device/FdReportConnection.h"
#include "platform/hidclass/HidReportDescriptor.h"
#include "platform/sources/SimDeviceSource.h"

#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace testing_support {

// The locator's report descriptor, as the simulated locator has it: vendor-defined 64-byte input
// and output reports without report IDs, so 65-byte report lengths.
inline std::vector<std::uint8_t> locatorDescriptor() {
    return platform::makeSimLocator().info.reportDescriptor;
}

// A small vendor-defined device with numbered reports: input report 5, one byte.
inline std::vector<std::uint8_t> numberedDescriptor() {
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05,
            0x75, 0x08, 0x95, 0x01, 0x09, 0x01, 0x81, 0x02, 0xC0};
}

class FakeDeviceSource : public platform::DeviceSource {
public:
    ~FakeDeviceSource() override {
        for (auto& [path, device] : devices_)
            closePeers(device);
    }

    // Attaches an interface under a new device-instance number, as after a real plug. Reports
    // are numbered when its report descriptor declares report IDs.
    void plug(platform::HidInterfaceInfo info) {
        std::lock_guard lock(mutex_);
        info.instance = ++lastInstance_;
        const bool numbered = platform::DeclaresReportIds(info.reportDescriptor);
        const std::string path = info.path;
        closePeers(devices_[path]);
        devices_[path] = Device{std::move(info), numbered, true, {}};
    }
    // The device goes away: its end of every connection closes, and it is no longer listed.
    void unplug(const std::string& path) {
        std::lock_guard lock(mutex_);
        Device& device = devices_.at(path);
        device.attached = false;
        closePeers(device);
    }
    void change(const std::string& path,
                const std::function<void(platform::HidInterfaceInfo&)>& edit) {
        std::lock_guard lock(mutex_);
        edit(devices_.at(path).info);
    }

    // The device sends one input report to every open connection, as hidraw hands it out
    // (without the ID byte for a device without numbered reports). Throws when an open
    // connection has had no room for it for five seconds.
    void send(const std::string& path, const std::vector<std::uint8_t>& report) {
        std::lock_guard lock(mutex_);
        for (int fd : devices_.at(path).peers)
            if (fd >= 0)
                sendTo(fd, report);
    }
    // What the latest connection wrote; empty when nothing came within five seconds.
    std::vector<std::uint8_t> receive(const std::string& path) {
        const int fd = latestPeer(path);
        std::vector<std::uint8_t> buffer(4096);
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 5000) != 1)
            return {};
        const ssize_t length = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return buffer;
    }
    // How many connections have been opened on path since it was plugged.
    int openCount(const std::string& path) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(devices_.at(path).peers.size());
    }

    std::vector<platform::HidInterfaceInfo> enumerate() override {
        std::lock_guard lock(mutex_);
        std::vector<platform::HidInterfaceInfo> attached;
        for (const auto& [path, device] : devices_)
            if (device.attached)
                attached.push_back(device.info);
        return attached;
    }

    std::unique_ptr<platform::HidConnection> open(const std::string& path, int* error) override {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(path);
        if (it == devices_.end() || !it->second.attached) {
            *error = ENOENT;
            return nullptr;
        }
        if (!it->second.info.readWriteAllowed) {
            *error = EACCES;
            return nullptr;
        }
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("socketpair failed");
        it->second.peers.push_back(ends[1]);
        return std::make_unique<platform::FdReportConnection>(ends[0], it->second.numbered);
    }

private:
    struct Device {
        platform::HidInterfaceInfo info;
        bool numbered = false;
        bool attached = true;
        std::vector<int> peers;
    };
    static void closePeers(Device& device) {
        for (int& fd : device.peers)
            if (fd >= 0)
                ::close(std::exchange(fd, -1));
    }
    // A connection its reader has closed takes nothing, as a closed hidraw file does.
    static void sendTo(int fd, const std::vector<std::uint8_t>& report) {
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, 5000) == 1 && (room.revents & POLLHUP) != 0)
            return;
        if (::send(fd, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
                static_cast<ssize_t>(report.size()) &&
            errno != EPIPE && errno != ECONNRESET)
            throw std::runtime_error("the test connection took no report for five seconds");
    }
    int latestPeer(const std::string& path) {
        std::lock_guard lock(mutex_);
        return devices_.at(path).peers.back();
    }

    std::mutex mutex_;
    std::map<std::string, Device> devices_;
    std::uint32_t lastInstance_ = 0;
};

// An interface for the fake source to plug, with the locator's report descriptor.
inline platform::HidInterfaceInfo fakeInterface(const std::string& path, std::uint16_t vendorId = 0,
                                                std::uint16_t productId = 0,
                                                std::u16string product = u"") {
    platform::HidInterfaceInfo info;
    info.path = path;
    info.vendorId = vendorId;
    info.productId = productId;
    info.product = std::move(product);
    info.reportDescriptor = locatorDescriptor();
    return info;
}

} // namespace testing_support
