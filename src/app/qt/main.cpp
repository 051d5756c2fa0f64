#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/form_wiring.h"
#include "app/qt/enter_package_folder.h"
#include "app/qt/hotplug_monitor.h"
#include "app/qt/ui_wait.h"
#include "app/qt/update_form.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "platform/posix/posix_process_service.h"
#include "platform/steady_clock.h"
#include "platform/system_info.h"

// The utility runs from the package folder, its current directory, and takes no options: its
// arguments are ignored.
int main(int argc, char** argv) {
    // Before anything resolves a relative name: started from a file manager inside a package
    // folder, the program's own folder is the package folder.
    if (const auto entered = ZELKUtil::EnterPackageFolder(); !entered) {
        std::fprintf(stderr, "zelk-upgrade: %s\n", entered.error().Text().c_str());
    }
    QApplication app(argc, argv);

    ZELKUtil::SteadyClock clock;
    clock.SetWaiter(ZELKUtil::WaitKeepingWindowAlive);
    // What the backends read of the device tree is kept while the hot-plug monitor reports no
    // change, so that a poll that finds nothing new reads next to nothing.
    ZELKUtil::Hid::DeviceChangeJournal treeWatch;
    ZELKUtil::Hid::HidrawTransport hid("/sys", "/dev", {}, &treeWatch);
    ZELKUtil::Hid::SysfsDeviceProbe probe("/sys", "/run/udev", std::cout, &treeWatch);
    ReadPathModes readPath;
    // The device object comes first and lives as long as the window.
    ZELK device(hid, probe, clock, readPath);
    ZELKUtil::PosixProcessService processes("");

    ZELKUtil::UpdateForm form;
    ZELKUtil::UpgradeController controller(
        {form, clock, device, processes, "", ZELKUtil::NativeMachine()});
    ZELKUtil::ConnectForm(form, controller);

    ZELKUtil::Hid::HotplugMonitor hotplug([&controller] { controller.Main_OnDeviceChange(); });
    if (const ZELKUtil::Result<void> opened = hotplug.Opened(); !opened) {
        std::fprintf(stderr, "zelk-upgrade: no device-change notifications (%s); polling only\n",
                     opened.error().Text().c_str());
    }
    hotplug.Inform(treeWatch);

    controller.InitializeApplication();
    form.show();
    return QApplication::exec();
}
