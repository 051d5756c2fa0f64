#pragma once

#include <optional>
#include <string>
#include <vector>

#include "box/emulated_bus.h"
#include "hid/device_probe.h"

namespace ZELKSim {

// The device-tree probe of an emulated bus: each box's USB device in its current mode, with the
// driver state set for its bootloader, in port order.
class EmulatedDeviceProbe final : public DeviceTreeProbe {
  public:
    explicit EmulatedDeviceProbe(EmulatedBox& box) : own_(box), bus_(own_) {}
    explicit EmulatedDeviceProbe(const EmulatedBus& bus) : bus_(bus) {}

    int FindDevice(int vendor_id, int product_id, int /*verbose*/) override {
        const std::vector<ProbeMatch> found = FindDevices(vendor_id, product_id);
        return found.empty() ? -1 : found.front().code;
    }
    std::vector<ProbeMatch> FindDevices(int vendor_id, int product_id) override {
        std::vector<ProbeMatch> found;
        for (EmulatedBox* box : bus_.On(port_)) {
            const int code = box->UsbFindDevice(vendor_id, product_id);
            if (code >= 0) {
                found.push_back({box->Port(), code});
            }
        }
        return found;
    }
    void ConfineToPort(const std::optional<std::string>& port) override { port_ = port; }

  private:
    EmulatedBus own_;
    const EmulatedBus& bus_;
    std::optional<std::string> port_;
};

}  // namespace ZELKSim
