#pragma once

#include <ostream>
#include <string>

#include "cli/box_run.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "platform/posix/posix_process_service.h"

namespace ZELKUtil::Cli {

// A box's own Linux backends: the hidraw transport, the sysfs probe of the USB device tree and
// POSIX child processes started in the package folder. Nothing is kept between looks, since no
// hot-plug monitor tells when the bus changed.
class LinuxBoxPlatform final : public BoxPlatform {
  public:
    explicit LinuxBoxPlatform(const std::string& package)
        : probe_("/sys", "/run/udev", discard_), processes_(package) {}
    HidTransport& Transport() override { return hid_; }
    DeviceTreeProbe& Probe() override { return probe_; }
    ProcessService& Processes() override { return processes_; }

  private:
    std::ostream discard_{nullptr};
    Hid::HidrawTransport hid_;
    Hid::SysfsDeviceProbe probe_;
    PosixProcessService processes_;
};

}  // namespace ZELKUtil::Cli
