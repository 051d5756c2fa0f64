#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ZELKUtil::Hid {

// One uevent that the hot-plug monitor read, pinned to the device it names, so that the backends
// re-read that device alone and keep what they read of every other one.
struct DeviceChange {
    enum class Kind { UsbDevice, UsbInterface, Hidraw };
    // Everything that leaves the device in place (change, bind, unbind) is a Change.
    enum class Action { Add, Remove, Change };

    Kind kind = Kind::UsbDevice;
    Action action = Action::Change;
    // The device's path below the sysfs root, as the kernel names it: "/devices/.../usb1/1-2".
    std::string devpath;

    // The path's last element: the device's name in its subsystem's folder (bus/usb/devices,
    // class/hidraw), which is where the backends read it.
    std::string_view Name() const;
};

// The change that a uevent's subsystem, device type, action and device path (as libudev gives
// them, any of them null) describe; nullopt when it cannot be pinned to one device that the
// backends read: no path, a move (the device changed its name), an action or a kind of device
// they do not know.
std::optional<DeviceChange> PinChange(const char* subsystem, const char* devtype,
                                      const char* action, const char* devpath);

// The names of the devices of one kind that the changes name, each once, in the order first named:
// a burst of events for one device costs one read of it.
std::vector<std::string_view> ChangedNames(std::span<const DeviceChange> changes,
                                           DeviceChange::Kind kind);

}  // namespace ZELKUtil::Hid
