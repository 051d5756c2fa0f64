#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "hid/box_platform.h"
#include "hid/device_change_journal.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "hid/linux/udev_events.h"
#include "platform/posix/posix_process_service.h"

namespace ZELKUtil::Hid {

// The Linux backends: the hidraw transport, the sysfs probe of the USB device tree and POSIX child
// processes started in the package folder. What the backends read of the device tree is kept
// while the journal hears of no change, so that a poll that finds nothing changed reads next to
// nothing again: the window's hot-plug monitor tells the journal, or the platform reads udev's
// events itself whenever the backends ask (a program without an event loop).
class LinuxBoxPlatform final : public BoxPlatform {
  public:
    // packageFolder: where child processes start ("" the current folder). listing: where the
    // probe writes what it finds of the tree; null, nowhere.
    LinuxBoxPlatform(const std::string& packageFolder, std::ostream* listing);
    // The platform of a program without an event loop (each of zelk-cli's runs and looks), which
    // reads udev's events itself whenever its backends ask; it lists nothing. Where nothing can be
    // heard every poll reads the tree, which is slower but as right.
    static std::unique_ptr<LinuxBoxPlatform> HearingWhenAsked(const std::string& packageFolder);

    HidTransport& Transport() override { return hid_; }
    DeviceTreeProbe& Probe() override { return probe_; }
    ProcessService& Processes() override { return processes_; }

    // Where the system's device changes are told.
    DeviceChangeJournal& Journal() { return journal_; }

  private:
    std::ostream discard_{nullptr};
    DeviceChangeJournal journal_;
    std::optional<UdevEvents> events_;  // after the journal it tells, which it unhooks when it goes
    HidrawTransport hid_;
    SysfsDeviceProbe probe_;
    PosixProcessService processes_;
};

}  // namespace ZELKUtil::Hid
