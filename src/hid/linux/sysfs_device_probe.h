#pragma once

#include <sys/types.h>

#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "hid/device_probe.h"
#include "hid/device_tree_watch.h"
#include "hid/probe_classification.h"

namespace ZELKUtil::Hid {

// The present USB devices as the probe sees them, read from <sysfsRoot>/bus/usb/devices and the
// udev database in <udevRoot>/data, in the order the kernel enumerated them (bus number, then
// device number). nullopt when the device folder cannot be listed.
std::optional<std::vector<UsbDeviceRecord>> ReadUsbDeviceRecords(const std::string& sysfsRoot,
                                                                 const std::string& udevRoot);

// FindDevice over sysfs and the udev database. The product passes "/sys" and "/run/udev";
// listing mode writes to listing. Stopping mode reads only the vendor ID of a device of another
// vendor, once for as long as the device stays, and everything else only of the first device with
// the IDs. With a watch, an answer
// other than 0 is kept while the watch says that the tree is unchanged and udev's events are
// heard (a record that udev has not written yet would otherwise stay unseen).
class SysfsDeviceProbe : public DeviceTreeProbe {
  public:
    SysfsDeviceProbe(std::string sysfsRoot, std::string udevRoot, std::ostream& listing = std::cout,
                     DeviceTreeWatch* watch = nullptr);
    int FindDevice(int vendor_id, int product_id, int verbose) override;
    // PORT-STUB: the ports are not read yet.
    std::vector<ProbeMatch> FindDevices(int /*vendor_id*/, int /*product_id*/) override {
        return {};
    }
    void ConfineToPort(const std::string& /*port*/) override {}

  private:
    int FindFirst(int vendor_id, int product_id);

    std::string sysfsRoot_;
    std::string udevRoot_;
    std::ostream& listing_;
    DeviceTreeWatch* watch_;
    // By vendor and product ID; the product asks for one pair only.
    std::optional<std::pair<int, int>> keptIds_;
    KeptAnswer<int> kept_;
    // The vendor ID of each device seen in the last walk, by the inode of its folder entry.
    std::unordered_map<ino_t, unsigned> vendors_;
};

}  // namespace ZELKUtil::Hid
