#pragma once

#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hid/device_probe.h"
#include "hid/probe_classification.h"

namespace ZELKUtil {

// The present USB devices as the probe sees them, read from <sysfs_root>/bus/usb/devices and the
// udev database in <udev_root>/data, in the order the kernel enumerated them (bus number, then
// device number). nullopt when the device folder cannot be listed.
std::optional<std::vector<Hid::UsbDeviceRecord>> ReadUsbDeviceRecords(const std::string& sysfs_root,
                                                                      const std::string& udev_root);

// FindDevice over sysfs and the udev database. The product passes "/sys" and "/run/udev";
// listing mode writes to listing.
class SysfsDeviceProbe : public DeviceTreeProbe {
  public:
    SysfsDeviceProbe(std::string sysfs_root, std::string udev_root,
                     std::ostream& listing = std::cout);
    int FindDevice(int vendor_id, int product_id, int verbose) override;

  private:
    std::string sysfs_root_;
    std::string udev_root_;
    std::ostream& listing_;
};

}  // namespace ZELKUtil
