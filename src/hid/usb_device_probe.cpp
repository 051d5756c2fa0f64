#include "hid/usb_device_probe.h"

#include <dirent.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <tuple>
#include <utility>

#include "hid/sysfs_file.h"
#include "hid/uevent.h"

namespace ZELKUtil {
namespace {

// The property the package's udev rules set to name the driver that serves the bootloader.
constexpr const char* kDescriptionProperty = "ZELK_DEVICE_DESCRIPTION";

std::optional<unsigned> ParseHex16(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : *text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::optional<unsigned long> ParseDecimal(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 9 ||
        text->find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoul(*text);
}

// The hardware IDs as the Windows USB hub driver writes them, most specific first.
std::vector<std::string> SynthesiseHardwareIds(unsigned vendor, unsigned product,
                                               std::optional<unsigned> revision) {
    std::vector<std::string> ids;
    std::array<char, 64> text{};
    if (revision) {
        std::snprintf(text.data(), text.size(), "USB\\VID_%04X&PID_%04X&REV_%04X", vendor, product,
                      *revision);
        ids.emplace_back(text.data());
    }
    std::snprintf(text.data(), text.size(), "USB\\VID_%04X&PID_%04X", vendor, product);
    ids.emplace_back(text.data());
    return ids;
}

// udev keeps a database record per device it has processed: c<major>:<minor> for a device with
// a node, +<subsystem>:<name> otherwise.
std::string UdevRecordPath(const std::string& udev_root, const std::string& device_dir,
                           const std::string& name) {
    if (const auto dev = Hid::ReadAttribute(device_dir, "dev")) {
        return udev_root + "/data/c" + *dev;
    }
    return udev_root + "/data/+usb:" + name;
}

struct OrderedRecord {
    std::optional<unsigned long> busnum;
    std::optional<unsigned long> devnum;
    std::string name;
    Hid::UsbDeviceRecord record;
};

OrderedRecord ReadOne(const std::string& device_dir, const std::string& name,
                      const std::string& udev_root) {
    OrderedRecord entry;
    entry.name = name;
    entry.busnum = ParseDecimal(Hid::ReadAttribute(device_dir, "busnum"));
    entry.devnum = ParseDecimal(Hid::ReadAttribute(device_dir, "devnum"));
    const auto vendor = ParseHex16(Hid::ReadAttribute(device_dir, "idVendor"));
    const auto product = ParseHex16(Hid::ReadAttribute(device_dir, "idProduct"));
    if (vendor && product) {
        entry.record.hardware_ids = SynthesiseHardwareIds(
            *vendor, *product, ParseHex16(Hid::ReadAttribute(device_dir, "bcdDevice")));
    }
    // A database record means udev has processed the device and the kernel's driver runs; Linux
    // has no problem state for a node.
    entry.record.node_status = 0;
    if (const auto udev_record = Hid::ReadSmallFile(UdevRecordPath(udev_root, device_dir, name))) {
        entry.record.node_status = Hid::kDnDriverLoaded | Hid::kDnStarted;
        std::string properties;
        std::size_t start = 0;
        // Properties are the "E:" lines of the record.
        while (start < udev_record->size()) {
            std::size_t end = udev_record->find('\n', start);
            if (end == std::string::npos) {
                end = udev_record->size();
            }
            if (udev_record->compare(start, 2, "E:") == 0) {
                properties.append(*udev_record, start + 2, end - start - 2);
                properties.push_back('\n');
            }
            start = end + 1;
        }
        entry.record.description = Hid::UeventValue(properties, kDescriptionProperty);
    }
    return entry;
}

}  // namespace

std::optional<std::vector<Hid::UsbDeviceRecord>> ReadUsbDeviceRecords(
    const std::string& sysfs_root, const std::string& udev_root) {
    const std::string devices_dir = sysfs_root + "/bus/usb/devices";
    DIR* dir = ::opendir(devices_dir.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<OrderedRecord> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::string device_dir = devices_dir;
        device_dir.append("/").append(name);
        // Interfaces share the folder; only devices carry idVendor.
        if (!Hid::ReadAttribute(device_dir, "idVendor")) {
            continue;
        }
        entries.push_back(ReadOne(device_dir, name, udev_root));
    }
    ::closedir(dir);
    // A listing has no defined order; bus and device number give the order of enumeration.
    // Devices without them (never seen on a real system) follow, by name.
    std::sort(entries.begin(), entries.end(), [](const OrderedRecord& a, const OrderedRecord& b) {
        const bool a_numbered = a.busnum && a.devnum;
        const bool b_numbered = b.busnum && b.devnum;
        return std::make_tuple(!a_numbered, a.busnum.value_or(0), a.devnum.value_or(0), a.name) <
               std::make_tuple(!b_numbered, b.busnum.value_or(0), b.devnum.value_or(0), b.name);
    });
    std::vector<Hid::UsbDeviceRecord> records;
    records.reserve(entries.size());
    for (OrderedRecord& entry : entries) {
        records.push_back(std::move(entry.record));
    }
    return records;
}

SysfsDeviceProbe::SysfsDeviceProbe(std::string sysfs_root, std::string udev_root,
                                   std::ostream& listing)
    : sysfs_root_(std::move(sysfs_root)), udev_root_(std::move(udev_root)), listing_(listing) {}

int SysfsDeviceProbe::FindDevice(int vendor_id, int product_id, int verbose) {
    const auto records = ReadUsbDeviceRecords(sysfs_root_, udev_root_);
    if (!records) {
        return -1;
    }
    return Hid::ClassifyUsbDevices(*records, vendor_id, product_id, verbose, listing_);
}

}  // namespace ZELKUtil
