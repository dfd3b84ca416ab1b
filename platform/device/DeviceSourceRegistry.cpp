#include "platform/device/DeviceSource.h"

#include <cerrno>
#include <mutex>

namespace platform {

std::optional<HidInterfaceInfo> DeviceSource::find(const std::string& path) {
    for (auto& info : enumerate()) {
        if (info.path == path)
            return std::move(info);
    }
    return std::nullopt;
}

std::string DeviceSource::lockFile(const std::string&) {
    return {};
}

namespace {

// What the process sees until a source is installed: nothing attached.
class EmptyDeviceSource : public DeviceSource {
public:
    std::vector<HidInterfaceInfo> enumerate() override { return {}; }
    std::unique_ptr<HidConnection> open(const std::string&, int* error) override {
        if (error)
            *error = ENOENT;
        return nullptr;
    }
};

struct Registry {
    std::mutex mutex;
    std::unique_ptr<DeviceSource> current = std::make_unique<EmptyDeviceSource>();
    // A replaced source lives on until exit: a caller on another thread may still be using the
    // reference deviceSource() gave it.
    std::vector<std::unique_ptr<DeviceSource>> retired;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

DeviceSource& deviceSource() {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    return *reg.current;
}

void installDeviceSource(std::unique_ptr<DeviceSource> source) {
    if (!source)
        source = std::make_unique<EmptyDeviceSource>();
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.retired.push_back(std::move(reg.current));
    reg.current = std::move(source);
}

} // namespace platform
