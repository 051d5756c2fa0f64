// One automatic ARM upgrade from plug-in to completion with the product's Linux backends: the
// hidraw transport, the sysfs/udev probe, the POSIX process service and the steady clock, against
// the box on the dummy USB bus. The package's DFU tool and driver installer are stand-in scripts:
// the installer puts the bootloader rule in place as the real one does, the DFU tool finds the
// bootloader on the bus and hands the new version to the box. Like the real tool it takes its time
// over the transfer and over the status requests after it: the controller reads the bar one
// character at a time only while the tool runs.
#include <gtest/gtest.h>

#include <iostream>

#include "box_rig.h"
#include "console_view.h"
#include "controller/upgrade_controller.h"
#include "package/package_files.h"
#include "platform/posix_process_service.h"
#include "support/temp_package.h"

namespace ZELKKernelTest {
namespace {

constexpr const char* kHandoff = "/run/zelk-dfu-done";

constexpr const char* kDfuUtilScript = R"sh(#!/bin/sh
echo "dfu-util 0.7"
echo
echo "Opening DFU capable USB device..."
found=
for d in /sys/bus/usb/devices/*; do
  [ "$(cat "$d/idVendor" 2>/dev/null):$(cat "$d/idProduct" 2>/dev/null)" = 0471:df55 ] && found=1
done
[ -n "$found" ] || exit 74
[ "$1 $2 $3 $6" = "-R -d 0x0471:0xdf55 -D" ] && [ -f "$7" ] || exit 64
echo "ID 0471:df55"
echo "Copying data from PC to DFU device"
printf "Starting download: ["
for block in 1 2 3 4 5 6 7 8 9 10; do sleep 0.05; printf "#"; done
printf "] finished!\n"
sleep 1
printf "state(2) = dfuIDLE, status(0) = No error condition is present\nDone!\n"
echo 2.04 > /run/zelk-dfu-done.tmp && mv /run/zelk-dfu-done.tmp /run/zelk-dfu-done
)sh";

constexpr const char* kInstaller = R"sh(#!/bin/sh
cp "$(dirname "$0")/70-zelk-bootloader.rules" /etc/udev/rules.d/ && udevadm control --reload
)sh";

TEST(UpgradeRoad, AutomaticArmUpgradeFromPlugInToUpgradeComplete) {
    RunCommand("rm -f /etc/udev/rules.d/70-zelk-*.rules; udevadm control --reload");
    GadgetRig rig(kHandoff);
    ZELKUtil::Testing::TempPackage pkg;
    pkg.Write(ZELKUtil::PackageFiles::kVersionFile, "2.04\r\n");
    pkg.Write(ZELKUtil::PackageFiles::kProfileFile,
              "<?xml version=\"1.0\"?>\n<zelk><detail profile=\"ZELK Q750\" vid=\"0x14E3\" "
              "pid=\"0x0706\" id=\"Q750\" name=\"ZELK Q750\" LPC3131=\"images/q750.bin\" "
              "A3P060=\"\" A3PN060=\"\"/></zelk>");
    pkg.Write("images/q750.bin", "arm");
    pkg.WriteProgram(ZELKUtil::PackageFiles::kDfuUtil, kDfuUtilScript);
    const auto rule = ReadWholeFile("/etc/zelk-test/70-zelk-bootloader-libusbk.rules");
    ASSERT_TRUE(rule);
    for (const char* installer : {"dpinst", "dpinst_x64"}) {
        pkg.WriteProgram(
            std::string(ZELKUtil::PackageFiles::kDriverFolderLibusbk) + installer,
            kInstaller);
    }
    pkg.Write(
        std::string(ZELKUtil::PackageFiles::kDriverFolderLibusbk) + "70-zelk-bootloader.rules",
        *rule);

    // The log goes to the serial console as it comes.
    ZELKSim::ConsoleView view(ZELKSim::ConsoleEcho{&std::cout, false, {}});
    ZELKUtil::PosixProcessService processes(pkg.Root());
    ZELKUtil::UpgradeController controller(
        {view, rig.clock, rig.device, processes, pkg.Root(), "x86_64"});
    ASSERT_TRUE(rig.Plugged());
    controller.InitializeApplication();
    const auto logHas = [&](const std::string& text) {
        return view.log.find(text) != std::string::npos;
    };
    // The window's timer, faster: each tick is one poll.
    ASSERT_TRUE(WaitFor(
        [&] {
            controller.TimerCheck_Tick();
            return logHas("Upgrade Complete") || logHas("Error");
        },
        240000));
    std::puts("");
    EXPECT_EQ(view.log,
              "\r\nQ750 Version:      2.01"
              "\r\nInstalling Drivers..."
              "\r\nStarting the upgrade in: 5..4..3..2..1..0.."
              "\r\nZELK in programming mode"
              "\r\nDownloading ZELK Q750 Upgrade"
              "\r\nStarting download: [#####]"
              "\r\nDone."
              "\r\nPerforming Upgrade...\r\n"
              "\r\nQ750 Version:      2.04"
              "\r\n"
              "\r\nUpgrade Complete");
    EXPECT_EQ(rig.box.FirmwareVersion(), "2.04");
    EXPECT_EQ(rig.gadget.PumpError(), "");
    RunCommand("rm -f /etc/udev/rules.d/70-zelk-*.rules; udevadm control --reload");
}

}  // namespace
}  // namespace ZELKKernelTest
