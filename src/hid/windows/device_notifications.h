#pragma once

#include "hid/device_change_journal.h"

namespace ZELKUtil::Hid {

// What the Windows backends need of a device-tree watch before they keep anything: the system's
// device notifications (WM_DEVICECHANGE: arrivals and removals of HID and USB device interfaces,
// and DBT_DEVNODES_CHANGED for every change of a device node, a driver's start included). They
// come once the system has set the device up, as udev's events do on Linux, so the watch is told
// that it listens at that level; the program that receives them calls Changed() for each.
inline constexpr ChangeSource kDeviceNotifications = ChangeSource::Udev;

}  // namespace ZELKUtil::Hid
