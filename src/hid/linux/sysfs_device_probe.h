#pragma once

#include <sys/types.h>

#include <iostream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hid/device_change_journal.h"
#include "hid/device_probe.h"
#include "hid/probe_classification.h"
#include "platform/posix/unique_fd.h"

namespace ZELKUtil::Hid {

// The present USB devices as the probe sees them, read from <sysfsRoot>/bus/usb/devices and the
// udev database in <udevRoot>/data, in the order the kernel enumerated them (bus number, then
// device number); only the device on `port` when one is given. nullopt when the device folder
// cannot be listed.
std::optional<std::vector<UsbDeviceRecord>> ReadUsbDeviceRecords(
    const std::string& sysfsRoot, const std::string& udevRoot,
    const std::optional<std::string>& port = std::nullopt);

// FindDevice over sysfs and the udev database. The product passes "/sys" and "/run/udev";
// listing mode writes to listing. Stopping mode reads only the vendor ID of a device of another
// vendor, once for as long as the device stays, and everything else only of the first device with
// the IDs. With a journal, an answer other than 0 is kept while the journal says that the tree is
// unchanged and udev's events are heard (a record that udev has not written yet would otherwise
// stay unseen), and the walk of the device folder (each device's vendor ID) is kept while every
// change since was pinned to one device, re-reading only the devices those changes name. A port is
// the name of the device's folder in the USB device folder (see usb_port.h).
class SysfsDeviceProbe : public DeviceTreeProbe {
  public:
    SysfsDeviceProbe(std::string sysfsRoot, std::string udevRoot, std::ostream& listing = std::cout,
                     DeviceChangeJournal* journal = nullptr);
    int FindDevice(int vendor_id, int product_id, int verbose) override;
    // Each device classified as FindDevice would classify it alone; kept as FindDevice's answer
    // is, while no device in it waits for udev.
    std::vector<ProbeMatch> FindDevices(int vendor_id, int product_id) override;
    // Drops every kept answer when the port changes: it was read for another one.
    void ConfineToPort(const std::optional<std::string>& port) override;

  private:
    // A USB device on the probe's port (any when it is not confined): its folder's name and its
    // vendor ID. A list, so that a walk without a journal allocates no more than before.
    struct UsbDevice {
        std::string name;
        unsigned vendor = 0;
    };
    using UsbDevices = std::vector<UsbDevice>;
    // The devices as the kept walk says, brought up to date; null when the folder cannot be read.
    const UsbDevices* Devices();
    bool WalkDevices();
    // Re-reads the devices that the changes name; false when the folder cannot be opened.
    bool UpdateDevices(std::span<const DeviceChange> changes);
    // The devices with both IDs in enumeration order, and the open device folder to read them in.
    struct Matches {
        UniqueFd folder;
        std::vector<std::string> names;
    };
    Matches FindMatches(int vendor_id, int product_id);
    int FindFirst(int vendor_id, int product_id);
    std::vector<ProbeMatch> ReadMatches(int vendor_id, int product_id);

    std::string sysfsRoot_;
    std::string udevRoot_;
    std::ostream& listing_;
    DeviceChangeJournal* journal_;
    std::optional<std::string> port_;
    KeptForIds<int> kept_;
    KeptForIds<std::vector<ProbeMatch>> keptMatches_;
    UsbDevices devices_;
    std::optional<DeviceChangeJournal::Stamp>
        devicesStamp_;  // under which devices_ was walked whole
    // The vendor ID of each device seen in the last walk, by the inode of its folder entry.
    std::unordered_map<ino_t, unsigned> vendors_;
};

}  // namespace ZELKUtil::Hid
