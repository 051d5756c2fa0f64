#pragma once

// The product's poll as main() wires it: the hidraw transport and the sysfs probe on /sys, the
// device-tree journal that the hot-plug monitor tells, the controller on the demo package with a
// window that draws nothing. The same header builds against the code from before the journal
// existed (then nothing is kept between polls) and from before the monitor pinned each change to
// its device (then every uevent is a change of anything).
#include <functional>
#include <iostream>
#include <string>
#include <utility>

#include "app/qt/hotplug_monitor.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "platform/posix/posix_process_service.h"
#include "platform/steady_clock.h"
#include "scenario/console_view.h"

#if __has_include("hid/device_change_journal.h")
#define ZELK_BENCH_KEEPS_TREE 1
#include "hid/device_change_journal.h"
#endif
#if __has_include("hid/device_change.h")
#define ZELK_BENCH_PINS_CHANGES 1
#include "hid/device_change.h"
#endif

namespace ZELKBench {

struct ProductRig {
    // udev_root: the udev database; udev_run: where the monitor looks for udevd's control socket.
    ProductRig(const std::string& udev_root, const std::string& udev_run,
               std::function<void()> on_change)
        : probe("/sys", udev_root, std::cout
#ifdef ZELK_BENCH_KEEPS_TREE
                ,
                &journal
#endif
                ),
          monitor(std::move(on_change), udev_run) {
#ifdef ZELK_BENCH_KEEPS_TREE
        monitor.Inform(journal);
#endif
        controller.InitializeApplication();
    }

    // The monitor saw a change it cannot pin to one device (lost events).
    void Changed() {
#ifdef ZELK_BENCH_KEEPS_TREE
        journal.Changed();
#endif
    }

    // The monitor read one uevent, and tells the journal as the product's monitor does.
    void Uevent([[maybe_unused]] const char* subsystem, [[maybe_unused]] const char* devtype,
                [[maybe_unused]] const char* action, [[maybe_unused]] const char* devpath) {
#ifdef ZELK_BENCH_PINS_CHANGES
        if (auto change = ZELKUtil::Hid::PinChange(subsystem, devtype, action, devpath)) {
            journal.DeviceChanged(std::move(*change));
            return;
        }
#endif
        Changed();
    }

#ifdef ZELK_BENCH_KEEPS_TREE
    ZELKUtil::Hid::DeviceChangeJournal journal;
    ZELKUtil::Hid::HidrawTransport hid{"/sys", "/dev", {}, &journal};
#else
    ZELKUtil::Hid::HidrawTransport hid{"/sys", "/dev"};
#endif
    ZELKUtil::Hid::SysfsDeviceProbe probe;
    ZELKUtil::SteadyClock clock;
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};
    ZELKSim::ConsoleView view;
    ZELKUtil::PosixProcessService processes{ZELK_BENCH_PACKAGE};
    ZELKUtil::UpgradeController controller{
        {view, clock, device, processes, ZELK_BENCH_PACKAGE, "x86_64"}};
    ZELKUtil::Hid::HotplugMonitor monitor;
};

}  // namespace ZELKBench
