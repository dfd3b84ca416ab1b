#pragma once
// A device source for tests whose connections are FdReportConnection on one end of a
// SOCK_SEQPACKET socket pair, one message per report like hidraw; the test plays the device on
// the other end. Also a deadline-bounded wait for conditions other threads make true.

#include "platform/device/DeviceSource.h"
#include "platform/device/FdReportConnection.h"

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

class SocketDeviceSource : public platform::DeviceSource {
public:
    ~SocketDeviceSource() override {
        for (auto& [path, device] : devices_)
            for (int fd : device.peers)
                if (fd >= 0)
                    ::close(fd);
    }

    void add(const std::string& path, bool numberedReports, bool readWriteAllowed = true) {
        std::lock_guard lock(mutex_);
        Device& device = devices_[path];
        device.info.path = path;
        device.info.readWriteAllowed = readWriteAllowed;
        device.numberedReports = numberedReports;
    }

    std::vector<platform::HidInterfaceInfo> enumerate() override {
        std::lock_guard lock(mutex_);
        std::vector<platform::HidInterfaceInfo> all;
        for (const auto& [path, device] : devices_)
            all.push_back(device.info);
        return all;
    }

    std::unique_ptr<platform::HidConnection> open(const std::string& path, int* error) override {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(path);
        if (it == devices_.end()) {
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

    // The device's end of the latest connection opened on path: reports go to that one only.
    int peer(const std::string& path) {
        std::lock_guard lock(mutex_);
        return devices_.at(path).peers.back();
    }
    int openCount(const std::string& path) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(devices_.at(path).peers.size());
    }

    // The device sends one input report as hidraw would hand it out.
    void send(const std::string& path, const std::vector<std::uint8_t>& report) {
        if (::send(peer(path), report.data(), report.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(report.size()))
            throw std::runtime_error("send to the test connection failed");
    }
    // What the latest connection wrote; empty when nothing came within five seconds.
    std::vector<std::uint8_t> receive(const std::string& path) {
        std::vector<std::uint8_t> buffer(4096);
        pollfd wait{peer(path), POLLIN, 0};
        if (::poll(&wait, 1, 5000) != 1)
            return {};
        const ssize_t length = ::recv(peer(path), buffer.data(), buffer.size(), MSG_DONTWAIT);
        buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return buffer;
    }
    // The device goes away: its end of every connection closes.
    void unplug(const std::string& path) {
        std::lock_guard lock(mutex_);
        for (int& fd : devices_.at(path).peers) {
            ::close(fd);
            fd = -1;
        }
    }

private:
    struct Device {
        platform::HidInterfaceInfo info;
        bool numberedReports = true;
        std::vector<int> peers;
    };
    std::mutex mutex_;
    std::map<std::string, Device> devices_;
};

// Polls condition until it holds or five seconds have passed; whether it holds.
template <class Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testing_support
