#pragma once

#include "emulated_box.h"
#include "hid/device_probe.h"

namespace ZELKSim {

// The device-tree probe of an emulated box: the box's USB device in its current mode, with the
// driver state set for its bootloader.
class EmulatedDeviceProbe final : public DeviceTreeProbe {
  public:
    explicit EmulatedDeviceProbe(EmulatedBox& box) : box_(box) {}

    int FindDevice(int vendor_id, int product_id, int /*verbose*/) override {
        return box_.UsbFindDevice(vendor_id, product_id);
    }

  private:
    EmulatedBox& box_;
};

}  // namespace ZELKSim
