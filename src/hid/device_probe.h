#pragma once

// The device-tree probe: finds a USB device by vendor and product ID among the devices the system
// has enumerated and sums up the state of its driver. -1: absent (or the list cannot be had);
// 0: present, driver not ready; 1: a running driver of neither known kind; 2: the NXP DFU driver;
// 3: the libusbK driver of the package.
class DeviceTreeProbe {
  public:
    virtual ~DeviceTreeProbe() = default;
    // verbose 0 stops at the first matching device; non-zero lists every device it looks at.
    virtual int FindDevice(int vendor_id, int product_id, int verbose) = 0;
};
