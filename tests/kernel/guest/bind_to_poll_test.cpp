// How soon the product sees a box that is plugged in: the window's wiring (the hot-plug monitor
// telling the device-change journal and running a poll on each change, the 1000 ms timer) against
// the gadget box, from the moment its gadget is bound to the start of the poll that finds it. The
// time is printed; nothing asserts on it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "app/qt/hotplug_monitor.h"
#include "box_rig.h"
#include "controller/upgrade_controller.h"
#include "hid/device_change_journal.h"
#include "package/package_files.h"
#include "platform/posix/posix_process_service.h"
#include "scenario/console_view.h"
#include "support/temp_package.h"

namespace ZELKKernelTest {
namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TEST(BindToPoll, PrintsTheTimeFromTheBindToThePollThatSeesTheBox) {
    // As main() wires them: the backends keep what they read while the monitor hears no change.
    ZELKUtil::Hid::DeviceChangeJournal journal;
    ZELKUtil::Hid::HidrawTransport hid("/sys", "/dev", {}, &journal);
    ZELKUtil::Hid::SysfsDeviceProbe probe("/sys", "/run/udev", std::cout, &journal);
    ZELKSim::RealTimeClock boxClock;
    ZELKSim::EmulatedBox box(boxClock, Q750());
    box.SetFirmwareVersion("2.04");
    box.Unplug();
    GadgetBox gadget(box, boxClock);
    std::string error;
    ASSERT_TRUE(gadget.Start(&error)) << error;

    ZELKUtil::Testing::TempPackage pkg;
    pkg.Write(ZELKUtil::PackageFiles::kVersionFile, "2.04\r\n");
    pkg.Write(ZELKUtil::PackageFiles::kProfileFile,
              "<?xml version=\"1.0\"?>\n<zelk><detail profile=\"ZELK Q750\" vid=\"0x14E3\" "
              "pid=\"0x0706\" id=\"Q750\" name=\"ZELK Q750\" LPC3131=\"q750.bin\" A3P060=\"\" "
              "A3PN060=\"\"/></zelk>");
    pkg.Write("q750.bin", "arm");
    ZELKUtil::SteadyClock clock;
    ReadPathModes modes;
    ZELK device(hid, probe, clock, modes);
    ZELKSim::ConsoleView view;
    ZELKUtil::PosixProcessService processes(pkg.Root());
    ZELKUtil::UpgradeController controller({view, clock, device, processes, pkg.Root(), "x86_64"});
    controller.InitializeApplication();

    // Each poll's start, and which one first found the box.
    std::int64_t seenBy = -1;
    const char* seenHow = "";
    const auto poll = [&](const char* how, void (ZELKUtil::UpgradeController::*request)()) {
        const std::int64_t start = NowMs();
        (controller.*request)();
        if (seenBy < 0 && controller.State().connected != 0) {
            seenBy = start;
            seenHow = how;
        }
    };
    ZELKUtil::Hid::HotplugMonitor monitor(
        [&] { poll("a device change", &ZELKUtil::UpgradeController::Main_OnDeviceChange); });
    ASSERT_TRUE(monitor.Opened()) << monitor.Opened().error().Text();
    monitor.Inform(journal);

    poll("a timer tick", &ZELKUtil::UpgradeController::TimerCheck_Tick);
    ASSERT_EQ(controller.State().connected, 0);
    box.Plug();
    std::int64_t nextTick = NowMs() + 1000;
    ASSERT_TRUE(WaitFor(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (NowMs() >= nextTick) {
                poll("a timer tick", &ZELKUtil::UpgradeController::TimerCheck_Tick);
                nextTick = NowMs() + 1000;
            }
            return seenBy >= 0;
        },
        20000));
    ASSERT_GE(gadget.LastBindMs(), 0);
    std::printf(
        "[  FIGURE  ] %lld ms from the gadget's bind to the start of the poll that saw "
        "the box (run by %s; monitor source %s)\n",
        static_cast<long long>(seenBy - gadget.LastBindMs()), seenHow, monitor.Source().c_str());
    std::fflush(stdout);
    EXPECT_NE(view.log.find("Q750 Version:      2.04"), std::string::npos) << view.log;
    EXPECT_EQ(gadget.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
