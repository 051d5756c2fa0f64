#include <QApplication>
#include <cstdio>

#include "app/hotplug_monitor.h"
#include "app/ui_wait.h"
#include "app/update_form.h"
#include "controller/upgrade_controller.h"
#include "platform/steady_clock.h"

// The utility runs from the package folder, its current directory, and takes no options: its
// arguments are ignored.
int main(int argc, char** argv) {
    QApplication app(argc, argv);

    ZELKUtil::SteadyClock clock;
    clock.SetWaiter(ZELKUtil::WaitKeepingWindowAlive);

    ZELKUtil::UpdateForm form;
    ZELKUtil::UpgradeController controller(form, clock, "");

    ZELKUtil::UpdateForm::Handlers handlers;
    handlers.timerTick = [&controller] { controller.TimerCheck_Tick(); };
    form.SetHandlers(handlers);

    ZELKUtil::HotplugMonitor hotplug([&controller] { controller.Main_OnDeviceChange(); });
    if (!hotplug.Active()) {
        std::fprintf(stderr, "zelk-upgrade: no device-change notifications (%s); polling only\n",
                     hotplug.Error().c_str());
    }

    controller.InitializeApplication();
    form.show();
    return QApplication::exec();
}
