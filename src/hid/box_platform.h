#pragma once

#include "hid/device_probe.h"
#include "hid/hid_transport.h"
#include "platform/process_service.h"

namespace ZELKUtil {

// One set of backends a controller works through: a HID transport, a device-tree probe and a
// process service. Each operating system makes its own (src/hid/linux, src/hid/windows); the
// emulator makes one over its bus. A window has one for its life; zelk-cli has one for its look
// at the bus and one for each box's run, which the run confines to its port.
class BoxPlatform {
  public:
    virtual ~BoxPlatform() = default;
    virtual HidTransport& Transport() = 0;
    virtual DeviceTreeProbe& Probe() = 0;
    virtual ProcessService& Processes() = 0;
};

}  // namespace ZELKUtil
