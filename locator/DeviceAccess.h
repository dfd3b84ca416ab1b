#pragma once
// What every front end tells the user about a device node it may not open.

#include <string>

// The text shown when connecting ended on a device the user may not read from and write to.
std::string PermissionDeniedText(const std::string& devicePath);
// The text shown when another process holds the device's lock.
std::string DeviceBusyText(const std::string& devicePath);
