#pragma once
// The device source the tool runs on, chosen by TARVEX_HID_PLATFORM: "native" (or unset) the
// hidraw nodes of this machine, "sim" the built-in simulated devices, "sim:FILE" the simulated
// devices the scenario file FILE describes (see SimScenario.h).

#include "platform/device/DeviceSource.h"

#include <memory>

namespace platform {

// Null, after one message on stderr naming the value (and for a scenario file that cannot be
// used, the line and the problem), for any other value.
std::unique_ptr<DeviceSource> deviceSourceFromEnvironment();

} // namespace platform
