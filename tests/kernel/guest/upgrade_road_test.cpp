// ARM upgrades with the product's Linux backends (the hidraw transport, the sysfs/udev probe, the
// POSIX process service and the steady clock) and Debian's real dfu-util as the package's DFU tool,
// against the box on the dummy USB bus: its normal mode an f_hid gadget, its bootloader a DFU 1.1
// device on gadgetfs into which dfu-util writes the image block by block. The box comes back with
// the version the received image carries, so a broken transfer shows as a wrong version. The
// package's driver installer is a stand-in that puts the bootloader rule in place as the real one
// does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "box/dfu_bootloader.h"
#include "box_rig.h"
#include "controller/operator_texts.h"
#include "controller/upgrade_controller.h"
#include "platform/posix/posix_process_service.h"
#include "real_tool_package.h"
#include "scenario/console_view.h"
#include "support/temp_package.h"

namespace ZELKKernelTest {
namespace {

constexpr std::size_t kImageSize = std::size_t{256} * 1024;
constexpr const char* kFailed =
    "\r\nFirmare download failed. Please unplug and re-plug converter box usb amd try again.\r\n";
constexpr const char* kGaveUp = "\r\nError with upgrade package. Please contact Orvanta";

// A package whose Tools/dfu-util is Debian's dfu-util, a box with firmware 2.01 plugged in on the
// bus, and the controller with the window's log going to the serial console as it comes.
struct RealToolRoad {
    GadgetRig rig;
    ZELKUtil::Testing::TempPackage pkg;
    ZELKSim::ConsoleView view{ZELKSim::ConsoleEcho{&std::cout, false, {}}};
    ZELKUtil::PosixProcessService processes{pkg.Root()};
    ZELKUtil::UpgradeController controller{
        {view, rig.clock, rig.device, processes, pkg.Root(), "x86_64"}};

    explicit RealToolRoad(ZELKSim::DfuFaults faults = {}) : rig(faults) {
        RemoveBootloaderRules();
        WriteRealToolPackage(pkg,
                             "<detail profile=\"ZELK Q750\" vid=\"0x14E3\" pid=\"0x0706\" "
                             "id=\"Q750\" name=\"ZELK Q750\" LPC3131=\"images/q750.bin\" "
                             "A3P060=\"\" A3PN060=\"\"/>",
                             {{"images/q750.bin", ZELKSim::MakeFirmwareImage("2.04", kImageSize)}});
    }
    ~RealToolRoad() { RemoveBootloaderRules(); }
    RealToolRoad(const RealToolRoad&) = delete;
    RealToolRoad& operator=(const RealToolRoad&) = delete;

