#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace ZELKUtil::Hid {

// On Linux a USB port is named by the sysfs folder of the USB device plugged into it, as
// <sysfsRoot>/bus/usb/devices lists it: "<bus>-<hub port>[.<hub port>...]", the chain of hub ports
// from the root hub. Whatever is plugged into the same socket gets the same name, in every mode of
// the box, which is what makes it the box's identity across modes.

// Whether a name in the USB device folder is a device's: an interface ("1-2:1.0") is not.
bool IsUsbDeviceName(std::string_view name);

// The resolved sysfs folder of the character device `node`, through <sysfsRoot>/dev/char; nullopt
// (errno set) when the kernel lists no such device.
std::optional<std::string> CharDeviceFolder(const std::string& sysfsRoot, dev_t node);

// The resolved sysfs folder of the device that `path` (a link such as a class entry) names;
// nullopt with errno set.
std::optional<std::string> ResolvedFolder(const std::string& path);

// The USB device that the sysfs device folder belongs to: the folder itself or its nearest
// ancestor with a vendor ID (interfaces and HID devices have none). nullopt when there is none
// below sysfsRoot, as for a uhid device.
std::optional<std::string> UsbDeviceFolderOf(const std::string& sysfsRoot,
                                             const std::string& folder);

// The port of a sysfs device folder: the name of its USB device's folder; "" when it has no USB
// device (which is what the transport and the probe report when the system does not tell).
std::string UsbPortOf(const std::string& sysfsRoot, const std::string& folder);

}  // namespace ZELKUtil::Hid
