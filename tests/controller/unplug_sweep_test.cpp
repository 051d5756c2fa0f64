// The unplug sweep: an automatic road is played once to learn how long it takes, then again for
// every 100 ms of it with the box unplugged at exactly that moment (inside a poll's wait or a tool
// run as much as between polls) and plugged back a second later, in normal mode or in its
// bootloader. Every run must end, within 120 ticks of the re-plug, in "Upgrade Complete" (or "FPGA
// Done", or the FPGA's error state from which one "Boot" leads to "FPGA Done"); the only other end
// is a box left alone in its bootloader, and only where this run had not sent it there: a box
// unplugged before its bootloader request was never restarted, so a bootloader found on its port
// afterwards is another box to this run. At every moment a box of the other variant is also
// plugged into the port in its bootloader in the box's place: where the box had not been sent to
// its bootloader (or its road had ended), nothing at all is written into that stranger; between
// the request and the box's return a bootloader tells no identity, and it is served as the box.
// The table of how the moments end is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <variant>

#include "controller/operator_texts.h"
#include "package/package_files.h"
#include "support/controller_rig.h"

namespace ZELKUtil {
namespace {

using ZELKSim::BoxMode;
using ZELKSim::ScenarioWorld;

constexpr std::int64_t kStepMs = 100;
constexpr std::int64_t kAbsentMs = 1000;
constexpr int kTicksAfterReplug = 120;
// An outcome other than a failed download is taken as the end once it has held this many ticks.
constexpr int kSettledTicks = 5;
// The images of another variant in the road's package, which no run may write into the box.
constexpr const char* kOtherVariantImages[] = {"other.bin", "other.stp"};

enum class Outcome { Complete, FpgaDone, PackageError, ErrorState, DownloadFailed, LeftAlone };

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Complete:
            return "Upgrade Complete";
        case Outcome::FpgaDone:
            return "FPGA Done";
        case Outcome::PackageError:
            return "package error";
        case Outcome::ErrorState:
            return "error state";
        case Outcome::DownloadFailed:
            return "download failed, box back";
        case Outcome::LeftAlone:
            return "left alone in its bootloader";
    }
    return "?";
}

struct RoadSpec {
    const char* name;
    bool fpga;
    ZELKSim::DfuUtilBehaviour dfuUtil;
};

