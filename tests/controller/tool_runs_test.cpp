// The ARM download and the FPGA run, whole roads from plug-in, against the emulated box and tools
// in virtual time. The expected logs are written from the operator texts, never taken from a run.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/controller_rig.h"
#include "support/watchdog.h"

namespace ZELKUtil {
namespace {

using Testing::ControllerRig;
using Testing::Detail;

constexpr const char* kCountdown =
    "\r\nQ750 Version:      2.01"
    "\r\nInstalling Drivers..."
    "\r\nStarting the upgrade in: 5..4..3..2..1..0..";

struct Road : ControllerRig {
    explicit Road(const std::vector<std::string>& toolNames = {PackageFiles::kDfuUtil},
                  const std::string& arm = "images/q750.bin", const std::string& a3p = "",
                  const std::string& a3pn = "")
        : ControllerRig(Testing::BoxNamed()) {
        pkg.Write("images/q750.bin", "arm");
        pkg.Write("images/kr.stp", "kr");
        pkg.Write("images/n.stp", "n");
        Package("2.04", Detail("ZELK Q750", "Q750", "ZELK Q750", arm, a3p, a3pn), toolNames);
        box.SetFirmwareVersion("2.01");
    }
    // The argument vectors of every start of the STAPL player, in order.
    std::vector<std::vector<std::string>> PlayerArguments() const {
        std::vector<std::vector<std::string>> runs;
        for (const auto& start : tools.Starts()) {
            if (start.program == PackageFiles::kStaplPlayer) {
                runs.push_back(start.arguments);
            }
        }
        return runs;
    }
    // From here on, the most text the log grew by between two turns of the event loop (every
    // sleep of the controller is one, and so is every timer tick).
    const std::size_t& WatchLogGrowth() {
        controllerClock.onSleep = [this](std::int64_t) {
            mostGrowth_ = std::max(mostGrowth_, view.log.size() - logAtTurn_);
            logAtTurn_ = view.log.size();
        };
        return mostGrowth_;
    }
    // Ticks until the log holds the text, or gives up after the given number of ticks.
    bool TickUntil(const std::string& text, int most = 40) {
        for (int i = 0; i < most; ++i) {
            if (view.log.find(text) != std::string::npos) {
                return true;
            }
            logAtTurn_ = view.log.size();  // a timer tick comes from a turn of the event loop
            Tick();
        }
        return view.log.find(text) != std::string::npos;
    }

