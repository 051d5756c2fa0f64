// The device-tree probe and the hot-plug monitor against real USB devices, with systemd-udevd
// processing them and the package's rules deciding the bootloader's driver description.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "app/qt/hotplug_monitor.h"
#include "box_rig.h"

namespace ZELKKernelTest {
namespace {

using ZELKSim::BoxMode;

constexpr const char* kRulesDir = "/etc/udev/rules.d/";
constexpr const char* kTestRules = "/etc/zelk-test/";

// Installs one rule file (or none) and makes udev read the rules again.
bool UseRule(const std::string& name) {
    return RunCommand(std::string("rm -f ") + kRulesDir + "70-zelk-*.rules") &&
           (name.empty() || RunCommand(std::string("cp ") + kTestRules + name + " " + kRulesDir)) &&
           RunCommand("udevadm control --reload");
}

// Pulls the box out and plugs it in again as the bootloader; the code once udev has processed it.
int ReplugBootloader(GadgetRig& rig) {
    rig.box.Unplug();
    WaitFor([&] { return rig.Bootloader() == -1; }, 20000);
    // udev has handled the removal too: the device that comes back may get the same device
    // number, whose record from the last plug-in (another rule's description) must be gone by
    // then, or the probe reads it before udev replaces it.
    RunCommand("udevadm settle");
    rig.box.Plug(BoxMode::Bootloader);
    WaitFor([&] { return rig.Bootloader() != -1; }, 20000);
    RunCommand("udevadm settle");
    return rig.Bootloader();
}

TEST(BootloaderProbe, CodesFollowTheRulesUdevApplied) {
    GadgetRig rig;
    rig.box.Plug(BoxMode::Bootloader);
    EXPECT_EQ(rig.Bootloader(), -1);
    ASSERT_TRUE(UseRule(""));
    // While udev holds its events back the device is on the bus but not processed: wait.
    ASSERT_TRUE(RunCommand("udevadm control --stop-exec-queue"));
    ASSERT_TRUE(rig.Plugged(false));
    ASSERT_TRUE(WaitFor([&] { return rig.Bootloader() != -1; }, 20000));
    EXPECT_EQ(rig.device.CheckForBootloader(), 0);
    ASSERT_TRUE(RunCommand("udevadm control --start-exec-queue"));
    RunCommand("udevadm settle");
    // The generic USB driver runs, and no rule names it.
    EXPECT_EQ(rig.device.CheckForBootloader(), 1);
    EXPECT_EQ(rig.device.Open(), 0);

    ASSERT_TRUE(UseRule("70-zelk-bootloader-libusbk.rules"));
    EXPECT_EQ(ReplugBootloader(rig), 3);
    ASSERT_TRUE(UseRule("70-zelk-bootloader-phillips.rules"));
    EXPECT_EQ(ReplugBootloader(rig), 2);
    ASSERT_TRUE(UseRule(""));
    EXPECT_EQ(ReplugBootloader(rig), 1);
    rig.box.Unplug();
    EXPECT_TRUE(WaitFor([&] { return rig.Bootloader() == -1; }, 20000));
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

// What the window's poll would see at one device-change notification.
struct Sighting {
    bool normal;
    int bootloader;
};

TEST(HotplugMonitor, SeesTheBoxLeaveNormalModeAndComeBack) {
    ASSERT_TRUE(UseRule("70-zelk-bootloader-libusbk.rules"));
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    std::vector<Sighting> sightings;
    ZELKUtil::Hid::HotplugMonitor monitor([&] {
        sightings.push_back({rig.NormalPresent(), rig.Bootloader()});
    });
    ASSERT_TRUE(monitor.Opened()) << monitor.Opened().error().Text();
    EXPECT_EQ(monitor.Source(), "udev");
    const auto seenSoFar = [&] {
        std::string text;
        for (const Sighting& s : sightings) {
            text += std::string(s.normal ? " normal" : " -") + "/" + std::to_string(s.bootloader);
        }
        return "notifications saw (normal mode/bootloader code):" + text;
    };
    const auto runUntil = [&](const std::function<bool(const Sighting&)>& seen) {
        return WaitFor(
            [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                return !sightings.empty() && seen(sightings.back());
            },
            30000);
    };

    ASSERT_EQ(rig.device.StartBootloader(), 1);
    rig.device.Close();
    ASSERT_TRUE(runUntil([](const Sighting& s) { return s.bootloader == 3; })) << seenSoFar();
    // Each notification comes after udev has processed its device; udev holds an interface's
    // event until its device's is done, so no notification sees the bootloader unprocessed.
    bool sawNeither = false;
    for (const Sighting& s : sightings) {
        sawNeither = sawNeither || (!s.normal && s.bootloader == -1);
        EXPECT_TRUE(s.bootloader == -1 || s.bootloader == 3) << seenSoFar();
    }
    EXPECT_TRUE(sawNeither) << seenSoFar();

    sightings.clear();
    rig.box.CompleteArmDownload("2.04");
    ASSERT_TRUE(runUntil([](const Sighting& s) { return s.normal && s.bootloader == -1; }))
        << seenSoFar();
    EXPECT_EQ(rig.device.GetVersion(), "2.04");
    EXPECT_TRUE(UseRule(""));
}

}  // namespace
}  // namespace ZELKKernelTest
