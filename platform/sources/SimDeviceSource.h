#pragma once
// Simulated HID devices in this process, for tests and for running the tool without hardware.
// Each open gets a connection whose input side is a real socket, so a simulated device goes
// through the same handle and overlapped-read code as a hidraw node: reports queue in the
// socket, and unplugging closes the device's end, so queued reports are still read and then
// reads fail with -ENODEV and the fd shows POLLHUP.
//
// Like hidraw, a device's input reports (answers and injected ones) reach every open
// connection. A report the socket has no room for is dropped, as a full hidraw queue drops it.

#include "platform/device/DeviceSource.h"
#include "platform/sources/SimDeviceBehaviour.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What a simulated device is and how it answers.
struct SimDeviceModel {
    HidInterfaceInfo info; // path and instance are given when the device is plugged
    bool numberedReports = false;
    // The input reports a device sends back for one output report; none for most.
    std::function<std::vector<Report>(const Report& output)> answer;
    // Feature reports by report ID: a get returns the stored one, a set replaces it.
    std::map<std::uint8_t, Report> features;
    // Input reports by report ID, as a get-input-report request answers them: the device's
    // current state, which every input report it sends replaces. A report stored under another
    // ID than its first byte is answered as it is, like a device that confuses its reports.
    std::map<std::uint8_t, Report> inputReports;
};

// The locator, answering as SimLocatorAnswers does.
SimDeviceModel makeSimLocator();
// The most specific hardware ID device setup reports: "HID\VID_3F7C&PID_5A21".
std::u16string simHardwareId(std::uint16_t vendor, std::uint16_t product);
SimDeviceModel makeSimKeyboard(); // boot keyboard
SimDeviceModel makeSimMouse();    // boot mouse
// A game pad with numbered reports: input 1 (eight buttons, X and Y from -127 to 127), feature
// 2 (two vendor-defined bytes, 0x10 and 0x80 at first), output 3 (four LEDs). The one device
// here with a physical descriptor, strings in two languages and a string at index 4.
SimDeviceModel makeSimGamePad();

class SimDeviceSource : public DeviceSource {
public:
    SimDeviceSource();
    ~SimDeviceSource() override;
    SimDeviceSource(const SimDeviceSource&) = delete;
    SimDeviceSource& operator=(const SimDeviceSource&) = delete;

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidConnection> open(const std::string& path, int* error) override;
    // Processes that run the same simulation (the same TARVEX_HID_PLATFORM value) see the same
    // devices under the same paths, and lock them as they would lock one real device: a lock
    // file in /tmp named after the simulation and the path. Without a simulation name (the
    // default, as in tests), devices are not locked.
    std::string lockFile(const std::string& path) override;
    void setSimulationName(std::string name) { simulationName_ = std::move(name); }

    // Attaches a device under a new instance number and returns its path. Plugging and
    // unplugging broadcast the device-change message, as hot-plug does.
    std::string plug(SimDeviceModel model);
    // Detaches a device; its open connections see the hang-up. False when it is not attached.
    bool unplug(const std::string& path);

    // Test controls; each returns false when no device with that path is attached.
    bool injectInput(const std::string& path, const Report& report);
    bool setReadWriteAllowed(const std::string& path, bool allowed);
    bool setAttributesReadable(const std::string& path, bool readable);
    bool setStringsUnterminated(const std::string& path, bool unterminated);
    // Answers go out this long after the output report, without holding up its writer.
    bool setAnswerDelay(const std::string& path, std::chrono::milliseconds delay);
    // While set, output reports are taken and never answered.
    bool setDropAnswers(const std::string& path, bool drop);
    // Called with every output report the device receives (ID byte first), on the writer's
    // thread, before it is answered.
    using OutputObserver = std::function<void(const Report& output)>;
    bool setOutputObserver(const std::string& path, OutputObserver observer);

    // Makes the device vanish, as unplug does, right after the `calls`-th call that reaches it
    // (0, or a number already passed: never). Counted from the plug, on any thread, while the
    // device is attached: each open, each input report read (a read that finds nothing waiting
    // is not counted), each output report written, each feature or input report got or set. A
    // request hidraw refuses before it reaches the device (a report ID the device does not use)
    // is not counted, nor are listing and looking up devices, which read what the system knows
    // of the device rather than the device.
    bool setUnplugAfterCalls(const std::string& path, std::size_t calls);
    // The calls counted so far; none when no device with that path is attached.
    std::optional<std::size_t> callsMade(const std::string& path) const;

    class Device;
    class Scheduler;

private:
    std::shared_ptr<Device> findDevice(const std::string& path) const;
    // A device that vanished by itself is detached but still held; this lets it go.
    void dropDetachedLocked();

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Device>> devices_;
    std::uint32_t nextInstance_ = 1;
    std::shared_ptr<Scheduler> scheduler_;
    std::string simulationName_;
};

// The built-in set: one locator, one keyboard, one mouse.
std::unique_ptr<SimDeviceSource> makeBuiltInSimulation();

} // namespace platform
