#include "platform/sources/SimDeviceSource.h"

#include "platform/device/FdReportConnection.h"
#include "platform/uithread/Messages.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

const std::vector<std::uint8_t> mouseDescriptor = {
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x02, // Usage (Mouse)
    0xA1, 0x01, // Collection (Application)
    0x09, 0x01, //   Usage (Pointer)
    0xA1, 0x00, //   Collection (Physical)
    0x05, 0x09, //     Usage Page (Button)
    0x19, 0x01, //     Usage Minimum (1)
    0x29, 0x03, //     Usage Maximum (3)
    0x15, 0x00, //     Logical Minimum (0)
    0x25, 0x01, //     Logical Maximum (1)
    0x95, 0x03, //     Report Count (3)
    0x75, 0x01, //     Report Size (1)
    0x81, 0x02, //     Input (Data, Variable, Absolute): buttons
    0x95, 0x01, //     Report Count (1)
    0x75, 0x05, //     Report Size (5)
    0x81, 0x01, //     Input (Constant): padding
    0x05, 0x01, //     Usage Page (Generic Desktop)
    0x09, 0x30, //     Usage (X)
    0x09, 0x31, //     Usage (Y)
    0x15, 0x81, //     Logical Minimum (-127)
    0x25, 0x7F, //     Logical Maximum (127)
    0x75, 0x08, //     Report Size (8)
    0x95, 0x02, //     Report Count (2)
    0x81, 0x06, //     Input (Data, Variable, Relative)
    0xC0,       //   End Collection
    0xC0,       // End Collection
};

const std::vector<std::uint8_t> gamePadDescriptor = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x05,       // Usage (Game Pad)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x01,       //   Report ID (1)
    0x05, 0x09,       //   Usage Page (Button)
    0x19, 0x01,       //   Usage Minimum (1)
    0x29, 0x08,       //   Usage Maximum (8)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x01,       //   Logical Maximum (1)
    0x75, 0x01,       //   Report Size (1)
    0x95, 0x08,       //   Report Count (8)
    0x81, 0x02,       //   Input (Data, Variable, Absolute): buttons
    0x05, 0x01,       //   Usage Page (Generic Desktop)
    0x09, 0x30,       //   Usage (X)
    0x09, 0x31,       //   Usage (Y)
    0x15, 0x81,       //   Logical Minimum (-127)
    0x25, 0x7F,       //   Logical Maximum (127)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x02,       //   Report Count (2)
    0x81, 0x02,       //   Input (Data, Variable, Absolute): stick
    0x85, 0x02,       //   Report ID (2)
    0x06, 0x00, 0xFF, //   Usage Page (Vendor 0xFF00)
    0x09, 0x01,       //   Usage (1)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x02,       //   Report Count (2)
    0xB1, 0x02,       //   Feature (Data, Variable, Absolute): dead zone and gain
    0x85, 0x03,       //   Report ID (3)
    0x05, 0x08,       //   Usage Page (LEDs)
    0x19, 0x01,       //   Usage Minimum (1)
    0x29, 0x04,       //   Usage Maximum (4)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x01,       //   Logical Maximum (1)
    0x75, 0x01,       //   Report Size (1)
    0x95, 0x04,       //   Report Count (4)
    0x91, 0x02,       //   Output (Data, Variable, Absolute): LEDs
    0x75, 0x04,       //   Report Size (4)
    0x95, 0x01,       //   Report Count (1)
    0x91, 0x01,       //   Output (Constant): padding
    0xC0,             // End Collection
};

// Descriptor set 0 (one further set of three bytes), then set 1: right-hand bias, and one
// physical descriptor naming the index finger with effort 1.
const std::vector<std::uint8_t> gamePadPhysicalDescriptor = {0x01, 0x03, 0x00, 0x20, 0x07, 0x01};

constexpr std::uint16_t LanguageEnglishUnitedStates = 0x0409;
constexpr std::uint16_t LanguageGerman = 0x0407;

