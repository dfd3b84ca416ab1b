#pragma once
// The HID layer's chief header: plug-and-play descriptions of the HID interfaces found, the
// device objects made for them, their readers and the controller that keeps the list of
// attached devices. Each class has its own header; this one brings them all.

#include "hid/HidDevice.h"
#include "hid/HidDeviceController.h"
#include "hid/HidDeviceReadThread.h"
#include "hid/HidPnPInfo.h"
