#pragma once

#include <ostream>
#include <string>

#include "cli/box_run.h"
#include "hid/device_change_journal.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "hid/linux/udev_events.h"
#include "platform/posix/posix_process_service.h"

namespace ZELKUtil::Cli {

// A box's own Linux backends: the hidraw transport, the sysfs probe of the USB device tree and
// POSIX child processes started in the package folder. What the backends read of the device tree
// is kept while the system's device events (read on the run's own thread whenever the backends
// ask) tell of no change, so that a poll that finds nothing changed reads nothing again.
class LinuxBoxPlatform final : public BoxPlatform {
  public:
    explicit LinuxBoxPlatform(const std::string& package)
        : hid_("/sys", "/dev", {}, &journal_),
          probe_("/sys", "/run/udev", discard_, &journal_),
          processes_(package) {
        events_.Follow(journal_);
    }
    HidTransport& Transport() override { return hid_; }
    DeviceTreeProbe& Probe() override { return probe_; }
    ProcessService& Processes() override { return processes_; }

  private:
    std::ostream discard_{nullptr};
    Hid::DeviceChangeJournal journal_;
    Hid::UdevEvents events_;  // after the journal it tells, which it unhooks when it goes
    Hid::HidrawTransport hid_;
    Hid::SysfsDeviceProbe probe_;
    PosixProcessService processes_;
};

}  // namespace ZELKUtil::Cli
