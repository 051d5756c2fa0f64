// The tool runs with real child processes: what a tool prints just before it exits must never be
// missed, neither the FPGA player's verdict handed over from its reader thread nor the end of a
// download tool's progress bar.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix_process_service.h"
#include "support/controller_rig.h"

namespace ZELKUtil {
namespace {

TEST(FpgaHandover, SuccessLineJustBeforeTheExitIsNeverMissed) {
    Testing::ControllerRig rig;
    rig.pkg.Write("f.stp", "f");
    rig.Package("2.04", Testing::Detail("ZELK", "ZELK", "ZELK", "", "f.stp"), {"Tools/dfu-util"});
    // The player identifies a blank A3P060 and programs it, its verdict being its last words.
    rig.pkg.WriteProgram("Tools/STAPL Player",
                         "#!/bin/sh\n"
                         "case \"$*\" in\n"
                         "  *DEVICE_INFO*) echo 'Export: key = \"IDCODE\", value = HEX 029121CF'\n"
                         "                 echo 'CHECKSUM: FFFF' ;;\n"
                         "  *) echo 'PERCENT_DONE = 50'; echo 'Verifying FPGA Array -- pass' ;;\n"
                         "esac\n");
    PosixProcessService processes(rig.pkg.Root());
    rig.Start(&processes);
    rig.box.Plug(ZELKSim::BoxMode::FpgaProgrammer);

    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(run);
        rig.view.Clear();
        rig.view.SetChecked(Control::CheckProgramFPGA, true);
        rig.controller->CheckForZELK();
        ASSERT_EQ(rig.State().currently_programming_fpga, 1) << rig.view.log;
        for (int poll = 0; poll < 100000 && rig.State().currently_programming_fpga != 0; ++poll) {
            rig.controller->CheckForZELK();
        }
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
