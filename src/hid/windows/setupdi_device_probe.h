#pragma once

#include <iostream>
#include <ostream>

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
    // PORT-STUB: the ports are not read yet.
    std::vector<ProbeMatch> FindDevices(int /*vendor_id*/, int /*product_id*/) override {
        return {};
    }
    void ConfineToPort(const std::string& /*port*/) override {}

  private:
    const Win32Calls& calls_;
    std::ostream& listing_;
};

}  // namespace ZELKUtil::Hid
