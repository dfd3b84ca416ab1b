#pragma once
// A scripted device source for the device-layer tests: the test plugs and unplugs interfaces,
// denies read-write access, and plays the device's end of every connection opened on one
// (SOCK_SEQPACKET pairs, one message per report, like hidraw). Plus pumping the plain message
// queue of the UI thread until a condition holds, with a deadline.

#include "hid/HidControllerClass.h"
#include "platform/device/DeviceSource.h"
#include "platform/device/FdReportConnection.h"
#include "platform/uithread/EventLoop.h"
#include "platform/uithread/Messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace hidtest {

constexpr std::uint16_t LocatorVid = 0x3F7C;
constexpr std::uint16_t LocatorPid = 0x5A21;

// Vendor-defined 64-byte input and output reports without report IDs: 65-byte report lengths.
inline std::vector<std::uint8_t> LocatorDescriptor() {
    return {0x06, 0x00, 0xFF, // Usage Page (vendor 0xFF00)
            0x09, 0x01,       // Usage (1)
            0xA1, 0x01,       // Collection (Application)
            0x15, 0x00,       //   Logical Minimum (0)
            0x26, 0xFF, 0x00, //   Logical Maximum (255)
            0x75, 0x08,       //   Report Size (8)
            0x95, 0x40,       //   Report Count (64)
            0x09, 0x01,       //   Usage (1)
            0x81, 0x02,       //   Input (Data, Variable, Absolute)
            0x09, 0x01,       //   Usage (1)
            0x91, 0x02,       //   Output (Data, Variable, Absolute)
            0xC0};            // End Collection
}

inline platform::HidInterfaceInfo Interface(const std::string& path, std::uint16_t vid,
                                            std::uint16_t pid, std::u16string product = u"") {
    platform::HidInterfaceInfo info;
    info.path = path;
    info.vendorId = vid;
    info.productId = pid;
    info.product = std::move(product);
    info.reportDescriptor = LocatorDescriptor();
    return info;
}

class ScriptedSource : public platform::DeviceSource {
public:
    ~ScriptedSource() override {
        for (auto& [path, device] : devices_)
            closePeers(device);
    }

    // A new device-instance number at every plug, as after a real re-plug. A device with
    // numbered reports sends its report ID first.
    void plug(platform::HidInterfaceInfo info, bool numberedReports = false) {
        std::lock_guard lock(mutex_);
        info.instance = ++lastInstance_;
        devices_[info.path] = Device{info, numberedReports, true, {}};
    }
    void unplug(const std::string& path) {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(path);
        if (it == devices_.end())
            return;
        it->second.attached = false;
        closePeers(it->second);
    }
    void change(const std::string& path,
                const std::function<void(platform::HidInterfaceInfo&)>& edit) {
        std::lock_guard lock(mutex_);
        edit(devices_.at(path).info);
    }

    // The device sends one input report to every open connection (without its ID byte when
    // the device has unnumbered reports).
    void send(const std::string& path, const std::vector<std::uint8_t>& report) {
        std::lock_guard lock(mutex_);
        for (int fd : devices_.at(path).peers)
            if (fd >= 0)
                ::send(fd, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    int openConnections(const std::string& path) {
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
        return std::make_unique<platform::FdReportConnection>(ends[0], it->second.numberedReports);
    }

private:
    struct Device {
        platform::HidInterfaceInfo info;
        bool numberedReports = false;
        bool attached = true;
        std::vector<int> peers;
    };
    static void closePeers(Device& device) {
        for (int& fd : device.peers)
            if (fd >= 0)
                ::close(std::exchange(fd, -1));
    }
    std::mutex mutex_;
    std::map<std::string, Device> devices_;
    std::uint32_t lastInstance_ = 0;
};

// Runs the UI thread's queue until condition holds; false after five seconds.
template <class Condition> bool PumpUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        platform::WaitForPostedWork(5);
        platform::PumpMessages();
    }
    return true;
}

// Runs everything already queued, as one pass of the event loop would.
inline void PumpPending() {
    while (platform::PumpMessages()) {
    }
}

// Installs a fresh scripted source for each test and announces device changes.
class HidLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto source = std::make_unique<ScriptedSource>();
        source_ = source.get();
        platform::installDeviceSource(std::move(source));
    }
    void TearDown() override { PumpPending(); }

    void announce() {
        platform::broadcastDeviceNodesChanged();
        PumpPending();
    }
    // A controller whose first refresh has run.
    std::unique_ptr<THidDeviceController> refreshedController() {
        auto controller = std::make_unique<THidDeviceController>();
        PumpPending();
        return controller;
    }

    ScriptedSource* source_ = nullptr;
};

} // namespace hidtest
