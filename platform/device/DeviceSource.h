#pragma once
// A device source lists the HID interfaces attached to this machine and opens them for report
// I/O. The Win32-shaped services (handles and overlapped reads, device setup, HID class
// operations) stand on this contract alone; each source is one implementation: hidraw with
// libudev on Linux, and the simulated devices used by tests and by the tool without hardware.
//
// Every report that crosses this contract starts with its report-ID byte, 0 for a device
// without numbered reports, whatever the underlying node expects.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What device setup knows of one interface without opening it for I/O.
struct HidInterfaceInfo {
    std::string path; // unique among attached interfaces
    // Device-instance number: stable while attached, new after a re-plug.
    std::uint32_t instance = 0;

    bool attributesReadable = true; // false: HidD_GetAttributes fails for this interface
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;

    std::u16string manufacturer; // empty: the device has no such string
    std::u16string product;
    std::u16string serialNumber;
    bool stringsUnterminated = false; // strings are returned without a NUL, filling the buffer
    // String 0: the language identifiers the device offers its strings in. Empty: none.
    std::vector<std::uint16_t> languageIds;
    // Strings by index beyond the three above (manufacturer 1, product 2, serial number 3).
    std::map<std::uint8_t, std::u16string> indexedStrings;
    // Whether the source reaches the device's string table: the language list and strings by
    // any index. Where it does not (hidraw: sysfs has only the three named strings), those
    // requests fail with ERROR_NOT_SUPPORTED.
    bool stringsByIndexAvailable = false;
    // The physical descriptor set, as the device returns it. Empty: the device has none.
    std::vector<std::uint8_t> physicalDescriptor;

    std::vector<std::uint8_t> reportDescriptor;
    bool readWriteAllowed = true; // false: only an open without read-write access succeeds

    // Device-registry properties, as device setup reports them.
    std::u16string deviceDescription;
    std::vector<std::u16string> hardwareIds; // "HID\VID_3F7C&PID_5A21" form, most specific first
    std::u16string friendlyName;
    std::u16string locationInformation;
    std::u16string enumeratorName;
    std::u16string service;
};

// One open of an interface with read-write access.
class HidConnection {
public:
    virtual ~HidConnection() = default;

    // Polls readable while an input report is waiting, and reports POLLHUP or POLLERR once the
    // device has gone and every report queued before that has been read.
    virtual int inputFd() const = 0;
    // Reads one waiting input report (ID byte first) into buffer without blocking. Returns its
    // length, or -errno: -EAGAIN when none is waiting, -ENODEV or -EIO once the device has gone.
    // Don't rely on the read alone for the hang-up: some kernels don't report disconnection
    // through a non-blocking read(). -EAGAIN while inputFd() polls POLLHUP or POLLERR is one.
    virtual int readInput(std::uint8_t* buffer, std::size_t size) = 0;
    // Writes one output report (ID byte first). Returns the bytes written, or -errno.
    // Every operation that sends a report or asks for one refuses a non-zero report ID on a
    // device without numbered reports (-EINVAL), as hidraw does.
    virtual int writeOutput(const std::uint8_t* report, std::size_t size) = 0;

    // Feature and input reports fetched on request, and reports set on request. For the two
    // getters buffer[0] holds the report ID asked for on entry; what comes back is the device's
    // answer as it is, ID byte first, even when that ID is not the one asked for. Length or
    // -errno.
    virtual int getFeature(std::uint8_t* buffer, std::size_t size) = 0;
    virtual int setFeature(const std::uint8_t* report, std::size_t size) = 0;
    virtual int getInputReport(std::uint8_t* buffer, std::size_t size) = 0;
    virtual int setOutputReport(const std::uint8_t* report, std::size_t size) = 0;
};

class DeviceSource {
public:
    virtual ~DeviceSource() = default;

    // The interfaces attached now; an empty list when there are none.
    virtual std::vector<HidInterfaceInfo> enumerate() = 0;
    // The attached interface with this path, if any.
    virtual std::optional<HidInterfaceInfo> find(const std::string& path);
    // Opens an interface for report I/O; on failure returns null and sets *error to an errno
    // value (EACCES when read-write access is denied, ENOENT or ENODEV when it is gone).
    virtual std::unique_ptr<HidConnection> open(const std::string& path, int* error) = 0;
    // The file whose flock stands for "a process uses this interface" (DeviceLock.h); empty
    // where processes cannot share the interface, as by default.
    virtual std::string lockFile(const std::string& path);
};

// The source of this process. The tool installs one at start-up, chosen from
// TARVEX_HID_PLATFORM; tests install their own. Until one is installed, nothing is attached.
DeviceSource& deviceSource();
void installDeviceSource(std::unique_ptr<DeviceSource> source);

} // namespace platform