SimDeviceModel baseModel(std::uint16_t vendor, std::uint16_t product, std::u16string manufacturer,
                         std::u16string name, std::vector<std::uint8_t> descriptor) {
    SimDeviceModel model;
    HidInterfaceInfo& info = model.info;
    info.vendorId = vendor;
    info.productId = product;
    info.versionNumber = 0x0100;
    info.manufacturer = std::move(manufacturer);
    info.product = std::move(name);
    info.reportDescriptor = std::move(descriptor);
    info.languageIds = {LanguageEnglishUnitedStates};
    info.stringsByIndexAvailable = true;
    info.deviceDescription = u"HID-compliant device";
    info.hardwareIds = {simHardwareId(vendor, product), u"HID_DEVICE"};
    info.friendlyName = info.product;
    info.locationInformation = u"Simulated";
    info.enumeratorName = u"HID";
    info.service = u"HidUsb";
    return model;
}

} // namespace

std::u16string simHardwareId(std::uint16_t vendor, std::uint16_t product) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::u16string id = u"HID\\VID_";
    for (int shift = 12; shift >= 0; shift -= 4) {
        id += static_cast<char16_t>(digits[(vendor >> shift) & 0xF]);
    }
    id += u"&PID_";
    for (int shift = 12; shift >= 0; shift -= 4) {
        id += static_cast<char16_t>(digits[(product >> shift) & 0xF]);
    }
    return id;
}

SimDeviceModel makeSimLocator() {
    SimDeviceModel model = baseModel(SimLocatorVendorId, SimLocatorProductId, u"Tarvex", u"Locator",
                                     simLocatorDescriptor());
    model.info.serialNumber = u"SIM0001";
    auto answers = std::make_shared<SimLocatorAnswers>();
    model.inputReports[0] = answers->current();
    model.answer = [answers](const Report& output) -> std::vector<Report> {
        auto answer = answers->answer(output.data(), output.size());
        return answer ? std::vector<Report>{std::move(*answer)} : std::vector<Report>{};
    };
    return model;
}

SimDeviceModel makeSimKeyboard() {
    SimDeviceModel model =
        baseModel(0x046D, 0xC31C, u"Logitech", u"USB Keyboard", simKeyboardDescriptor());
    model.info.deviceDescription = u"HID Keyboard Device";
    model.inputReports[0] = Report(9, 0); // no modifier, no key
    return model;
}

SimDeviceModel makeSimMouse() {
    SimDeviceModel model =
        baseModel(0x046D, 0xC077, u"Logitech", u"USB Optical Mouse", mouseDescriptor);
    model.info.deviceDescription = u"HID-compliant mouse";
    model.inputReports[0] = Report(4, 0); // no button, no movement
    return model;
}

SimDeviceModel makeSimGamePad() {
    SimDeviceModel model = baseModel(0x2E8A, 0x1066, u"Tarvex", u"Sim Game Pad", gamePadDescriptor);
    model.numberedReports = true;
    model.info.serialNumber = u"GP-0042";
    model.info.languageIds = {LanguageEnglishUnitedStates, LanguageGerman};
    model.info.indexedStrings[4] = u"Calibrate";
    model.info.physicalDescriptor = gamePadPhysicalDescriptor;
    model.features[2] = {0x02, 0x10, 0x80};
    model.inputReports[1] = {0x01, 0x00, 0x00, 0x00};
    return model;
}

// Runs delayed answers at their time on one thread of its own, so no writer waits for them.
class SimDeviceSource::Scheduler {
public:
    Scheduler() : thread_([this] { run(); }) {}
    ~Scheduler() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void at(std::chrono::steady_clock::time_point when, std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            queue_.emplace(when, std::move(work));
        }
        wake_.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const auto next = queue_.begin();
            if (wake_.wait_until(lock, next->first) == std::cv_status::no_timeout) {
                continue; // something changed: look at the queue again
            }
            auto work = std::move(next->second);
            queue_.erase(next);
            lock.unlock();
            work();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything above exists
};

// The device's end of one connection's socket. Closed by unplug or when the connection goes.
class DeviceEnd {
public:
    explicit DeviceEnd(int fd) : fd_(fd) {}
    ~DeviceEnd() { close(); }
    DeviceEnd(const DeviceEnd&) = delete;
    DeviceEnd& operator=(const DeviceEnd&) = delete;

    // Never blocks: a report the socket has no room for is dropped.
    void send(const std::uint8_t* bytes, std::size_t size) {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) {
            (void)::send(fd_, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        }
    }
    void close() {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    std::mutex mutex_;
    int fd_;
};

class SimDeviceSource::Device {
public:
    explicit Device(SimDeviceModel model) : model_(std::move(model)) {}

