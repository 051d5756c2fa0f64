#include "hid/linux/usb_port.h"

#include <sys/sysmacros.h>

#include <cstdlib>
#include <memory>

#include "hid/linux/sysfs_file.h"

namespace ZELKUtil::Hid {
namespace {

std::string DirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

bool IsUsbDeviceName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find(':') == std::string_view::npos;
}

std::optional<std::string> ResolvedFolder(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

std::optional<std::string> CharDeviceFolder(const std::string& sysfsRoot, dev_t node) {
    return ResolvedFolder(sysfsRoot + "/dev/char/" + std::to_string(major(node)) + ":" +
                          std::to_string(minor(node)));
}

std::optional<std::string> UsbDeviceFolderOf(const std::string& sysfsRoot,
                                             const std::string& folder) {
    // A folder the attribute cannot be read in (gone meanwhile, or not a device's) is passed over:
    // the walk only ever ends at a folder that shows a vendor ID, or at the root.
    for (std::string dir = folder; dir.size() > sysfsRoot.size(); dir = DirName(dir)) {
        if (ReadAttribute(dir, "idVendor")) {
            return dir;
        }
    }
    return std::nullopt;
}

std::string UsbPortOf(const std::string& sysfsRoot, const std::string& folder) {
    const auto usbDevice = UsbDeviceFolderOf(sysfsRoot, folder);
    return usbDevice ? usbDevice->substr(usbDevice->rfind('/') + 1) : std::string();
}

}  // namespace ZELKUtil::Hid
