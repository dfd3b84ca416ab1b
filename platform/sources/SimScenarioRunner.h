#pragma once
// Plays a scenario on simulated devices: the devices attached at the start are plugged at
// once, and a thread of the source's own unplugs, replugs and grants access on the timeline
// and sends the streamed input reports, until the source is destroyed.

#include "platform/sources/SimDeviceSource.h"
#include "platform/sources/SimScenario.h"

#include <memory>

namespace platform {

// The device a scenario describes, as the simulated source takes it.
SimDeviceModel simModelFor(const ScenarioDevice& device);

// A source on which the scenario has started; destroying it stops the scenario first.
std::unique_ptr<SimDeviceSource> startScenario(const Scenario& scenario);

} // namespace platform