    HidInterfaceInfo info() const {
        std::lock_guard lock(mutex_);
        return model_.info;
    }
    template <typename Change> void change(Change change) {
        std::lock_guard lock(mutex_);
        change(*this);
    }
    bool numberedReports() const { return model_.numberedReports; }
    bool attached() const { return attached_; }

    void addEnd(const std::shared_ptr<DeviceEnd>& end) {
        std::lock_guard lock(mutex_);
        ends_.push_back(end);
    }

    // Closes every open connection's device end; false when the device was detached already.
    bool detach() {
        std::vector<std::weak_ptr<DeviceEnd>> ends;
        {
            std::lock_guard lock(mutex_);
            if (!attached_.exchange(false)) {
                return false;
            }
            ends.swap(ends_);
        }
        for (const auto& weak : ends) {
            if (auto end = weak.lock()) {
                end->close();
            }
        }
        return true;
    }
    // What unplugging does: detach, and tell the windows that the device nodes changed. The
    // source's list drops a detached device by itself.
    bool vanish() {
        if (!detach()) {
            return false;
        }
        broadcastDeviceNodesChanged();
        return true;
    }

    void unplugAfterCalls(std::size_t calls) { unplugAfter_ = calls; }
    std::size_t callsMade() const { return calls_; }
    // Counts one call that reached the attached device, and lets the device vanish when it was
    // the call it is to vanish after. Never called with the device's lock held: vanishing
    // takes it.
    void countCall() {
        if (!attached_) {
            return;
        }
        const std::size_t made = ++calls_;
        if (made == unplugAfter_) {
            vanish();
        }
    }

    // Sends one input report (ID byte first) to every open connection.
    void sendInput(const Report& report) {
        if (report.empty() || !attached_) {
            return;
        }
        // Without numbered reports the node hands reports over without their ID byte.
        const std::size_t skip = numberedReports() ? 0 : 1;
        std::vector<std::shared_ptr<DeviceEnd>> ends;
        {
            std::lock_guard lock(mutex_);
            model_.inputReports[report[0]] = report;
            std::erase_if(ends_, [](const auto& weak) { return weak.expired(); });
            for (const auto& weak : ends_) {
                if (auto end = weak.lock()) {
                    ends.push_back(std::move(end));
                }
            }
        }
        for (const auto& end : ends) {
            end->send(report.data() + skip, report.size() - skip);
        }
    }

    // Takes one output report: shows it to the observer, then answers it now, later or never.
    int receiveOutput(const Report& output, const std::shared_ptr<Device>& self,
                      Scheduler& scheduler) {
        if (!attached_) {
            return -ENODEV;
        }
        OutputObserver observer;
        std::function<std::vector<Report>(const Report&)> answer;
        std::chrono::milliseconds delay{};
        bool drop = false;
        {
            std::lock_guard lock(mutex_);
            observer = observer_;
            answer = model_.answer;
            delay = answerDelay_;
            drop = dropAnswers_;
        }
        if (observer) {
            observer(output);
        }
        if (drop || !answer) {
            return static_cast<int>(output.size());
        }
        std::vector<Report> answers;
        {
            // The model's answer may keep state (the locator's configuration): one at a time.
            std::lock_guard lock(answerMutex_);
            answers = answer(output);
        }
        if (delay.count() > 0) {
            scheduler.at(std::chrono::steady_clock::now() + delay,
                         [self, answers = std::move(answers)] {
                             for (const auto& report : answers) {
                                 self->sendInput(report);
                             }
                         });
        } else {
            for (const auto& report : answers) {
                sendInput(report);
            }
        }
        return static_cast<int>(output.size());
    }

    int getFeature(std::uint8_t* buffer, std::size_t size) {
        return answerStored(model_.features, buffer, size);
    }
    int getInputReport(std::uint8_t* buffer, std::size_t size) {
        return answerStored(model_.inputReports, buffer, size);
    }

    int setFeature(const std::uint8_t* report, std::size_t size) {
        std::lock_guard lock(mutex_);
        if (!attached_) {
            return -ENODEV;
        }
        model_.features[report[0]] = Report(report, report + size);
        return static_cast<int>(size);
    }