    // Plugs the box in, starts up and runs the window's timer until the log holds `text`, an
    // error or a failed download.
    bool RunUntil(const std::string& text, bool serviceMode = false) {
        if (!rig.Plugged()) {
            return false;
        }
        controller.InitializeApplication();
        if (serviceMode) {
            controller.UpdateForm_KeyDown(ZELKUtil::Key::M, true);
        }
        return TickUntil(text);
    }
    // Runs the window's timer, faster (each tick is one poll), until the log holds `text`, an
    // error or a failed download.
    bool TickUntil(const std::string& text) {
        const bool seen = WaitFor(
            [&] {
                controller.TimerCheck_Tick();
                return view.log.find(text) != std::string::npos ||
                       view.log.find("Error") != std::string::npos ||
                       view.log.find(kFailed) != std::string::npos;
            },
            240000);
        std::puts("");
        return seen && view.log.find(text) != std::string::npos;
    }
};

TEST(RealDfuUtil, AutomaticArmUpgradeFromPlugInToUpgradeComplete) {
    RealToolRoad road;
    ASSERT_TRUE(road.RunUntil("Upgrade Complete"));
    // dfu-util 0.11 redraws a bar of 25 '=': every other step gives a mark.
    EXPECT_EQ(road.view.log,
              "\r\nQ750 Version:      2.01"
              "\r\nInstalling Drivers..."
              "\r\nStarting the upgrade in: 5..4..3..2..1..0.."
              "\r\nZELK in programming mode"
              "\r\nDownloading ZELK Q750 Upgrade"
              "\r\n#############"
              "\r\nDone."
              "\r\nPerforming Upgrade...\r\n"
              "\r\nQ750 Version:      2.04"
              "\r\n"
              "\r\nUpgrade Complete");
    EXPECT_EQ(road.rig.gadget.PumpError(), "");
    const auto download = road.rig.gadget.LastDownload();
    ASSERT_TRUE(download);
    EXPECT_EQ(download->bytes, kImageSize);
    const std::int64_t ms = download->Ms();
    std::printf("DFU transfer of a %zu KiB image with dfu-util 0.11: %lld ms (%.0f KiB/s)\n",
                kImageSize / 1024, static_cast<long long>(ms),
                static_cast<double>(kImageSize) / 1024.0 * 1000.0 / static_cast<double>(ms));
}

TEST(RealDfuUtil, ServiceModeLogShowsTheToolsOwnOutput) {
    RealToolRoad road;
    ASSERT_TRUE(road.RunUntil("Upgrade Complete", true));
    for (const char* line :
         {"\r\nTools/dfu-util-R -d 0x0471:0xdf55 -t 2048 -D images/q750.bin\r\n",
          "\r\ndfu-util 0.11\r\n", "\r\nDownload done.\r\n", "\r\nQ750 Version:      2.04"}) {
        EXPECT_NE(road.view.log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(road.rig.gadget.PumpError(), "");
}

TEST(RealDfuUtil, FailureRoads) {
    struct Road {
        const char* name;
        ZELKSim::DfuFaults faults;
        const char* end;
    };
    const Road roads[] = {
        {"the bootloader stalls DNLOAD", {.refusesDownload = true}, kFailed},
        {"the box vanishes mid-transfer", {.vanishAfterBytes = kImageSize / 2}, kFailed},
        // Three passes that found no device to open, then the give-up.
        {"no DFU interface", {.noDfuInterface = true}, kGaveUp},
    };
    for (const Road& r : roads) {
        SCOPED_TRACE(r.name);
        RealToolRoad road(r.faults);
        ASSERT_TRUE(road.RunUntil(r.end));
        const std::size_t download = road.view.log.find("\r\nDownloading ZELK Q750 Upgrade");
        ASSERT_NE(download, std::string::npos) << road.view.log;
        const std::string run = road.view.log.substr(download);
        EXPECT_EQ(run.find("Done."), std::string::npos) << run;
        EXPECT_EQ(run.substr(run.size() - std::string(r.end).size()), r.end) << run;
        EXPECT_EQ(road.rig.box.FirmwareVersion(), "2.01");
    }
}

// Two boxes on the bus: no box is counted down (restarted into its bootloader, it would only wait
// there beside the other, which dfu-util could not tell apart) and the operator is told once;
// once one is unplugged, the other is counted down and gets its download.
TEST(RealDfuUtil, TwoBoxesGetNothingUntilOneIsUnplugged) {
    RealToolRoad road;
    ZELKSim::EmulatedBox second{road.rig.boxClock, Q750()};
    second.SetFirmwareVersion("2.01");
    GadgetBox secondGadget(second, road.rig.boxClock, {}, 1);
    std::string error;
    ASSERT_TRUE(secondGadget.Start(&error)) << error;
    ASSERT_TRUE(road.RunUntil(ZELKUtil::OperatorTexts::kSeveralBoxes));
    // A few more polls with both there: nothing restarts or starts, and nothing is said again.
    for (int poll = 0; poll < 5; ++poll) {
        road.controller.TimerCheck_Tick();
    }
    const std::string& log = road.view.log;
    EXPECT_EQ(log.find("Starting the upgrade"), std::string::npos) << log;
    EXPECT_EQ(log.find("More than one"), log.rfind("More than one")) << log;
    EXPECT_EQ(road.rig.box.Mode(), ZELKSim::BoxMode::Normal);
    EXPECT_EQ(second.Mode(), ZELKSim::BoxMode::Normal);

    second.Unplug();
    ASSERT_TRUE(road.TickUntil("Upgrade Complete")) << log;
    EXPECT_EQ(road.rig.box.FirmwareVersion(), "2.04");
    EXPECT_EQ(second.FirmwareVersion(), "2.01");
    EXPECT_EQ(road.rig.gadget.PumpError() + secondGadget.PumpError(), "");
}

// Without the udev rule the box's hidraw node belongs to root: a user who is not root is told,
// once, that the box is there and what lets this user open it; service mode says why the open
// failed. (Root opens any node, so the controller runs in a child that has dropped root.)
TEST(AccessNotice, ABoxThisUserMayNotOpenIsReportedOnce) {
    RealToolRoad road;
    ASSERT_TRUE(road.rig.Plugged());
    hid_device_info* node = road.rig.hid.hid_enumerate(0x14E3, 0x0706);
    ASSERT_NE(node, nullptr);
    const std::string reason = std::string("\r\nCannot open ") + node->path +
                               ": open: Permission denied\r\nA ZELK box is connected, but this "
                               "user may not open it.";
    road.rig.hid.hid_free_enumeration(node);
    ASSERT_EQ(::chmod(road.pkg.Root().c_str(), 0755), 0);
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        road.controller.InitializeApplication();
        road.controller.UpdateForm_KeyDown(ZELKUtil::Key::M, true);
        for (int poll = 0; poll < 3; ++poll) {
            road.controller.TimerCheck_Tick();
        }
        std::puts("");
        std::fflush(stdout);
        const std::string& log = road.view.log;
        const bool once = log.find("may not open it") == log.rfind("may not open it");
        ::_exit(log.rfind(reason, 0) == 0 && once &&
                        log.find("70-zelk-upgrade.rules") != std::string::npos
                    ? 0
                    : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "10: cannot drop root; 11: the log does not begin with the reason and the notice, "
           "once: "
        << reason;
}

}  // namespace
}  // namespace ZELKKernelTest
