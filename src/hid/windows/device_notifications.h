#pragma once

// <windows.h> before the headers that build on it.
// clang-format off
#include <windows.h>
// clang-format on

#include <vector>

#include "hid/device_change_journal.h"
#include "platform/result.h"

namespace ZELKUtil::Hid {

// What the Windows backends need of a device-change journal before they keep anything: the system's
// device notifications (WM_DEVICECHANGE: arrivals and removals of HID and USB device interfaces,
// and DBT_DEVNODES_CHANGED for every change of a device node, a driver's start included). They
// come once the system has set the device up, as udev's events do on Linux, so the journal is told
// that it listens at that level; the program that receives them calls Changed() for each.
inline constexpr ChangeSource kDeviceNotifications = ChangeSource::Processed;

// Registers the window for the arrivals and removals of HID interfaces (the box in normal and
// programmer mode) and of USB devices (its bootloader); top-level windows see
// DBT_DEVNODES_CHANGED without asking. Each registration made is appended to *handles, for
// UnregisterDeviceNotifications; the system's text of the first that failed.
Result<void> RegisterDeviceNotifications(HWND window, std::vector<HDEVNOTIFY>* handles);
// Ends every registration in *handles and empties it.
void UnregisterDeviceNotifications(std::vector<HDEVNOTIFY>* handles);

}  // namespace ZELKUtil::Hid
