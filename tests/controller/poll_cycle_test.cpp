// The poll against an emulated box, emulated tools and virtual time. The expected logs are written
// from the operator texts, never taken from a run.
#include <gtest/gtest.h>

#include "controller/driver_install.h"
#include "support/controller_rig.h"

namespace ZELKUtil {
namespace {

using Testing::Installer;

using Testing::BoxNamed;
using Testing::ControllerRig;
using Testing::Detail;

// A package with one Q750 profile and an ARM image, so it runs automatically.
struct AutoRig : ControllerRig {
    explicit AutoRig(const std::string& packageVersion = "2.04",
                     const std::string& boxVersion = "2.01",
                     const std::vector<std::string>& toolNames = {PackageFiles::kDfuUtil})
        : ControllerRig(BoxNamed()) {
        pkg.Write("images/q750.bin", "image");
        Package(packageVersion, Detail("ZELK Q750", "Q750", "ZELK Q750", "images/q750.bin"),
                toolNames);
        box.SetFirmwareVersion(boxVersion);
    }
};

TEST(PollCycle, AutomaticRoadUpToTheBootloaderStart) {
    AutoRig rig;
    rig.Start();
    rig.Tick();
    EXPECT_EQ(rig.view.log,
              "\r\nQ750 Version:      2.01"
              "\r\nInstalling Drivers..."
              "\r\nStarting the upgrade in: 5..4..");
    EXPECT_EQ(rig.view.Text(Control::DeviceLabel), "Q750 Version:      2.01");
    EXPECT_EQ(rig.view.Text(Control::LabelMode), "Q750");
    EXPECT_EQ(rig.controllerClock.Waits(), (std::vector<std::int64_t>{3000, 1000}));
    EXPECT_EQ(rig.State().driversInstalled, 1);
    // The x64 installer of the libusbK folder, the operator sees its pages.
    const auto starts = rig.tools.Starts();
    ASSERT_EQ(starts.size(), 1U);
    EXPECT_EQ(starts[0].program,
              Installer(PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverInstaller64));
    EXPECT_EQ(starts[0].arguments, (std::vector<std::string>{"/LM", "/F"}));
    EXPECT_EQ(starts[0].mode, StartMode::Shell);

    rig.Ticks(3);
    EXPECT_EQ(rig.box.Mode(), ZELKSim::BoxMode::Normal);
    EXPECT_FALSE(rig.view.Checked(Control::CheckProgramArm));
    rig.Tick();
    EXPECT_EQ(rig.view.log,
              "\r\nQ750 Version:      2.01"
              "\r\nInstalling Drivers..."
              "\r\nStarting the upgrade in: 5..4..3..2..1..0..");
    EXPECT_TRUE(rig.view.Checked(Control::CheckProgramArm));
    EXPECT_EQ(rig.State().operation_underway, 1);
    EXPECT_EQ(rig.controllerClock.Waits(), (std::vector<std::int64_t>{3000, 1000, 3000}));
    // The box has left for its bootloader.
    EXPECT_NE(rig.box.Mode(), ZELKSim::BoxMode::Normal);
    const std::vector<std::uint8_t> requests = rig.box.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(), 0x31);
}

TEST(PollCycle, SilentBox) {
    AutoRig silent;
    silent.box.SetAnswerBehaviour(ZELKSim::AnswerBehaviour::Silent());
    silent.Start();
    silent.Tick();
    EXPECT_EQ(silent.view.Text(Control::DeviceLabel), "\r\nWaiting for response...");
    EXPECT_EQ(silent.view.log, "");
    EXPECT_EQ(silent.State().connected, 0);
}

// Which versions count as the package's: VersionMatch's own test.
TEST(PollCycle, UpToDateBoxNeedsNothing) {
    AutoRig current("2.04", "2.04");
    current.Start();
    current.Ticks(3);
    EXPECT_EQ(current.view.log, "\r\nQ750 Version:      2.04\r\n\r\nNo Upgrade Required");

    // The box's version is looked for in the package's line, not the other way round.
    AutoRig decorated("1.23 (Q750)", "1.23");
    decorated.Start();
    decorated.Tick();
    EXPECT_EQ(decorated.view.log, "\r\nQ750 Version:      1.23\r\n\r\nNo Upgrade Required");
}

TEST(PollCycle, ManualModeStartsOnlyWhatIsTicked) {
    ControllerRig rig(BoxNamed());
    rig.pkg.Write("a.bin", "a");
    rig.pkg.Write("f.stp", "f");
    rig.Package("2.04", Detail("ZELK Q750", "Q750", "ZELK Q750", "a.bin", "f.stp"));
    rig.box.SetFirmwareVersion("2.04");
    rig.Start();
    ASSERT_EQ(rig.State().upgradeMode, manual_upgrade);
    rig.Ticks(3);
    EXPECT_EQ(rig.view.log, "\r\nQ750 Version:      2.04\r\n\r\nNo Upgrade Required");
    EXPECT_TRUE(rig.controllerClock.Waits().empty());
    // A tick restarts even an up-to-date box.
    rig.view.SetChecked(Control::CheckProgramArm, true);
    rig.Tick();
    EXPECT_EQ(rig.State().operation_underway, 1);
    EXPECT_EQ(rig.controllerClock.Waits(), std::vector<std::int64_t>{3000});
    EXPECT_EQ(rig.box.Requests().back(), 0x31);
}

// Each bootloader code, and the codes that depend on the download tool with the package's
// dfu-util (libusbK driver) and with DFUAPP (NXP driver).
TEST(PollCycle, BootloaderCodes) {
    struct Row {
        bool dfuUtil;
        int code;
        const char* log;
        std::vector<std::int64_t> waits;
        std::string tool;  // "" when none runs
    };
    // A box found in its bootloader with the right driver gets the download the operator ticked
    // (this run never saw it in normal mode, so nothing starts by itself).
    const char* const dfuAppLog =
        "\r\nZELK in programming mode\r\nDownloading ZELK Q750 Upgrade###"
        "\r\nPerforming Upgrade...\r\n";
    const std::string dfuUtilLog =
        "\r\nZELK in programming mode\r\nDownloading ZELK Q750 Upgrade"
        "\r\nStarting download: [#####]\r\nDone.\r\nPerforming Upgrade...\r\n";
    const Row rows[] = {
        {true, 0, "\r\nWaiting for Driver...", {3000}, ""},
        {true,
         1,
         "\r\nIncorrect Drivers Loaded, installing new drivers...",
         {3000},
         Installer(PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverInstaller64)},
        {true,
         2,
         "\r\nIncorrect Drivers Loaded, installing new drivers...",
         {3000},
         Installer(PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverInstaller64)},
        {false, 2, dfuAppLog, {}, PackageFiles::kDfuApp},
        {true, 3, dfuUtilLog.c_str(), {}, PackageFiles::kDfuUtil},
        {false,
         3,
         "\r\nIncorrect Drivers Loaded, installing new drivers...",
         {3000},
         Installer(PackageFiles::kDriverFolderNxp, PackageFiles::kDriverInstaller64)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.dfuUtil ? "dfu-util" : "DFUAPP") + " code " +
                     std::to_string(row.code));
        AutoRig rig("2.04", "2.01", {row.dfuUtil ? PackageFiles::kDfuUtil : PackageFiles::kDfuApp});
        rig.Start();
        rig.box.Plug(ZELKSim::BoxMode::Bootloader);
        rig.box.SetDriverState(row.code);
        rig.view.SetChecked(Control::CheckProgramArm, true);
        rig.Tick();
        EXPECT_EQ(rig.view.log, row.log);
        EXPECT_EQ(rig.controllerClock.Waits(), row.waits);
        const auto starts = rig.tools.Starts();
        if (!row.tool.empty()) {
            ASSERT_EQ(starts.size(), 1U);
            EXPECT_EQ(starts[0].program, row.tool);
        } else {
            EXPECT_TRUE(starts.empty());
        }
    }

