#include "DeviceSourceFromEnvironment.h"

#include "LinuxDeviceSource.h"
#include "SimDeviceSource.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace platform {

std::unique_ptr<DeviceSource> deviceSourceFromEnvironment() {
    const char* value = std::getenv("TARVEX_HID_PLATFORM");
    const std::string_view choice = value != nullptr ? value : "";
    if (choice.empty() || choice == "native") {
        return std::make_unique<LinuxDeviceSource>();
    }
    if (choice == "sim") {
        return makeBuiltInSimulation();
    }
    std::fprintf(stderr,
                 "tarvex: TARVEX_HID_PLATFORM=\"%s\" is not supported; use \"native\" or "
                 "\"sim\".\n",
                 value);
    return nullptr;
}

} // namespace platform
