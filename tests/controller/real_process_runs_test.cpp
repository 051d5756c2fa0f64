// The tool runs with real child processes: what a tool prints just before it exits must never be
// missed, neither the FPGA player's verdict handed over from its reader thread nor the end of a
// download tool's progress bar.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/posix/posix_process_service.h"
#include "support/controller_rig.h"
#include "support/watchdog.h"

namespace ZELKUtil {
namespace {

TEST(FpgaHandover, SuccessLineJustBeforeTheExitIsNeverMissed) {
    Testing::ControllerRig rig;
    rig.pkg.Write("f.stp", "f");
    rig.Package("2.04", Testing::Detail("ZELK", "ZELK", "ZELK", "", "f.stp"), {"Tools/dfu-util"});
    rig.pkg.WriteProgram("Tools/STAPL Player", Testing::StandInPlayerScript(1));
    PosixProcessService processes(rig.pkg.Root());
    rig.Start(&processes);
    rig.box.Plug(ZELKSim::BoxMode::FpgaProgrammer);

    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(run);
        rig.view.Clear();
        rig.view.SetChecked(Control::CheckProgramFPGA, true);
        rig.controller->CheckForZELK();
        ASSERT_EQ(rig.State().currently_programming_fpga, 1) << rig.view.log;
        // Waits on the event itself, however fast the build: the player's exit and the end of
        // its output. Then one poll judges the run.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (bool ended = false; !ended && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::lock_guard<std::mutex> lock(rig.State().stapl->lock);
            ended = rig.State().stapl->outputEnded && rig.State().STAPL_Player->HasExited();
        }
        rig.controller->CheckForZELK();
        ASSERT_EQ(rig.State().currently_programming_fpga, 0);
        EXPECT_EQ(rig.view.log,
                  "\r\nZELK in fpga programming mode"
                  "\r\nA3P060 KR FPGA detected"
                  "\r\nProgramming FPGA...#"
                  "\r\nFPGA Done\r\n");
        EXPECT_EQ(rig.State().error_occurred, 0);
        EXPECT_FALSE(rig.view.Checked(Control::CheckProgramFPGA));
        rig.view.SetText(Control::DeviceLabel, "");
    }
}

TEST(ArmDownloadOutput, BarPrintedJustBeforeTheExitIsShownWhole) {
    Testing::ControllerRig rig;
    rig.pkg.Write("a.bin", "a");
    rig.Package("2.04", Testing::Detail("ZELK", "ZELK", "ZELK", "a.bin"), {});
    // The bar comes in one piece after a pause, and the tool ends at once: the reading of the bar
    // overlaps the tool's exit.
    const std::string bar(4000, '#');
    rig.pkg.WriteProgram("Tools/dfu-util",
                         "#!/bin/sh\n"
                         "echo 'Copying data from PC to DFU device'\n"
                         "sleep 0.05\n"
                         "printf 'Starting download: [" +
                             bar + "] finished!\\nDone!\\n'\n");
    PosixProcessService processes(rig.pkg.Root());
    rig.Start(&processes);
    rig.box.Plug(ZELKSim::BoxMode::Bootloader);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        rig.view.Clear();
        rig.view.SetText(Control::DeviceLabel, "");
        rig.view.SetChecked(Control::CheckProgramArm, true);
        rig.controller->CheckForZELK();
        EXPECT_EQ(rig.view.log,
                  "\r\nZELK in programming mode"
                  "\r\nDownloading ZELK Upgrade"
                  "\r\nStarting download: [" +
                      std::string(2000, '#') + "]" +
                      "\r\nDone."
                      "\r\nPerforming Upgrade...\r\n");
    }
}

TEST(ArmDownloadOutput, APartialLineNeverHoldsTheWindow) {
    Testing::ControllerRig rig;
    rig.pkg.Write("a.bin", "a");
    rig.Package("2.04", Testing::Detail("ZELK", "ZELK", "ZELK", "a.bin"), {});
    // The tool prints part of a line and waits (5 s at most) until the window has had five turns
    // of its event loop since then; only then does it finish the line.
    rig.pkg.WriteProgram(
        "Tools/dfu-util",
        "#!/bin/sh\n"
        "printf 'Copying data from PC'\n"
        ": > printed\n"
        "i=0; while [ ! -e go ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i+1)); done\n"
        "if [ -e go ]; then printf ' to DFU device\\nStarting download: [##] "
        "finished!\\n'; else echo ' (no turn of the window)'; fi\n");
    PosixProcessService processes(rig.pkg.Root());
    rig.Start(&processes);
    int turns = 0;
    // A turn of the event loop is a sleep of the controller; it takes a moment, as a real one.
    rig.controllerClock.onSleep = [&](std::int64_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (std::filesystem::exists(rig.pkg.Path("printed")) && ++turns == 5) {
            rig.pkg.Write("go", "");
        }
    };
    rig.box.Plug(ZELKSim::BoxMode::Bootloader);
    rig.view.SetChecked(Control::CheckProgramArm, true);
    {
        const Testing::Watchdog watchdog("a tool that prints a partial line and waits");
        rig.controller->CheckForZELK();
    }
    EXPECT_EQ(rig.view.log,
              "\r\nZELK in programming mode"
              "\r\nDownloading ZELK Upgrade"
              "\r\nStarting download: [#]"
              "\r\nDone."
              "\r\nPerforming Upgrade...\r\n");
}

TEST(DriverInstall, ExitNotificationOutlivesTheController) {
    std::shared_ptr<std::atomic<std::int32_t>> installing;
    {
        Testing::ControllerRig rig;
        rig.pkg.Write("a.bin", "a");
        rig.Package("2.04", Testing::Detail("ZELK", "ZELK", "ZELK", "a.bin"));
        rig.pkg.WriteProgram("Drivers/libusbk/dpinst_x64", "#!/bin/sh\nsleep 0.2\n");
        PosixProcessService processes(rig.pkg.Root());
        rig.Start(&processes);
        rig.controller->InstallDrivers(0, 0);
        installing = rig.State().driversInstalling;
        EXPECT_EQ(*installing, 1);
        // The window closes while the installer runs; the installer outlives the utility.
        rig.controller.reset();
    }
    for (int i = 0; i < 1000 && *installing != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(*installing, 0);
}

}  // namespace
}  // namespace ZELKUtil
