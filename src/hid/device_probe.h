#pragma once

#include <optional>
#include <string>
#include <vector>

// One present device that the probe matched: the USB port it sits on (see HidTransport; "" when
// the system does not tell) and its code as FindDevice would give it were it alone.
struct ProbeMatch {
    std::string port;
    int code = -1;
};

// The device-tree probe: finds a USB device by vendor and product ID among the devices the system
// has enumerated and sums up the state of its driver. -1: absent (or the list cannot be had);
// 0: present, driver not ready; 1: a running driver of neither known kind; 2: the NXP DFU driver;
// 3: the libusbK driver of the package.
class DeviceTreeProbe {
  public:
    virtual ~DeviceTreeProbe() = default;
    // verbose 0 stops at the first matching device; non-zero lists every device it looks at.
    virtual int FindDevice(int vendor_id, int product_id, int verbose) = 0;
    // Every present device with the IDs, in the system's device order, each with its port.
    virtual std::vector<ProbeMatch> FindDevices(int vendor_id, int product_id) = 0;
    // Confines FindDevice and FindDevices to the device on the port; nullopt lifts the limit.
    virtual void ConfineToPort(const std::optional<std::string>& port) = 0;
};