    SimDeviceModel model_;
    OutputObserver observer_;
    std::chrono::milliseconds answerDelay_{0};
    bool dropAnswers_ = false;

private:
    // Answers a request for the report whose ID is in buffer[0] with the one stored under it,
    // cut to the buffer.
    int answerStored(const std::map<std::uint8_t, Report>& stored, std::uint8_t* buffer,
                     std::size_t size) {
        std::lock_guard lock(mutex_);
        if (!attached_) {
            return -ENODEV;
        }
        const auto it = stored.find(buffer[0]);
        if (it == stored.end()) {
            return -EPIPE; // the device stalls a request for a report it does not have
        }
        const std::size_t length = std::min(size, it->second.size());
        std::copy_n(it->second.begin(), length, buffer);
        return static_cast<int>(length);
    }

    mutable std::mutex mutex_;
    std::mutex answerMutex_;
    std::atomic<bool> attached_{true};
    std::vector<std::weak_ptr<DeviceEnd>> ends_;
    std::atomic<std::size_t> calls_{0};
    std::atomic<std::size_t> unplugAfter_{0};
};

namespace {

// One open of a simulated device: input through the socket, everything else to the device.
class SimConnection : public HidConnection {
public:
    SimConnection(int appFd, std::shared_ptr<DeviceEnd> deviceEnd,
                  std::shared_ptr<SimDeviceSource::Device> device,
                  std::shared_ptr<SimDeviceSource::Scheduler> scheduler)
        : input_(appFd, device->numberedReports()), deviceEnd_(std::move(deviceEnd)),
          device_(std::move(device)), scheduler_(std::move(scheduler)) {}
    ~SimConnection() override { deviceEnd_->close(); }

    int inputFd() const override { return input_.inputFd(); }
    int readInput(std::uint8_t* buffer, std::size_t size) override {
        const int length = input_.readInput(buffer, size);
        return length > 0 ? counted(length) : length;
    }
    int writeOutput(const std::uint8_t* report, std::size_t size) override {
        if (refuses(report, size)) {
            return -EINVAL;
        }
        return counted(device_->receiveOutput(Report(report, report + size), device_, *scheduler_));
    }
    int getFeature(std::uint8_t* buffer, std::size_t size) override {
        return refuses(buffer, size) ? -EINVAL : counted(device_->getFeature(buffer, size));
    }
    int setFeature(const std::uint8_t* report, std::size_t size) override {
        return refuses(report, size) ? -EINVAL : counted(device_->setFeature(report, size));
    }
    int getInputReport(std::uint8_t* buffer, std::size_t size) override {
        return refuses(buffer, size) ? -EINVAL : counted(device_->getInputReport(buffer, size));
    }
    int setOutputReport(const std::uint8_t* report, std::size_t size) override {
        return writeOutput(report, size);
    }

private:
    // Passes on the result of a call that reached the device, once the device has counted it.
    int counted(int result) {
        device_->countCall();
        return result;
    }
    // What hidraw refuses: no report at all, or a report ID on a device without numbered reports.
    bool refuses(const std::uint8_t* report, std::size_t size) const {
        return report == nullptr || size == 0 || (!device_->numberedReports() && report[0] != 0);
    }

    FdReportConnection input_;
    std::shared_ptr<DeviceEnd> deviceEnd_;
    std::shared_ptr<SimDeviceSource::Device> device_;
    std::shared_ptr<SimDeviceSource::Scheduler> scheduler_;
};

std::string simPath(const HidInterfaceInfo& info, std::uint32_t instance) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "\\\\?\\hid#vid_%04x&pid_%04x#sim&%u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  info.vendorId, info.productId, instance);
    return text;
}

} // namespace

SimDeviceSource::SimDeviceSource() : scheduler_(std::make_shared<Scheduler>()) {}

SimDeviceSource::~SimDeviceSource() {
    for (auto& [path, device] : devices_) {
        device->detach();
    }
}

std::vector<HidInterfaceInfo> SimDeviceSource::enumerate() {
    std::lock_guard lock(mutex_);
    dropDetachedLocked();
    std::vector<HidInterfaceInfo> list;
    for (const auto& [path, device] : devices_) {
        list.push_back(device->info());
    }
    return list;
}

