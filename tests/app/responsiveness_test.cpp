// The window keeps working while a poll waits: events are processed and a device change during
// the wait starts no second detection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "app/form_wiring.h"
#include "app/ui_wait.h"
#include "app/update_form.h"
#include "device/zelk.h"
#include "emulated_box.h"
#include "emulated_device_probe.h"
#include "emulated_hid_transport.h"
#include "emulated_tools.h"
#include "platform/steady_clock.h"
#include "real_time_clock.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

TEST(Responsiveness, WaitsKeepTheWindowAliveAndIgnoreNestedPolls) {
    Testing::TempPackage pkg;
    pkg.Write("CurrentVersion.txt", "2.04\n");
    pkg.Write("a.bin", "a");
    pkg.WriteProgram("Tools/dfu-util", "#!/bin/sh\n");
    pkg.Write("Tools/zelk.config",
              "<z><detail profile=\"ZELK\" vid=\"0x14E3\" pid=\"0x0706\" id=\"ZELK\" name=\"ZELK\" "
              "LPC3131=\"a.bin\" A3P060=\"\" A3PN060=\"\"/></z>");

    ZELKSim::RealTimeClock timeline;
    ZELKSim::EmulatedBox box(timeline);
    box.SetFirmwareVersion("2.01");
    ZELKSim::EmulatedHidTransport hid(box);
    ZELKSim::EmulatedDeviceProbe probe(box);
    ZELKSim::EmulatedProcessService tools(timeline, box, pkg.Root());
    SteadyClock clock;
    clock.SetWaiter(WaitKeepingWindowAlive);
    ReadPathModes modes;
    ZELK device(hid, probe, clock, modes);

    UpdateForm form;
    UpgradeController controller({form, clock, device, tools, pkg.Root(), "x86_64"});
    ConnectForm(form, controller);
    controller.InitializeApplication();
    controller.State().driversInstalled = 1;  // straight to the countdown and its 1000 ms wait
    form.show();

    int handled = 0;
    std::size_t requestsDuringWait = 0;
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): Qt owns the slot object.
    QTimer::singleShot(300, &form, [&] {
        ++handled;
        const std::size_t before = box.Requests().size();
        controller.Main_OnDeviceChange();
        controller.TimerCheck_Tick();
        requestsDuringWait = box.Requests().size() - before;
        form.repaint();
    });
    const std::int64_t start = clock.NowMs();
    controller.CheckForZELK();
    EXPECT_GE(clock.NowMs() - start, 1000);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(requestsDuringWait, 0U);
    EXPECT_EQ(form.LogText(), "\r\nZELK Version:      2.01\r\nStarting the upgrade in: 5..4..");
    controller.Dispose();
}

}  // namespace
}  // namespace ZELKUtil
