#include "hid/linux/sysfs_device_probe.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "hid/linux/sysfs_file.h"
#include "hid/linux/usb_port.h"
#include "hid/uevent.h"

namespace ZELKUtil::Hid {
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
std::string UdevRecordPath(const std::string& udevRoot, int devicesFd, const std::string& name) {
    if (const auto dev = ReadAttribute(name, "dev", devicesFd)) {
        return udevRoot + "/data/c" + *dev;
    }
    return udevRoot + "/data/+usb:" + name;
}

// Where a device stands in the order of enumeration.
struct DevicePlace {
    std::optional<unsigned long> busnum;
    std::optional<unsigned long> devnum;
    std::string name;
};

DevicePlace PlaceOf(int devicesFd, const std::string& name) {
    return DevicePlace{ParseDecimal(ReadAttribute(name, "busnum", devicesFd)),
                       ParseDecimal(ReadAttribute(name, "devnum", devicesFd)), name};
}

// A listing has no defined order; bus and device number give the order of enumeration. Devices
// without them (never seen on a real system) follow, by name.
bool EnumeratedBefore(const DevicePlace& a, const DevicePlace& b) {
    const bool aNumbered = a.busnum && a.devnum;
    const bool bNumbered = b.busnum && b.devnum;
    return std::make_tuple(!aNumbered, a.busnum.value_or(0), a.devnum.value_or(0), a.name) <
           std::make_tuple(!bNumbered, b.busnum.value_or(0), b.devnum.value_or(0), b.name);
}

// The device named name in the folder devicesFd, as the probe sees it.
UsbDeviceRecord ReadOne(int devicesFd, const std::string& name, const std::string& udevRoot) {
    UsbDeviceRecord record;
    const auto vendor = ParseHex16(ReadAttribute(name, "idVendor", devicesFd));
    const auto product = ParseHex16(ReadAttribute(name, "idProduct", devicesFd));
    if (vendor && product) {
        record.hardwareIds = SynthesiseHardwareIds(
            *vendor, *product, ParseHex16(ReadAttribute(name, "bcdDevice", devicesFd)));
    }
    // A database record means udev has processed the device and the kernel's driver runs; Linux
    // has no problem state for a node.
    record.nodeStatus = 0;
    if (const auto udevRecord = ReadSmallFile(UdevRecordPath(udevRoot, devicesFd, name))) {
        record.nodeStatus = Hid::kDnDriverLoaded | Hid::kDnStarted;
        std::string properties;
        std::size_t start = 0;
        // Properties are the "E:" lines of the record.
        while (start < udevRecord->size()) {
            std::size_t end = udevRecord->find('\n', start);
            if (end == std::string::npos) {
                end = udevRecord->size();
            }
            if (udevRecord->compare(start, 2, "E:") == 0) {
                properties.append(*udevRecord, start + 2, end - start - 2);
                properties.push_back('\n');
            }
            start = end + 1;
        }
        record.description = UeventValue(properties, kDescriptionProperty);
    }
    return record;
}

// The folder of present USB devices, open for a walk; closed with the object.
class DeviceFolder {
  public:
    explicit DeviceFolder(const std::string& sysfsRoot)
        : dir_(::opendir((sysfsRoot + "/bus/usb/devices").c_str())) {}
    ~DeviceFolder() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    DeviceFolder(const DeviceFolder&) = delete;
    DeviceFolder& operator=(const DeviceFolder&) = delete;

    bool Opened() const { return dir_ != nullptr; }
    int Fd() const { return ::dirfd(dir_); }
    struct Entry {
        std::string name;
        ino_t inode;
    };
    // The next entry, skipping hidden ones; nullopt at the end.
    std::optional<Entry> Next() {
        while (const dirent* entry = ::readdir(dir_)) {
            if (entry->d_name[0] != '\0' && entry->d_name[0] != '.') {
                return Entry{entry->d_name, entry->d_ino};
            }
        }
        return std::nullopt;
    }