std::unique_ptr<HidConnection> SimDeviceSource::open(const std::string& path, int* error) {
    auto fail = [error](int code) -> std::unique_ptr<HidConnection> {
        if (error != nullptr) {
            *error = code;
        }
        return nullptr;
    };
    const auto device = findDevice(path);
    if (!device) {
        return fail(ENOENT);
    }
    if (!device->info().readWriteAllowed) {
        return fail(EACCES);
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        return fail(errno);
    }
    auto deviceEnd = std::make_shared<DeviceEnd>(fds[1]);
    device->addEnd(deviceEnd);
    if (!device->attached()) {
        deviceEnd->close(); // unplugged meanwhile: the connection sees the hang-up at once
    }
    auto connection =
        std::make_unique<SimConnection>(fds[0], std::move(deviceEnd), device, scheduler_);
    device->countCall();
    return connection;
}

std::string SimDeviceSource::plug(SimDeviceModel model) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        dropDetachedLocked();
        model.info.instance = nextInstance_++;
        path = simPath(model.info, model.info.instance);
        model.info.path = path;
        devices_.emplace(path, std::make_shared<Device>(std::move(model)));
    }
    broadcastDeviceNodesChanged();
    return path;
}

bool SimDeviceSource::unplug(const std::string& path) {
    const auto device = findDevice(path);
    return device && device->vanish();
}

void SimDeviceSource::dropDetachedLocked() {
    std::erase_if(devices_, [](const auto& entry) { return !entry.second->attached(); });
}

// Only attached devices: one that vanished stays in the map until the next listing or plug.
std::shared_ptr<SimDeviceSource::Device>
SimDeviceSource::findDevice(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(path);
    return it == devices_.end() || !it->second->attached() ? nullptr : it->second;
}

bool SimDeviceSource::injectInput(const std::string& path, const Report& report) {
    const auto device = findDevice(path);
    if (device) {
        device->sendInput(report);
    }
    return device != nullptr;
}

namespace {

template <typename Change>
bool changeDevice(const std::shared_ptr<SimDeviceSource::Device>& device, Change change) {
    if (device) {
        device->change(change);
    }
    return device != nullptr;
}

} // namespace

bool SimDeviceSource::setReadWriteAllowed(const std::string& path, bool allowed) {
    return changeDevice(findDevice(path),
                        [&](Device& d) { d.model_.info.readWriteAllowed = allowed; });
}

bool SimDeviceSource::setAttributesReadable(const std::string& path, bool readable) {
    return changeDevice(findDevice(path),
                        [&](Device& d) { d.model_.info.attributesReadable = readable; });
}

bool SimDeviceSource::setStringsUnterminated(const std::string& path, bool unterminated) {
    return changeDevice(findDevice(path),
                        [&](Device& d) { d.model_.info.stringsUnterminated = unterminated; });
}

bool SimDeviceSource::setAnswerDelay(const std::string& path, std::chrono::milliseconds delay) {
    return changeDevice(findDevice(path), [&](Device& d) { d.answerDelay_ = delay; });
}

bool SimDeviceSource::setDropAnswers(const std::string& path, bool drop) {
    return changeDevice(findDevice(path), [&](Device& d) { d.dropAnswers_ = drop; });
}

bool SimDeviceSource::setOutputObserver(const std::string& path, OutputObserver observer) {
    return changeDevice(findDevice(path), [&](Device& d) { d.observer_ = std::move(observer); });
}

bool SimDeviceSource::setUnplugAfterCalls(const std::string& path, std::size_t calls) {
    const auto device = findDevice(path);
    if (device) {
        device->unplugAfterCalls(calls);
    }
    return device != nullptr;
}

std::optional<std::size_t> SimDeviceSource::callsMade(const std::string& path) const {
    const auto device = findDevice(path);
    return device ? std::optional(device->callsMade()) : std::nullopt;
}

std::string SimDeviceSource::lockFile(const std::string& path) {
    if (simulationName_.empty())
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/tarvex-sim-%016zx.lock",
                  std::hash<std::string>{}(simulationName_ + '\n' + path));
    return name;
}

std::unique_ptr<SimDeviceSource> makeBuiltInSimulation() {
    auto source = std::make_unique<SimDeviceSource>();
    source->plug(makeSimLocator());
    source->plug(makeSimKeyboard());
    source->plug(makeSimMouse());
    return source;
}

} // namespace platform
