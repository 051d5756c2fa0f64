// A station that never strands a box: a run that dies at any step of a box's road (a crash, a
// power cut of the PC) leaves the box where it was and the history as it was on the disk; the next
// run on the same history finishes the box from the record, and closes the record it took up.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench_runs/bench_world.h"
#include "cli/history.h"
#include "package/package_files.h"
#include "platform/files.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

using ZELKSim::BoxMode;

constexpr int kSpeed = 50;
const ZELKSim::BoxIdentity kQ750{0x14E3, 0x0706, L"ZELK Q750"};
constexpr std::uint32_t kA3p060Idcode = 0x029121CF;

enum class Road { Arm, Fpga, Both };

// A package with a second variant beside the box's: nothing of Q751 may reach a Q750.
std::string WritePackage(const Testing::TempPackage& pkg, Road road) {
    const char* images = road == Road::Arm ? R"(LPC3131="q750.bin" A3P060="" A3PN060=""/>)"
                         : road == Road::Fpga
                             ? R"(LPC3131="" A3P060="q750.stp" A3PN060=""/>)"
                             : R"(LPC3131="q750.bin" A3P060="q750.stp" A3PN060=""/>)";
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details =
        std::string(R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")") +
        R"( name="ZELK Q750" )" + images +
        R"(<detail profile="ZELK Q751" vid="0x14E3" pid="0x0707" id="Q751" name="ZELK Q751")"
        R"( LPC3131="q751.bin" A3P060="q751.stp" A3PN060=""/>)";
    package.files = {"q750.bin", "q750.stp", "q751.bin", "q751.stp"};
    package.tools = {PackageFiles::kDfuUtil, PackageFiles::kStaplPlayer};
    EXPECT_TRUE(ZELKSim::WritePackage(pkg.Root(), package));
    return pkg.Root();
}

Options UpgradeAll(const std::string& history) {
    Options options;
    options.command = Command::Upgrade;
    options.json = true;
    options.all = true;
    options.history = history;
    return options;
}

// The steps of a road as zelk-cli tells them: every event but the progress and the log.
bool IsStep(const std::string& line) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    const std::string kind = event.is_object() ? event.value("event", "") : "";
    return kind != "progress" && kind != "log" && kind != "tool" && !kind.empty();
}

// What the run said of its steps, and on its error stream.
std::string Said(const ZELKSim::BenchWorld& world) {
    std::string said;
    for (const std::string& line : world.out) {
        said += IsStep(line) ? line + "\n" : "";
    }
    for (const std::string& line : world.err) {
        said += line + "\n";
    }
    for (const std::string& line : world.out) {
        said += line.find(R"("event":"log")") != std::string::npos ? line + "\n" : "";
    }
    return said;
}

// What a crash leaves: the box as it was (or as it comes back from the restart it was in), and
// the history as it was on the disk.
struct Crash {
    BoxMode mode = BoxMode::Absent;
    std::string version;
    bool happened = false;
    // The step was the road's end: nothing is left for a next run.
    bool atTheEnd = false;
};

// Runs the first run to its `step`th step and ends it there as a crash would.
Crash CrashAtStep(const std::string& package, int step, const std::string& history,
                  const std::string& leftHistory) {
    ZELKSim::BenchWorld first(package, kSpeed);
    ZELKSim::EmulatedBox& box = first.AddBox("1-1", kQ750, "2.01");
    box.SetSerial("100001");
    box.SetFpgaIdcode(kA3p060Idcode);
    Crash crash;
    int steps = 0;
    first.onLine = [&](const std::string& line) {
        if (crash.happened || !IsStep(line) || ++steps < step) {
            return;
        }
        // The box first, then the disk: whatever the box shows, its record was written before.
        crash.mode = box.Arriving();
        crash.version = box.FirmwareVersion();
        std::filesystem::copy_file(history, leftHistory,
                                   std::filesystem::copy_options::overwrite_existing);
        crash.happened = true;
        crash.atTheEnd = line.find(R"("event":"result")") != std::string::npos;
        // This world goes on by itself, apart from the next run's: it is only let end quickly.
        first.stopping = true;
    };
    (void)first.Run(UpgradeAll(history));
    return crash;
}

