#pragma once

#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "hid/device_probe.h"
#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Hid {

// FindDevice over the Windows device installation services: the present devices of the "USB"
// enumerator, of every setup class, their first hardware IDs, their node status from the
// configuration manager and their device descriptions. Listing mode writes to listing.
class SetupDiDeviceProbe : public DeviceTreeProbe {
  public:
    // The table must outlive the probe.
    explicit SetupDiDeviceProbe(const Win32Calls& calls, std::ostream& listing = std::cout);
    int FindDevice(int vendor_id, int product_id, int verbose) override;
    // The ports are the location paths of the USB devices (see usb_port.h); a matching interface
    // of a composite device has its parent's. A device whose hardware IDs do not fit the property
    // buffer is not found, as FindDevice would not find it alone.
    std::vector<ProbeMatch> FindDevices(int vendor_id, int product_id) override;
    // Devices on other ports are passed over as if absent: not listed, not matched, and an
    // oversized hardware-ID list among them clears no match.
    void ConfineToPort(const std::string& port) override { confinedPort_ = port; }

  private:
    const Win32Calls& calls_;
    std::ostream& listing_;
    std::string confinedPort_;  // "" when not confined
};

}  // namespace ZELKUtil::Hid