// One run of the road in a world of its own, over a package folder shared by the runs.
struct RoadRun {
    RoadRun(const std::string& folder, const RoadSpec& kind)
        : road(kind), world(folder, Testing::BoxNamed()) {
        world.box.SetFirmwareVersion("2.01");
        world.box.SetFpgaIdcode(0x029121CF);
        world.box.SetFpgaChecksum(0x1234);
        world.tools.Settings().dfuUtil = road.dfuUtil;
        world.Start();
        world.controller->ListenToRoad([this](const RoadEvent& event) {
            sent = sent || std::holds_alternative<RoadEvents::SentToBootloader>(event);
        });
    }
    // The box leaves at `atMs` and comes back in `mode` a second later (or, `stranger`, a box of
    // the other variant with a serial of its own comes in its bootloader); each is a device
    // change.
    void Unplug(std::int64_t atMs, BoxMode mode, bool stranger = false) {
        world.clock.ScheduleAt(nullptr, atMs, [this] {
            sentAtUnplug = sent;
            world.box.Unplug();
            world.controller->Main_OnDeviceChange();
        });
        world.clock.ScheduleAt(nullptr, atMs + kAbsentMs, [this, mode, stranger] {
            replugLog = world.view.log.size();
            replugStarts = world.tools.Starts().size();
            if (stranger) {
                world.box.SetIdentity({0x14E3, 0x0706, L"ZELK"});
                world.box.SetSerial("900009");
                world.box.SetFirmwareVersion("1.50");
            }
            world.box.Plug(mode);
            world.controller->Main_OnDeviceChange();
        });
    }
    std::optional<Outcome> Now() const {
        const std::string& log = world.view.log;
        const BoxMode mode = world.box.Mode();
        const std::string done = OperatorTexts::kDownloadFailed;
        if (world.controller->State().error_occurred != 0) {
            if (log.find(OperatorTexts::kPackageError) != std::string::npos) {
                return Outcome::PackageError;
            }
            if (world.view.Text(Control::DeviceLabel) == "Error occurred, please restart.") {
                return Outcome::ErrorState;
            }
        } else if (!road.fpga && log.find("Upgrade Complete") != std::string::npos &&
                   world.box.FirmwareVersion() == "2.04" && mode == BoxMode::Normal) {
            return Outcome::Complete;
        } else if (road.fpga && log.find("FPGA Done", replugLog) != std::string::npos &&
                   mode == BoxMode::FpgaProgrammer &&
                   !world.view.Checked(Control::CheckProgramFPGA)) {
            return Outcome::FpgaDone;
        } else if (log.size() >= done.size() &&
                   log.compare(log.size() - done.size(), done.size(), done) == 0 &&
                   mode == BoxMode::Normal) {
            return Outcome::DownloadFailed;
        } else if (mode == BoxMode::Bootloader && world.tools.Starts().size() == replugStarts &&
                   world.view.Text(Control::DeviceLabel) == "ZELK in programming mode") {
            return Outcome::LeftAlone;
        }
        return std::nullopt;
    }
    // Whether the box may be left alone in its bootloader when it comes back: this run never sent
    // it there before it was unplugged, or its road had finished by its return (it answered with
    // the package's version, or its FPGA was done).
    bool MayBeLeftAlone() const {
        const std::string before = world.view.log.substr(0, replugLog);
        return !sentAtUnplug ||
               before.find(road.fpga ? "FPGA Done" : "Version:      2.04") != std::string::npos;
    }
    // Tool starts since the box came back: for a stranger, anything at all written into it.
    std::size_t StartsSinceReplug() const { return world.tools.Starts().size() - replugStarts; }
    // Starts of a tool on the other variant's image: a flash of the wrong variant.
    int OtherVariantWrites() const {
        int writes = 0;
        for (const ZELKSim::ToolStart& start : world.tools.Starts()) {
            for (const std::string& argument : start.arguments) {
                writes += std::count(std::begin(kOtherVariantImages), std::end(kOtherVariantImages),
                                     argument) > 0
                              ? 1
                              : 0;
            }
        }
        return writes;
    }
    // From the FPGA's error state, one "Boot" and the operator's tick of "Program FPGA" (as
    // "Start" gives it), and the road to "FPGA Done": "Boot" alone programs nothing.
    std::optional<Outcome> BootOnce() {
        world.controller->ButtonForce_Click();
        world.view.SetChecked(Control::CheckProgramFPGA, true);
        for (int tick = 0; tick < kTicksAfterReplug && Now() != Outcome::FpgaDone; ++tick) {
            world.Tick();
        }
        return Now();
    }
    // Ticks until the re-plug and then up to 120 ticks; the outcome at the end, if any.
    std::optional<Outcome> Finish(std::int64_t replugMs) {
        while (world.clock.NowMs() <= replugMs) {
            world.Tick();
        }
        std::optional<Outcome> outcome;
        for (int tick = 0, settled = 0; tick < kTicksAfterReplug && settled < kSettledTicks;
             ++tick) {
            world.Tick();
            const std::optional<Outcome> now = Now();
            settled = now && now == outcome && now != Outcome::DownloadFailed ? settled + 1 : 0;
            outcome = now;
        }
        return outcome;
    }

    RoadSpec road;
    ScenarioWorld world;
    // The bootloader request was sent to the box, by then and when it was unplugged.
    bool sent = false;
    bool sentAtUnplug = false;
    std::size_t replugLog = 0;
    std::size_t replugStarts = 0;
};

// The road's package: the box's variant with an ARM image, or with an FPGA image only, and
// another variant after it (so that it is the profile start-up leaves current).
void WriteRoadPackage(const std::string& root, bool fpga) {
    ZELKSim::PackageContents package;
    package.version = "2.04";
    const char* images = fpga ? R"(LPC3131="" A3P060="kr.stp" A3PN060=""/>)"
                              : R"(LPC3131="q750.bin" A3P060="" A3PN060=""/>)";
    const char* otherImages = fpga ? R"(LPC3131="" A3P060="other.stp" A3PN060=""/>)"
                                   : R"(LPC3131="other.bin" A3P060="" A3PN060=""/>)";
    package.details = std::string(R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706")") +
                      R"( id="Q750" name="ZELK Q750" )" + images +
                      R"(<detail profile="ZELK" vid="0x14E3" pid="0x0706" id="ZELK" )" +
                      R"(name="ZELK" )" + otherImages;
    package.files = {"q750.bin", "kr.stp", "other.bin", "other.stp"};
    package.tools = {PackageFiles::kDfuUtil, PackageFiles::kStaplPlayer};
    const auto written = ZELKSim::WritePackage(root, package);
    ASSERT_TRUE(written) << written.error().Text();
}

