#include "locator/DeviceAccess.h"

std::string PermissionDeniedText(const std::string& devicePath) {
    return "Tarvex may not read from and write to " + devicePath +
           ". Install the udev rule as the README's \"Real hardware\" section shows, then unplug "
           "the device and plug it in again.";
}

std::string DeviceBusyText(const std::string& devicePath) {
    return devicePath + ": device busy. Another Tarvex window or tarvexctl is using it.";
}