class CrashSweep : public testing::TestWithParam<Road> {};

TEST_P(CrashSweep, ACrashAtEveryStepIsFinishedByTheNextRunFromTheRecord) {
    const Testing::TempPackage pkg;
    const std::string package = WritePackage(pkg, GetParam());
    bool pastTheEnd = false;
    for (int step = 1; !pastTheEnd; ++step) {
        const std::string history = pkg.Path("first-" + std::to_string(step) + ".jsonl");
        const std::string left = pkg.Path("left-" + std::to_string(step) + ".jsonl");
        const Crash crash = CrashAtStep(package, step, history, left);
        pastTheEnd = !crash.happened || crash.atTheEnd;
        if (pastTheEnd) {
            continue;
        }
        SCOPED_TRACE("crash at step " + std::to_string(step) + ", box " +
                     ZELKSim::ModeText(crash.mode));
        ZELKSim::BenchWorld next(package, kSpeed);
        ZELKSim::EmulatedBox& box = next.AddBox("1-1", kQ750, crash.version);
        box.SetSerial("100001");
        box.SetFpgaIdcode(kA3p060Idcode);
        box.Plug(crash.mode == BoxMode::Absent ? BoxMode::Normal : crash.mode);
        const int code = next.Run(UpgradeAll(left));
        EXPECT_EQ(code, kExitOk) << Said(next);
        EXPECT_EQ(box.FirmwareVersion(), GetParam() == Road::Fpga ? crash.version : "2.04");
        if (GetParam() != Road::Arm) {
            EXPECT_EQ(box.FpgaChecksum(), next.tools.programmedChecksum);
        }
        const auto read = HistoryFile(left).ReadAll();
        ASSERT_TRUE(read);
        EXPECT_EQ(read.value().unreadable, 0U);
        for (const HistoryRecord& record : read.value().records) {
            // One closed record per road: nothing is left unfinished, and only the box's model.
            EXPECT_NE(record.result, kUnfinished) << record.id;
            EXPECT_EQ(record.model, "Q750") << record.id;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, CrashSweep, testing::Values(Road::Arm, Road::Fpga, Road::Both),
                         [](const testing::TestParamInfo<Road>& road) {
                             return road.param == Road::Arm    ? "Arm"
                                    : road.param == Road::Fpga ? "Fpga"
                                                               : "Both";
                         });

// The Windows console's close ends the process seconds later, whatever it does: meanwhile each
// box under way has its record note where it was, still unfinished, for the next run.
TEST(Resume, TheConsolesCloseNotesWhereEachBoxUnderWayWas) {
    const Testing::TempPackage pkg;
    ZELKSim::BenchWorld world(WritePackage(pkg, Road::Arm), kSpeed);
    world.AddBox("1-1", kQ750, "2.01").SetSerial("100001");
    std::atomic<bool> downloading{false};
    std::atomic<bool> over{false};
    world.onLine = [&downloading](const std::string& line) {
        downloading = downloading || line.find(R"("text":"downloading")") != std::string::npos;
    };
    // As the console's handler does, on a thread of its own.
    std::thread closing([&world, &downloading, &over] {
        while (!downloading && !over) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (ZELKUtil::Cli::BenchRunner* runner = world.running.load(); runner != nullptr) {
            runner->NoteUnderway("the console was closed");
        }
    });
    const std::string history = pkg.Path("history.jsonl");
    (void)world.Run(UpgradeAll(history));
    over = true;
    closing.join();
    const auto text = Files::ReadHead(history, 1 << 20);
    ASSERT_TRUE(text);
    const std::string noted =
        R"("result":"unfinished","reason":"the console was closed while it was downloading")";
    EXPECT_NE(text.value().find(noted), std::string::npos) << text.value();
    EXPECT_NE(text.value().find(R"("stage":"sent to its bootloader")"), std::string::npos);
}

}  // namespace
}  // namespace ZELKUtil::Cli