// The box unplugged at the moment and a stranger of the other variant plugged into its port in its
// bootloader: where the box was not on its way there, nothing is written into the stranger. Returns
// the failures (and reports the first few).
int StrangerGetsNothing(const std::string& folder, const RoadSpec& road, std::int64_t at,
                        std::map<std::string, std::map<std::string, int>>& table,
                        int failuresSoFar) {
    RoadRun run(folder, road);
    run.Unplug(at, BoxMode::Bootloader, true);
    while (run.world.clock.NowMs() <= at + kAbsentMs) {
        run.world.Tick();
    }
    run.world.Ticks(kTicksAfterReplug / 2);
    const bool exempt = run.sentAtUnplug && !run.MayBeLeftAlone();
    const std::size_t starts = run.StartsSinceReplug();
    ++table["a stranger in its bootloader in its place"]
           [exempt        ? "served as the box (between its request and its return)"
            : starts == 0 ? "nothing written"
                          : "WRITTEN INTO"];
    if (exempt || (starts == 0 && run.world.box.FirmwareVersion() == "1.50")) {
        return 0;
    }
    if (failuresSoFar < 3) {
        ADD_FAILURE() << road.name << ": unplugged at " << at << " ms, a stranger in its place got "
                      << starts << " tool starts; log ends \""
                      << run.world.view.log.substr(
                             run.world.view.log.size() > 300 ? run.world.view.log.size() - 300 : 0)
                      << "\"";
    }
    return 1;
}

class UnplugSweep : public ::testing::TestWithParam<RoadSpec> {
  protected:
    void SetUp() override { WriteRoadPackage(pkg_.Root(), GetParam().fpga); }
    Testing::TempPackage pkg_;
};

