#pragma once
// The device source the tool runs on, chosen by TARVEX_HID_PLATFORM: "native" (or unset) the
// hidraw nodes of this machine, "sim" the built-in simulated devices.

#include "DeviceSource.h"

#include <memory>

namespace platform {

// Null, after one message on stderr naming the value, for any other value.
std::unique_ptr<DeviceSource> deviceSourceFromEnvironment();

} // namespace platform
