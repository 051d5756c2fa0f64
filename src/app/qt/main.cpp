#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/form_wiring.h"
#include "app/qt/enter_package_folder.h"
#include "app/qt/hotplug_monitor.h"
#include "app/qt/update_form.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "hid/linux/linux_box_platform.h"
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
    // Child processes start in the current folder, the package folder; the probe lists what it
    // finds on standard output.
    ZELKUtil::Hid::LinuxBoxPlatform platform("", &std::cout);
    ReadPathModes readPath;
    // The device object comes first and lives as long as the window.
    ZELK device(platform.Transport(), platform.Probe(), clock, readPath);

    ZELKUtil::UpdateForm form;
    clock.SetWaiter([&form](std::int64_t ms) { form.WaitKeepingWindowAlive(ms); });
    ZELKUtil::UpgradeController controller(
        {form, clock, device, platform.Processes(), "", ZELKUtil::NativeMachine()});
    ZELKUtil::ConnectForm(form, controller);

    ZELKUtil::Hid::HotplugMonitor hotplug([&controller] { controller.Main_OnDeviceChange(); });
    if (const ZELKUtil::Result<void> opened = hotplug.Opened(); !opened) {
        std::fprintf(stderr, "zelk-upgrade: no device-change notifications (%s); polling only\n",
                     opened.error().Text().c_str());
    }
    // What the backends read of the device tree is kept while the monitor reports no change, so
    // that a poll that finds nothing new reads next to nothing.
    hotplug.Inform(platform.Journal());

    controller.InitializeApplication();
    form.show();
    return QApplication::exec();
}