    // A wrong driver is installed again on every poll while the code stays wrong.
    AutoRig wrong;
    wrong.Start();
    wrong.box.Plug(ZELKSim::BoxMode::Bootloader);
    wrong.box.SetDriverState(1);
    wrong.Tick();
    wrong.box.SetDriverState(1);
    wrong.Tick();
    EXPECT_EQ(wrong.view.log,
              "\r\nIncorrect Drivers Loaded, installing new drivers..."
              "\r\nIncorrect Drivers Loaded, installing new drivers...");

    // Code 0 that turns into the right driver during the second look is acted on.
    AutoRig late;
    late.Start();
    late.box.Plug(ZELKSim::BoxMode::Bootloader);
    late.box.SetDriverState(0);
    late.clock.ScheduleAfter(1000, [&] { late.box.SetDriverState(3); });
    late.view.SetChecked(Control::CheckProgramArm, true);
    late.Tick();
    EXPECT_EQ(late.view.log, dfuUtilLog);
}

TEST(PollCycle, AbsentBoxAndErrorState) {
    AutoRig rig;
    rig.Start();
    rig.box.Unplug();
    rig.view.SetText(Control::DeviceLabel, "something");
    rig.State().operation_underway = 1;
    rig.Tick();
    EXPECT_EQ(rig.view.Text(Control::DeviceLabel), "something");
    rig.State().operation_underway = 0;
    rig.Tick();
    EXPECT_EQ(rig.view.Text(Control::DeviceLabel), "No device found");
    EXPECT_EQ(rig.view.log, "");

    // In the error state no device is opened or probed.
    rig.box.Plug();
    rig.State().error_occurred = 1;
    rig.Ticks(2);
    EXPECT_EQ(rig.view.Text(Control::DeviceLabel), "Error occurred, please restart.");
    EXPECT_TRUE(rig.box.Requests().empty());
    EXPECT_EQ(rig.box.OpenHandles(), 0);
}

