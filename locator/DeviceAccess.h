#pragma once
// What every front end tells the user about a device node it may not open.

#include <string>

// The text shown when connecting ended on a device the user may not read from and write to.
std::string PermissionDeniedText(const std::string& devicePath);
