#include "hid/device_change.h"

#include <algorithm>
#include <cstring>

namespace ZELKUtil::Hid {
namespace {

bool Is(const char* text, const char* expected) {
    return text != nullptr && std::strcmp(text, expected) == 0;
}

std::optional<DeviceChange::Kind> KindOf(const char* subsystem, const char* devtype) {
    if (Is(subsystem, "hidraw")) {
        return DeviceChange::Kind::Hidraw;
    }
    if (Is(subsystem, "usb") && Is(devtype, "usb_device")) {
        return DeviceChange::Kind::UsbDevice;
    }
    if (Is(subsystem, "usb") && Is(devtype, "usb_interface")) {
        return DeviceChange::Kind::UsbInterface;
    }
    return std::nullopt;
}

std::optional<DeviceChange::Action> ActionOf(const char* action) {
    if (Is(action, "add")) {
        return DeviceChange::Action::Add;
    }
    if (Is(action, "remove")) {
        return DeviceChange::Action::Remove;
    }
    // A driver's bind or unbind can make udev write the device's record again; the device's own
    // files stay as they are, so it is re-read like any other change.
    if (Is(action, "change") || Is(action, "bind") || Is(action, "unbind")) {
        return DeviceChange::Action::Change;
    }
    return std::nullopt;
}

}  // namespace

std::string_view DeviceChange::Name() const {
    const std::string_view path(devpath);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<DeviceChange> PinChange(const char* subsystem, const char* devtype,
                                      const char* action, const char* devpath) {
    const auto kind = KindOf(subsystem, devtype);
    const auto what = ActionOf(action);
    if (!kind || !what || devpath == nullptr) {
        return std::nullopt;
    }
    DeviceChange change{*kind, *what, devpath};
    // A path that names no device ("", "/", ending in a slash) could be taken for another one.
    const std::string_view name = change.Name();
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    return change;
}

std::vector<std::string_view> ChangedNames(std::span<const DeviceChange> changes,
                                           DeviceChange::Kind kind) {
    std::vector<std::string_view> names;
    for (const DeviceChange& change : changes) {
        if (change.kind == kind &&
            std::find(names.begin(), names.end(), change.Name()) == names.end()) {
            names.push_back(change.Name());
        }
    }
    return names;
}

}  // namespace ZELKUtil::Hid