  private:
    std::size_t mostGrowth_ = 0;
    std::size_t logAtTurn_ = 0;
};

TEST(ArmDownload, CurrentDfuUtilGivesTheSameMarks) {
    Road road;
    road.tools.Settings().dfuUtil = ZELKSim::DfuUtilBehaviour::WorksCurrent;
    road.Start();
    ASSERT_TRUE(road.TickUntil("Upgrade Complete"));
    EXPECT_EQ(road.view.log, std::string(kCountdown) +
                                 "\r\nZELK in programming mode"
                                 "\r\nDownloading ZELK Q750 Upgrade"
                                 "\r\n#####"
                                 "\r\nDone."
                                 "\r\nPerforming Upgrade...\r\n"
                                 "\r\nQ750 Version:      2.04"
                                 "\r\n"
                                 "\r\nUpgrade Complete");
    EXPECT_EQ(road.view.Text(Control::DeviceLabel), "Q750 Version:      2.04");
    EXPECT_FALSE(road.view.Checked(Control::CheckProgramArm));
    EXPECT_EQ(road.State().arm_just_programmed, 0);
    EXPECT_EQ(road.State().error_occurred, 0);
}

TEST(ArmDownload, DfuAppMarksEveryOtherBlockOverTheProgramsLife) {
    Road road({PackageFiles::kDfuApp});
    road.tools.Settings().dfuAppBlocks = 6;
    road.Start();
    ASSERT_TRUE(road.TickUntil("Upgrade Complete"));
    EXPECT_EQ(road.view.log, std::string(kCountdown) +
                                 "\r\nZELK in programming mode"
                                 "\r\nDownloading ZELK Q750 Upgrade###"
                                 "\r\nPerforming Upgrade...\r\n"
                                 "\r\nQ750 Version:      2.04"
                                 "\r\n"
                                 "\r\nUpgrade Complete");
    const auto starts = road.tools.Starts();
    EXPECT_EQ(starts[1].arguments, (std::vector<std::string>{"/tl", "1000", "/l", "dfulog.txt",
                                                             "/f", "images/q750.bin"}));
    EXPECT_EQ(starts[1].mode, StartMode::Direct);

    // Five blocks leave the toggle flipped: the next run's first block gives no mark.
    Road odd({PackageFiles::kDfuApp});
    odd.tools.Settings().dfuAppBlocks = 5;
    odd.tools.Settings().newVersion = "2.03";
    odd.Start();
    ASSERT_TRUE(odd.TickUntil("Q750 Version:      2.03"));
    odd.tools.Settings().newVersion = "2.04";
    ASSERT_TRUE(odd.TickUntil("Upgrade Complete"));
    EXPECT_NE(odd.view.log.find("Downloading ZELK Q750 Upgrade###\r\nPerforming"),
              std::string::npos);
    EXPECT_NE(odd.view.log.find("Downloading ZELK Q750 Upgrade##\r\nPerforming"),
              std::string::npos);
}

TEST(ArmDownload, ServiceModeShowsTheCommandAndEveryLine) {
    Road road;
    road.Start();
    road.State().diagOutput = 1;
    ASSERT_TRUE(road.TickUntil("Downloading ZELK Q750 Upgrade"));
    EXPECT_NE(road.view.log.find("\r\nDownloading ZELK Q750 Upgrade\r\nLoading File: "
                                 "images/q750.bin\r\n" +
                                 std::string(PackageFiles::kDfuUtil) +
                                 "-R -d 0x0471:0xdf55 -t 2048 -D images/q750.bin\r\n\r\n"
                                 "dfu-util 0.7\r\n"),
              std::string::npos)
        << road.view.log;
    EXPECT_NE(road.view.log.find("\r\nCopying data from PC to DFU device\r\nStarting download: "
                                 "[##########] finished!\r\n"),
              std::string::npos);
    EXPECT_EQ(road.view.log.find("Done.\r\n"), std::string::npos);
}

TEST(ArmDownload, RerunsAfterOpeningOnlyAndGivesUpAfterThreePasses) {
    Road once;
    once.tools.Settings().dfuUtilOpeningPasses = 1;
    once.Start();
    ASSERT_TRUE(once.TickUntil("Upgrade Complete")) << once.view.log;
    EXPECT_NE(once.view.log.find("\r\nDownloading ZELK Q750 Upgrade\r\nStarting download: "
                                 "[#####]\r\nDone.\r\nPerforming Upgrade...\r\n"),
              std::string::npos);
    EXPECT_EQ(once.view.log.find("Error"), std::string::npos);
    EXPECT_EQ(once.tools.Starts().size(), 3U);  // installer and two passes

    for (const auto behaviour :
         {ZELKSim::DfuUtilBehaviour::OnlyOpening, ZELKSim::DfuUtilBehaviour::NoDeviceCurrent}) {
        Road never;
        never.tools.Settings().dfuUtil = behaviour;
        never.Start();
        ASSERT_TRUE(never.TickUntil("Downloading"));
        EXPECT_EQ(never.view.log, std::string(kCountdown) +
                                      "\r\nZELK in programming mode"
                                      "\r\nDownloading ZELK Q750 Upgrade"
                                      "\r\nError with upgrade package. Please contact Orvanta");
        EXPECT_EQ(never.tools.Starts().size(), 4U);
        const std::vector<std::int64_t> waits = never.controllerClock.Waits();
        EXPECT_EQ(std::vector<std::int64_t>(waits.end() - 2, waits.end()),
                  (std::vector<std::int64_t>{3000, 3000}));
        EXPECT_EQ(never.State().error_occurred, 0);
        EXPECT_EQ(never.State().arm_just_programmed, 1);
        EXPECT_FALSE(never.view.Checked(Control::CheckProgramArm));
    }

    // A pass that finished and then printed the opening line again (as a tool that restarts
    // itself would) does not arm the reruns anew: three passes at most.
    Road again;
    again.tools.Settings().ownOutput = {
        "Copying data from PC to DFU device\nStarting download: [##] finished!\n"
        "Opening DFU capable USB device...\n"};
    again.Start();
    {
        const Testing::Watchdog watchdog("a download that keeps finishing and opening again");
        ASSERT_TRUE(again.TickUntil("Downloading"));
    }
    const std::string pass = "\r\nStarting download: [#]\r\nDone.\r\nPerforming Upgrade...\r\n";
    EXPECT_EQ(again.view.log, std::string(kCountdown) +
                                  "\r\nZELK in programming mode"
                                  "\r\nDownloading ZELK Q750 Upgrade" +
                                  pass + pass + pass +
                                  "\r\nError with upgrade package. Please contact Orvanta");
    EXPECT_EQ(again.tools.Starts().size(), 4U);
}

TEST(ArmDownload, AnEndlessBarReachesTheLogInPiecesWithTheWindowAlive) {
    Road road;
    const std::size_t bar = std::size_t{4} * 1024 * 1024;
    road.tools.Settings().ownOutput = {
        "Copying data from PC to DFU device\nStarting download: [" + std::string(bar, '#'),
        "] finished!\n"};
    road.Start();
    road.box.Plug(ZELKSim::BoxMode::Bootloader);
    road.view.SetChecked(Control::CheckProgramArm, true);
    const std::size_t& growth = road.WatchLogGrowth();
    {
        const Testing::Watchdog watchdog("a download with a 4 MiB bar");
        road.controller->CheckForZELK();
    }
    EXPECT_LE(growth, ToolReader::kOutputTurnBytes);
    EXPECT_EQ(road.view.log,
              "\r\nZELK in programming mode"
              "\r\nDownloading ZELK Q750 Upgrade"
              "\r\nStarting download: [" +
                  std::string(bar / 2, '#') +
                  "]"
                  "\r\nDone."
                  "\r\nPerforming Upgrade...\r\n");
}

TEST(ArmDownload, ToolThatCannotStartSetsTheErrorStateUntilBoot) {
    Road road;
    road.tools.Settings().unstartable = {PackageFiles::kDfuUtil};
    road.Start();
    road.State().diagOutput = 1;
    ASSERT_TRUE(road.TickUntil("Error with upgrade package"));
    EXPECT_NE(road.view.log.find("\r\nException: " + std::string(PackageFiles::kDfuUtil) +
                                 ": Permission denied\r\nError with upgrade package. Please "
                                 "contact Orvanta"),
              std::string::npos);
    EXPECT_EQ(road.State().error_occurred, 1);
    EXPECT_EQ(road.State().arm_just_programmed, 0);
    road.Tick();
    EXPECT_EQ(road.view.Text(Control::DeviceLabel), "Error occurred, please restart.");
    const std::size_t requests = road.box.Requests().size();
    road.Tick();
    EXPECT_EQ(road.box.Requests().size(), requests);

    // "Boot" ends the error state: the next poll runs again. The road ended with the failure, and
    // its tick with it: "Boot" alone downloads nothing, the operator's tick does.
    road.tools.Settings().unstartable.clear();
    const std::size_t starts = road.tools.Starts().size();
    road.controller->ButtonForce_Click();
    road.Tick();
    EXPECT_EQ(road.view.Text(Control::DeviceLabel), "ZELK in programming mode");
    road.Tick();
    EXPECT_EQ(road.tools.Starts().size(), starts);
    road.view.SetChecked(Control::CheckProgramArm, true);
    ASSERT_TRUE(road.TickUntil("Upgrade Complete"));
    EXPECT_EQ(road.State().error_occurred, 0);
}

TEST(ArmDownload, ProfileWithoutUsableImageStartsNothing) {
    Road road;
    road.Start();
    std::remove(road.pkg.Path("images/q750.bin").c_str());
    ASSERT_TRUE(road.TickUntil("ZELK in programming mode"));
    road.Tick();
    EXPECT_EQ(road.view.log, std::string(kCountdown) +
                                 "\r\nZELK in programming mode"
                                 "\r\nError with upgrade package. Please contact Orvanta");
    EXPECT_FALSE(road.view.Checked(Control::CheckProgramArm));
    EXPECT_EQ(road.tools.Starts().size(), 1U);  // the driver installer only
    EXPECT_EQ(road.State().error_occurred, 0);
}

constexpr const char* kFpgaStart =
    "\r\nQ750 Version:      2.01"
    "\r\nInstalling Drivers..."
    "\r\nStarting the upgrade in: 5..4..3..2..1..0.."
    "\r\nZELK in programming mode"
    "\r\nZELK in fpga programming mode";

struct FpgaRoad : Road {
    FpgaRoad()
        : Road({PackageFiles::kDfuUtil, PackageFiles::kStaplPlayer}, "", "images/kr.stp",
               "images/n.stp") {
        box.SetFpgaIdcode(0x029121CF);
        box.SetFpgaChecksum(0x1234);
    }
};

TEST(FpgaRun, ProgrammedBoxIsErasedThenProgrammed) {
    FpgaRoad road;
    road.tools.Settings().staplPercentLines = 6;
    road.tools.Settings().stepMs = 300;
    road.Start();
    std::vector<std::size_t> marksPerPoll;
    for (int i = 0; i < 60 && road.view.log.find("FPGA Done") == std::string::npos; ++i) {
        const std::size_t before = road.view.log.size();
        const bool running = road.State().currently_programming_fpga != 0;
        road.Tick();
        if (running) {
            EXPECT_EQ(road.view.Text(Control::DeviceLabel), "FPGA programming underway");
        }
        const std::string added = road.view.log.substr(before);
        if (!added.empty() && added.find_first_not_of('#') == std::string::npos) {
            marksPerPoll.push_back(added.size());
        }
    }
    road.Ticks(2);
    EXPECT_EQ(road.view.log, std::string(kFpgaStart) +
                                 "\r\nA3P060 KR FPGA detected"
                                 "\r\nErasing FPGA..."
                                 "######"
                                 "\r\nFPGA Erased\r\n"
                                 "\r\nZELK in fpga programming mode"
                                 "\r\nA3P060 KR FPGA detected"
                                 "\r\nProgramming FPGA..."
                                 "######"
                                 "\r\nVerifying FPGA...\r\n"
                                 "\r\nFPGA Done\r\n"
                                 "\r\nZELK in fpga programming mode");
    // The marks came over several polls, each poll bringing what was new.
    EXPECT_GE(marksPerPoll.size(), 2U);
    EXPECT_FALSE(road.view.Checked(Control::CheckProgramFPGA));
    EXPECT_EQ(road.State().error_occurred, 0);

    const std::vector<std::vector<std::string>> stapl = road.PlayerArguments();
    const std::vector<std::vector<std::string>> expected = {
        {"-v", "-u", "-r", "-aDEVICE_INFO", "images/kr.stp"},
        {"-v", "-u1", "-r", "-aERASE", "images/kr.stp"},
        {"-v", "-u", "-r", "-aDEVICE_INFO", "images/kr.stp"},
        {"-v", "-u1", "-aPROGRAM", "images/kr.stp"},
    };
    EXPECT_EQ(stapl, expected);
    // The programmer firmware went in first, through the shell, in the Tools folder.
    const auto starts = road.tools.Starts();
    EXPECT_EQ(starts[1].program, PackageFiles::kDfuUtil);
    EXPECT_EQ(starts[1].arguments,
              (std::vector<std::string>{"-R", "-t", "2048", "-D", "FpgaProgrammer.ebn"}));
    EXPECT_EQ(starts[1].workingDirectory, Files::Join(road.pkg.Root(), "Tools"));
    EXPECT_EQ(starts[1].mode, StartMode::Shell);
}

TEST(FpgaRun, BlankFpgaSlowlyAndTheVariantPicksTheImage) {
    FpgaRoad road;
    road.box.SetFpgaIdcode(0x1A9521CF);  // A3PN060, version field and bit 27 set
    road.box.SetFpgaChecksum(0xFFFF);
    road.tools.Settings().staplMissedIdcodes = 1;
    road.Start();
    road.State().fpga_usb_quick = 0;
    ASSERT_TRUE(road.TickUntil("FPGA Done"));
    EXPECT_NE(road.view.log.find(std::string(kFpgaStart) + "\r\nA3PN060 FPGA detected"
                                                           "\r\nProgramming FPGA (Slowly)...####"
                                                           "\r\nVerifying FPGA...\r\n"
                                                           "\r\nFPGA Done\r\n"),
              std::string::npos)
        << road.view.log;
    const std::vector<std::vector<std::string>> stapl = road.PlayerArguments();
    // The IDCODE came in the second identification pass; no third was made.
    ASSERT_EQ(stapl.size(), 3U);
    EXPECT_EQ(stapl[2], (std::vector<std::string>{"-v", "-u0", "-aPROGRAM", "images/n.stp"}));
}

TEST(FpgaRun, FailuresAndTheirTexts) {
    // No IDCODE in three passes: nothing starts.
    FpgaRoad none;
    none.tools.Settings().stapl = ZELKSim::StaplBehaviour::NoIdcode;
    none.Start();
    ASSERT_TRUE(none.TickUntil("No FPGA detected"));
    EXPECT_EQ(none.view.log, std::string(kFpgaStart) + "\r\nNo FPGA detected");
    EXPECT_EQ(none.State().currently_programming_fpga, 0);

    // An IDCODE that is no number sets the error state and the next pass is made.
    FpgaRoad garbage;
    garbage.tools.Settings().stapl = ZELKSim::StaplBehaviour::GarbageIdcode;
    garbage.Start();
    ASSERT_TRUE(garbage.TickUntil("No FPGA detected"));
    EXPECT_EQ(garbage.view.log, std::string(kFpgaStart) +
                                    "\r\nError Getting FPGA IDCODE"
                                    "\r\nError Getting FPGA IDCODE"
                                    "\r\nError Getting FPGA IDCODE"
                                    "\r\nNo FPGA detected");
    EXPECT_EQ(garbage.State().error_occurred, 1);

    // A run that fails shows its exit line; a later run that prints none shows none.
    FpgaRoad failing;
    failing.box.SetFpgaChecksum(0);
    failing.tools.Settings().stapl = ZELKSim::StaplBehaviour::Fails;
    failing.Start();
    ASSERT_TRUE(failing.TickUntil("Error Programming FPGA"));
    EXPECT_NE(failing.view.log.find("\r\nProgramming FPGA...####\r\n\r\nError Programming "
                                    "FPGAExit code = 10... Failure\r\n"),
              std::string::npos)
        << failing.view.log;
    EXPECT_EQ(failing.State().error_occurred, 1);
    EXPECT_FALSE(failing.view.Checked(Control::CheckProgramFPGA));
    const std::size_t before = failing.view.log.size();
    failing.tools.Settings().stapl = ZELKSim::StaplBehaviour::FailsSilently;
    failing.State().error_occurred = 0;
    failing.view.SetChecked(Control::CheckProgramFPGA, true);
    for (int i = 0;
         i < 20 && failing.view.log.find("Error Programming FPGA", before) == std::string::npos;
         ++i) {
        failing.Tick();
    }
    EXPECT_EQ(failing.view.log.substr(before),
              "\r\nZELK in fpga programming mode"
              "\r\nA3P060 KR FPGA detected"
              "\r\nProgramming FPGA...####"
              "\r\n"
              "\r\nError Programming FPGA");
}

TEST(FpgaRun, EndlessProgressComesPollByPollInBoundedPiecesWithEveryMark) {
    FpgaRoad road;
    constexpr std::size_t kLines = 200000;
    std::string progress;
    for (std::size_t i = 0; i < kLines; ++i) {
        progress += "Action PROGRAM: PERCENT_DONE = 50\n";
    }
    road.tools.Settings().ownIdentification = {
        "Export: key = \"IDCODE\", value = HEX 029121CF\nCHECKSUM: FFFF\n"};
    road.tools.Settings().ownOutput = {progress,
                                       "Verifying FPGA Array -- pass\nExit code = 0... Success\n"};
    road.Start();
    road.box.Plug(ZELKSim::BoxMode::FpgaProgrammer);
    road.view.SetChecked(Control::CheckProgramFPGA, true);
    const std::size_t& growth = road.WatchLogGrowth();
    {
        const Testing::Watchdog watchdog("a player printing 200000 progress lines");
        ASSERT_TRUE(road.TickUntil("FPGA Done", 20));
    }
    EXPECT_LE(growth, FpgaRun::kMaxPendingProgress + 64);
    EXPECT_NE(road.view.log.find("\r\nProgramming FPGA..." + std::string(kLines, '#') +
                                 "\r\nFPGA Done\r\n"),
              std::string::npos);
    EXPECT_EQ(road.State().error_occurred, 0);
}

TEST(FpgaRun, PlayerThatCannotStart) {
    FpgaRoad road;
    road.tools.Settings().unstartable = {PackageFiles::kStaplPlayer};
    road.Start();
    ASSERT_TRUE(road.TickUntil("Error with upgrade package"));
    EXPECT_EQ(road.view.log,
              std::string(kFpgaStart) + "\r\nError with upgrade package. Please contact Orvanta");
    EXPECT_EQ(road.State().error_occurred, 1);
}

}  // namespace
}  // namespace ZELKUtil