TEST_P(UnplugSweep, EveryMomentEndsWhereTheOperatorCanAct) {
    const RoadSpec& road = GetParam();
    // The road without an unplug: how long it takes.
    RoadRun whole(pkg_.Root(), road);
    const Outcome end = road.fpga ? Outcome::FpgaDone : Outcome::Complete;
    for (int tick = 0; tick < kTicksAfterReplug && whole.Now() != end; ++tick) {
        whole.world.Tick();
    }
    ASSERT_EQ(whole.Now(), end) << whole.world.view.log;
    const std::int64_t roadMs = whole.world.clock.NowMs();

    std::map<std::string, std::map<std::string, int>> table;
    int moments = 0;
    int failures = 0;
    int wrongVariant = 0;
    for (std::int64_t at = 0; at < roadMs; at += kStepMs) {
        ++moments;
        failures += StrangerGetsNothing(pkg_.Root(), road, at, table, failures);
        for (const BoxMode mode : {BoxMode::Normal, BoxMode::Bootloader}) {
            const char* modeName = mode == BoxMode::Normal ? "normal" : "bootloader";
            RoadRun run(pkg_.Root(), road);
            run.Unplug(at, mode);
            std::optional<Outcome> outcome = run.Finish(at + kAbsentMs);
            std::string row = outcome ? OutcomeName(*outcome) : "NONE";
            if (outcome == Outcome::LeftAlone) {
                row += run.sentAtUnplug
                           ? " (unplugged after its road ended)"
                           : " (unplugged before its bootloader request: another box to this run)";
            }
            ++table[std::string("back in ") + modeName + " mode"][row];
            wrongVariant += run.OtherVariantWrites();
            if (road.fpga && outcome == Outcome::ErrorState) {
                outcome = run.BootOnce();
                ++table[std::string("back in ") + modeName + " mode"]
                       [std::string("after Boot: ") + (outcome ? OutcomeName(*outcome) : "NONE")];
            }
            const bool fine =
                (outcome == end || (outcome == Outcome::LeftAlone && run.MayBeLeftAlone())) &&
                run.OtherVariantWrites() == 0;
            if (!fine && ++failures <= 3) {
                const std::string& log = run.world.view.log;
                ADD_FAILURE() << road.name << ": unplugged at " << at << " ms, back in " << modeName
                              << " mode: " << (outcome ? OutcomeName(*outcome) : "no outcome")
                              << "; label \"" << run.world.view.Text(Control::DeviceLabel)
                              << "\", log ends \""
                              << log.substr(log.size() > 300 ? log.size() - 300 : 0) << "\"";
            }
        }
    }
    std::cout << "unplug sweep, " << road.name << ": " << moments << " moments of " << roadMs
              << " ms, the other variant's image written " << wrongVariant << " times\n";
    for (const auto& [mode, counts] : table) {
        std::cout << "  " << mode << ":";
        for (const auto& [outcome, count] : counts) {
            std::cout << "  " << outcome << " " << count;
        }
        std::cout << '\n';
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Roads, UnplugSweep,
    ::testing::Values(RoadSpec{"ARM road, dfu-util 0.7", false, ZELKSim::DfuUtilBehaviour::Works},
                      RoadSpec{"ARM road, dfu-util 0.11", false,
                               ZELKSim::DfuUtilBehaviour::WorksCurrent},
                      RoadSpec{"FPGA road", true, ZELKSim::DfuUtilBehaviour::Works}),
    [](const ::testing::TestParamInfo<RoadSpec>& road) {
        return std::string(road.param.fpga ? "Fpga" : "Arm") +
               (road.param.dfuUtil == ZELKSim::DfuUtilBehaviour::WorksCurrent ? "CurrentDfuUtil"
                                                                              : "");
    });

// Plays a box that drops off the bus in the middle of every download: each cut download is the
// download-failed line, never the package error or the error state, and the box is downloaded into
// again when it comes back in its bootloader, up to the bound of its own; then one clear line, and
// no more downloads by themselves.
void CheckKeepsLeaving(ScenarioWorld& world) {
    std::size_t seen = 0;
    std::function<void()> watch = [&] {
        const auto starts = world.tools.Starts();
        if (starts.size() > seen && starts.back().program == PackageFiles::kDfuUtil &&
            world.clock.NowMs() >= starts.back().atMs + 1200) {
            seen = starts.size();
            world.box.Unplug();
            world.clock.ScheduleAfter(1000, [&] { world.box.Plug(BoxMode::Bootloader); });
        }
        world.clock.ScheduleAfter(100, watch);
    };
    world.clock.ScheduleAfter(100, watch);
    world.Ticks(150);
    const std::string& log = world.view.log;
    EXPECT_EQ(log.find(OperatorTexts::kPackageError), std::string::npos) << log;
    EXPECT_EQ(world.controller->State().error_occurred, 0);
    std::size_t downloads = 0;
    for (const auto& start : world.tools.Starts()) {
        downloads += start.program == PackageFiles::kDfuUtil ? 1 : 0;
    }
    EXPECT_EQ(downloads, static_cast<std::size_t>(BoxLedger::kMaxInterruptedDownloads));
    const std::string keepsLeaving = OperatorTexts::kBoxKeepsLeaving;
    ASSERT_NE(log.find(keepsLeaving), std::string::npos) << log;
    EXPECT_EQ(log.find(keepsLeaving), log.rfind(keepsLeaving));
}

TEST(UnplugRepeated, ABoxThatKeepsLeavingItsDownloadsGetsALineNotEndlessDownloads) {
    for (const auto dfuUtil :
         {ZELKSim::DfuUtilBehaviour::Works, ZELKSim::DfuUtilBehaviour::WorksCurrent}) {
        SCOPED_TRACE(dfuUtil == ZELKSim::DfuUtilBehaviour::Works ? "dfu-util 0.7"
                                                                 : "dfu-util 0.11");
        Testing::TempPackage pkg;
        WriteRoadPackage(pkg.Root(), false);
        RoadRun run(pkg.Root(), RoadSpec{"ARM road", false, dfuUtil});
        CheckKeepsLeaving(run.world);
    }
}

}  // namespace
}  // namespace ZELKUtil