TEST(PollCycle, ComboSelectsTheExactDisplayNameAndKeepsTheMatchedProfile) {
    ControllerRig rig(BoxNamed(L"ZELK Q750 box"));
    rig.pkg.Write("plain.bin", "p");
    rig.pkg.Write("q750.bin", "q");
    rig.pkg.Write("q750b.bin", "b");
    // "ZELK" is a prefix of "ZELK Q750"; the Q750 variant's name is shared by two profiles.
    rig.Package("2.04", Detail("ZELK", "ZELK", "ZELK box", "plain.bin", "", "", "0x0700") +
                            Detail("ZELK Q750", "Q750", "ZELK Q750 old", "q750.bin") +
                            Detail("ZELK Q750", "Q750B", "ZELK Q750 box", "q750b.bin"));
    rig.box.SetFirmwareVersion("2.04");
    rig.Start();
    rig.Tick();
    EXPECT_EQ(rig.view.ComboSelectedIndex(), 1);
    ASSERT_TRUE(rig.State().current_profile.has_value());
    EXPECT_EQ(rig.State().current_profile->LPC3131, "q750b.bin");
    EXPECT_EQ(rig.view.Text(Control::LabelMode), "Q750B");

    ControllerRig plain(BoxNamed(L"ZELK box"));
    plain.pkg.Write("plain.bin", "p");
    plain.pkg.Write("q750.bin", "q");
    plain.Package("2.04", Detail("ZELK Q750", "Q750", "ZELK Q750 box", "q750.bin") +
                              Detail("ZELK", "ZELK", "ZELK box", "plain.bin"));
    plain.box.SetFirmwareVersion("2.04");
    plain.Start();
    plain.Tick();
    EXPECT_EQ(plain.view.ComboSelectedIndex(), 1);
    EXPECT_EQ(plain.State().current_profile->type, "ZELK");
}

TEST(DriverInstall, InstallerByMachineAndServiceLine) {
    AutoRig rig("2.04", "2.01", {PackageFiles::kDfuApp});
    rig.machine = "i686";
    rig.Start();
    rig.State().diagOutput = 1;
    rig.controller->InstallDrivers(1, 1);
    EXPECT_EQ(rig.view.log, "\r\nInstalling Drivers: nxp");
    const auto starts = rig.tools.Starts();
    ASSERT_EQ(starts.size(), 1U);
    EXPECT_EQ(starts[0].program,
              Installer(PackageFiles::kDriverFolderNxp, PackageFiles::kDriverInstaller));
    EXPECT_EQ(starts[0].arguments, (std::vector<std::string>{"/LM", "/F", "/s"}));
    // The call returns once the installer has ended.
    EXPECT_GE(rig.clock.NowMs(), rig.tools.Settings().installerMs);
    EXPECT_EQ(rig.State().driversInstalled, 1);
    EXPECT_EQ(*rig.State().driversInstalling, 0);

    AutoRig missing;
    missing.Start();
    std::remove(
        missing.pkg
            .Path(Installer(PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverInstaller64))
            .c_str());
    missing.controller->InstallDrivers(1, 0);
    EXPECT_EQ(missing.view.log, "\r\nError installing drivers. Please do so manually");
    EXPECT_EQ(missing.State().driversProc, nullptr);
    EXPECT_EQ(missing.State().driversInstalled, 0);
}

// dpinst's exit code: flags in the top byte, counts of packages below; a failed installation and
// a needed restart are each told once per bootloader visit, a plain exit status tells nothing.
TEST(DriverInstall, TheInstallersExitCodeIsReadAndToldOnce) {
    const std::string failed =
        "\r\nThe driver installer failed (driver packages not installed: 2). Please install the "
        "driver manually";
    const std::string restart = "\r\nRestart Windows to finish the driver installation";
    struct Row {
        std::uint32_t code;
        bool failed, restart;
        int notInstalled, installed;
        std::string log;
    };
    const Row rows[] = {
        {0x00000001, false, false, 0, 1, ""},
        {0x00000000, false, false, 0, 0, ""},
        {0x00000001U << 8, false, false, 0, 0, ""},  // only copied to the driver store
        {1, false, false, 0, 1, ""},                 // a Linux installer's plain failure status
        {0x80020000, true, false, 2, 0, failed},
        {0x40000003, false, true, 0, 3, restart},
        {0xC0020101, true, true, 2, 1, failed + restart},
    };
    for (const Row& row : rows) {
        const InstallerOutcome outcome = ReadInstallerExitCode(row.code);
        EXPECT_EQ(outcome.failed, row.failed) << row.code;
        EXPECT_EQ(outcome.restartNeeded, row.restart) << row.code;
        EXPECT_EQ(outcome.notInstalled, row.notInstalled) << row.code;
        EXPECT_EQ(outcome.installed, row.installed) << row.code;
        AutoRig rig;
        rig.tools.Settings().installerExitCode = row.code;
        rig.Start();
        rig.controller->InstallDrivers(1, 0);
        rig.controller->InstallDrivers(1, 0);
        EXPECT_EQ(rig.view.log, row.log) << row.code;
        EXPECT_EQ(rig.State().driversInstalled, 1);
    }
}

}  // namespace
}  // namespace ZELKUtil
