#pragma once
// The locator's commands on the command road, as both front ends send them. Each installs the
// given handler for the answer; what the answer means is LocatorAnswer's business.

#include "locator/DeviceCommand.h"
#include "locator/LocatorReport.h"

#include <functional>

// The read request: "R", then 0xFF.
TDeviceCommand ReadConfigurationCommand(THidDataEvent Handler);
// The write command with Data[1..16] filled on the UI thread when the command's turn comes
// (the window reads its controls then). Fill may raise to drop the command.
TDeviceCommand WriteConfigurationCommand(std::function<void(TReport& HidData)> Fill,
                                         THidDataEvent Handler);
TDeviceCommand WriteConfigurationCommand(const TLocatorConfig& config, THidDataEvent Handler);
// The write command carrying the factory defaults.
TDeviceCommand FactoryResetCommand(THidDataEvent Handler);