  private:
    DIR* dir_;
};

// A device's vendor ID never changes, and the folder's entry for a device that comes later under
// the same name is a new one, with an inode number of its own (on sysfs, which never hands out an
// inode number twice): the ID is read only for an entry not seen before.
std::optional<unsigned> RememberedOrRead(const std::unordered_map<ino_t, unsigned>& vendors,
                                         std::optional<ino_t> inode, int folderFd,
                                         const std::string& name) {
    if (const auto known = inode ? vendors.find(*inode) : vendors.end(); known != vendors.end()) {
        return known->second;
    }
    return ParseHex16(ReadAttribute(name, "idVendor", folderFd));
}

UniqueFd OpenFolder(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

std::optional<std::vector<UsbDeviceRecord>> ReadUsbDeviceRecords(
    const std::string& sysfsRoot, const std::string& udevRoot,
    const std::optional<std::string>& port) {
    DeviceFolder folder(sysfsRoot);
    if (!folder.Opened()) {
        return std::nullopt;
    }
    std::vector<std::pair<DevicePlace, UsbDeviceRecord>> entries;
    while (const auto entry = folder.Next()) {
        if (port && entry->name != *port) {
            continue;
        }
        // Interfaces share the folder; only devices carry idVendor.
        if (!ReadAttribute(entry->name, "idVendor", folder.Fd())) {
            continue;
        }
        entries.emplace_back(PlaceOf(folder.Fd(), entry->name),
                             ReadOne(folder.Fd(), entry->name, udevRoot));
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return EnumeratedBefore(a.first, b.first); });
    std::vector<UsbDeviceRecord> records;
    records.reserve(entries.size());
    for (auto& entry : entries) {
        records.push_back(std::move(entry.second));
    }
    return records;
}

SysfsDeviceProbe::SysfsDeviceProbe(std::string sysfsRoot, std::string udevRoot,
                                   std::ostream& listing, DeviceChangeJournal* journal)
    : sysfsRoot_(std::move(sysfsRoot)),
      udevRoot_(std::move(udevRoot)),
      listing_(listing),
      journal_(journal) {}

void SysfsDeviceProbe::ConfineToPort(const std::optional<std::string>& port) {
    if (port != port_) {
        port_ = port;
        kept_ = {};
        keptMatches_ = {};
        devicesStamp_.reset();
    }
}

int SysfsDeviceProbe::FindDevice(int vendor_id, int product_id, int verbose) {
    if (verbose != 0) {
        // Listing mode prints every device: nothing to skip.
        const auto records = ReadUsbDeviceRecords(sysfsRoot_, udevRoot_, port_);
        if (!records) {
            return -1;
        }
        return ClassifyUsbDevices(*records, vendor_id, product_id, verbose, listing_);
    }
    // A device udev has not processed yet (0) may get its record any moment without a change
    // being reported: such an answer is never kept.
    return kept_.For(vendor_id, product_id)
        .Get(
            journal_, ChangeSource::Processed, [&] { return FindFirst(vendor_id, product_id); },
            [](int code) { return code != 0; });
}

std::vector<ProbeMatch> SysfsDeviceProbe::FindDevices(int vendor_id, int product_id) {
    return keptMatches_.For(vendor_id, product_id)
        .Get(
            journal_, ChangeSource::Processed, [&] { return ReadMatches(vendor_id, product_id); },
            [](const std::vector<ProbeMatch>& matches) {
                return std::none_of(matches.begin(), matches.end(),
                                    [](const ProbeMatch& match) { return match.code == 0; });
            });
}

const SysfsDeviceProbe::UsbDevices* SysfsDeviceProbe::Devices() {
    // Which devices there are and their vendor IDs is sysfs alone: the kernel's event for a device
    // tells of its coming and going once sysfs shows it.
    if (journal_ != nullptr && devicesStamp_) {
        const auto changes = journal_->CatchUp(*devicesStamp_, ChangeSource::Kernel);
        if (changes && UpdateDevices(*changes)) {
            return &devices_;
        }
    }
    devicesStamp_ = journal_ != nullptr ? journal_->Current(ChangeSource::Kernel) : std::nullopt;
    if (!WalkDevices()) {
        devicesStamp_.reset();
        return nullptr;
    }
    return &devices_;
}

bool SysfsDeviceProbe::WalkDevices() {
    devices_.clear();
    DeviceFolder folder(sysfsRoot_);
    if (!folder.Opened()) {
        vendors_.clear();
        return false;
    }
    std::unordered_map<ino_t, unsigned> seen;
    const bool remember = InodesStayUnique(folder.Fd());
    while (const auto entry = folder.Next()) {
        // An interface (bus-port:config.interface) has no IDs of its own.
        if (!IsUsbDeviceName(entry->name) || (port_ && entry->name != *port_)) {
            continue;
        }
        const auto vendor =
            RememberedOrRead(vendors_, remember ? std::optional(entry->inode) : std::nullopt,
                             folder.Fd(), entry->name);
        if (!vendor) {
            continue;
        }
        if (remember) {
            seen.emplace(entry->inode, *vendor);
        }
        devices_.push_back({entry->name, *vendor});
    }
    vendors_ = std::move(seen);  // devices that left are forgotten
    return true;
}

bool SysfsDeviceProbe::UpdateDevices(std::span<const DeviceChange> changes) {
    // An interface's or a hidraw node's change leaves its device's IDs as they were.
    const auto names = ChangedNames(changes, DeviceChange::Kind::UsbDevice);
    if (names.empty()) {
        return true;
    }
    const UniqueFd folder = OpenFolder(sysfsRoot_ + "/bus/usb/devices");
    if (!folder.Valid()) {
        return false;
    }
    const bool remember = InodesStayUnique(folder.Get());
    for (const std::string_view changed : names) {
        const std::string name(changed);
        if (!IsUsbDeviceName(name) || (port_ && name != *port_)) {
            continue;
        }
        // Whatever the action said, the device is now as sysfs shows it: gone, new or the same.
        const auto inode = remember ? EntryInode(folder.Get(), name) : std::nullopt;
        const auto vendor = RememberedOrRead(vendors_, inode, folder.Get(), name);
        if (vendor && inode) {
            vendors_.emplace(*inode, *vendor);
        }
        const auto kept =
            std::find_if(devices_.begin(), devices_.end(),
                         [&](const UsbDevice& device) { return device.name == name; });
        if (vendor && kept != devices_.end()) {
            kept->vendor = *vendor;
        } else if (vendor) {
            devices_.push_back({name, *vendor});
        } else if (kept != devices_.end()) {
            devices_.erase(kept);
        }
    }
    return true;
}

SysfsDeviceProbe::Matches SysfsDeviceProbe::FindMatches(int vendor_id, int product_id) {
    Matches found;
    const UsbDevices* devices = Devices();
    if (devices == nullptr ||
        std::none_of(devices->begin(), devices->end(), [&](const UsbDevice& device) {
            return static_cast<int>(device.vendor) == vendor_id;
        })) {
        return found;  // a device of another vendor costs nothing more
    }
    found.folder = OpenFolder(sysfsRoot_ + "/bus/usb/devices");
    if (!found.folder.Valid()) {
        return found;
    }
    std::vector<DevicePlace> places;
    for (const UsbDevice& device : *devices) {
        if (static_cast<int>(device.vendor) != vendor_id) {
            continue;
        }
        const auto product =
            ParseHex16(ReadAttribute(device.name, "idProduct", found.folder.Get()));
        if (product && static_cast<int>(*product) == product_id) {
            places.push_back(PlaceOf(found.folder.Get(), device.name));
        }
    }
    std::sort(places.begin(), places.end(), EnumeratedBefore);
    for (DevicePlace& place : places) {
        found.names.push_back(std::move(place.name));
    }
    return found;
}

int SysfsDeviceProbe::FindFirst(int vendor_id, int product_id) {
    // In stopping mode only the first device with both IDs counts. The synthesised first hardware
    // ID holds the patterns exactly when both IDs are equal.
    const Matches matches = FindMatches(vendor_id, product_id);
    if (matches.names.empty()) {
        return -1;
    }
    const std::vector<UsbDeviceRecord> device{
        ReadOne(matches.folder.Get(), matches.names.front(), udevRoot_)};
    return ClassifyUsbDevices(device, vendor_id, product_id, 0, listing_);
}

std::vector<ProbeMatch> SysfsDeviceProbe::ReadMatches(int vendor_id, int product_id) {
    std::vector<ProbeMatch> found;
    const Matches matches = FindMatches(vendor_id, product_id);
    for (const std::string& name : matches.names) {
        const std::vector<UsbDeviceRecord> device{ReadOne(matches.folder.Get(), name, udevRoot_)};
        found.push_back({name, ClassifyUsbDevices(device, vendor_id, product_id, 0, listing_)});
    }
    return found;
}

}  // namespace ZELKUtil::Hid
