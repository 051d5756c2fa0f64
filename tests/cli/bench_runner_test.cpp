// The bench runner over the emulator: several boxes on their ports, each upgraded in a run of its
// own at the same time, in real time run fast (the runs are threads, which virtual time cannot
// serve). What the program prints is parsed back with the JSON library, field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "bench_runs/bench_world.h"
#include "cli/progress_board.h"
#include "cli/q750_package.h"
#include "package/package_files.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

using ZELKSim::BoxMode;

// Tool steps and box restarts as the emulator has them, and every wait of the controller, run 50
// times faster than the wall clock.
constexpr int kSpeed = 50;

struct PackageFolder {
    Testing::TempPackage pkg;
};

// Boxes of the package's variant at 2.01 on the ports, and what the runner printed.
struct Bench : PackageFolder, ZELKSim::BenchWorld {
    explicit Bench(const std::vector<std::string>& ports, bool dfuUtil = true)
        : BenchWorld(WriteQ750ArmPackage(pkg, dfuUtil), kSpeed) {
        for (const std::string& port : ports) {
            AddBox(port, {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
        }
    }

    int Run(Options options) {
        if (options.history.empty()) {
            options.history = pkg.Path("history.jsonl");
        }
        return BenchWorld::Run(std::move(options));
    }

    // The JSON events for the port, of the kind.
    std::vector<nlohmann::json> Events(const std::string& port, const std::string& kind) const {
        std::vector<nlohmann::json> found;
        for (const std::string& line : out) {
            const nlohmann::json event = nlohmann::json::parse(line);
            if (event.value("port", "") == port && event.at("event") == kind) {
                found.push_back(event);
            }
        }
        return found;
    }
    std::string Result(const std::string& port) const {
        const auto results = Events(port, "result");
        return results.size() == 1 ? results[0].at("text").get<std::string>() : "";
    }
};

Options Upgrade(std::vector<std::string> ports) {
    Options options;
    options.command = Command::Upgrade;
    options.json = true;
    options.all = ports.empty();
    options.ports = std::move(ports);
    return options;
}

TEST(BenchRunner, BoxesAtOnceOneFailingEachWithItsOwnResultAndHistory) {
    Bench bench({"1-1", "1-2", "1-3"});
    // The third box is a variant the package does not know. The first two are in their
    // bootloaders at the same time: only dfu-util's -p tells them apart.
    bench.boxes[2].SetIdentity({0x14E3, 0x0706, L"ZELK Other"});
    EXPECT_EQ(bench.Run(Upgrade({})), kExitBoxFailed);
    EXPECT_EQ(bench.Result("1-1"), "upgraded");
    EXPECT_EQ(bench.Result("1-2"), "upgraded");
    EXPECT_EQ(bench.Result("1-3"), "failed");
    EXPECT_EQ(bench.boxes[0].FirmwareVersion(), "2.04");
    EXPECT_EQ(bench.boxes[1].FirmwareVersion(), "2.04");
    EXPECT_EQ(bench.boxes[2].FirmwareVersion(), "2.01");
    // Who each box is comes first: a line-control program knows the box before its road.
    for (const char* port : {"1-1", "1-2", "1-3"}) {
        const auto first = std::find_if(bench.out.begin(), bench.out.end(), [port](auto& line) {
            return nlohmann::json::parse(line).value("port", "") == port;
        });
        ASSERT_NE(first, bench.out.end()) << port;
        EXPECT_EQ(nlohmann::json::parse(*first).at("event"), "found") << port;
    }
    EXPECT_EQ(bench.Events("1-3", "found").at(0).at("verdict"), "wrong package");
    // The run's summary comes last: every box, by port, with its result and why.
    const nlohmann::json summary = nlohmann::json::parse(bench.out.back());
    EXPECT_EQ(summary.at("event"), "summary");
    ASSERT_EQ(summary.at("boxes").size(), 3U);
    EXPECT_EQ(summary.at("boxes")[0].at("port"), "1-1");
    EXPECT_EQ(summary.at("boxes")[0].at("version_after"), "2.04");
    EXPECT_EQ(summary.at("boxes")[2].at("result"), "failed");
    EXPECT_EQ(summary.at("boxes")[2].at("reason"), "the box names no profile of the package");
    EXPECT_FALSE(summary.at("boxes")[2].contains("log"));
    // Every line of the window's log, for its own box only.
    const auto logs = bench.Events("1-1", "log");
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.front().at("text"), "Q750 Version:      2.01");
    EXPECT_EQ(logs.back().at("text"), "Upgrade Complete");
    const auto progress = bench.Events("1-1", "progress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().at("percent"), 100);
    EXPECT_EQ(bench.Events("1-3", "log").back().at("text"),
              "Wrong upgrade package. Please contact Orvanta");
    // Why each box was counted down and written into, and why the third was not: the ledger's
    // decisions.
    std::vector<std::string> works;
    for (const auto& decision : bench.Events("1-1", "decision")) {
        works.push_back(decision.value("work", "hold"));
    }
    EXPECT_EQ(works, (std::vector<std::string>{"count down", "ARM download", "hold"}));
    const auto refused = bench.Events("1-3", "decision");
    ASSERT_EQ(refused.size(), 1U);
    EXPECT_EQ(refused[0].at("runs"), false);
    EXPECT_EQ(refused[0].at("reason"), "the box names no profile of the package");
    const auto records = HistoryFile(bench.pkg.Path("history.jsonl")).ReadAll();
    ASSERT_TRUE(records);
    ASSERT_EQ(records.value().records.size(), 3U);
    for (const HistoryRecord& record : records.value().records) {
        const bool good = record.port != "1-3";
        EXPECT_EQ(record.host, "bench-host");
        EXPECT_EQ(record.packageVersion, "2.04");
        EXPECT_EQ(record.versionBefore, "2.01");
        EXPECT_EQ(record.result, good ? "upgraded" : "failed");
        EXPECT_EQ(record.versionAfter, good ? "2.04" : "2.01");
        EXPECT_EQ(record.serial, "000001");
        EXPECT_EQ(record.reason, good ? "" : "the box names no profile of the package");
    }
    // `history --json`: each box once, one record a line, as the file keeps it.
    const std::size_t printed = bench.out.size();
    Options history;
    history.command = Command::History;
    history.json = true;
    EXPECT_EQ(bench.Run(history), kExitOk);
    ASSERT_EQ(bench.out.size(), printed + 3);
    for (std::size_t i = printed; i < bench.out.size(); ++i) {
        const nlohmann::json record = nlohmann::json::parse(bench.out[i]);
        EXPECT_EQ(record.value("result", "") == "failed", record.value("port", "") == "1-3");
    }
}

TEST(BenchRunner, NothingIsTouchedWhenTheHistoryCannotBeWrittenOrNoBoxIsThere) {
    Bench bench({"1-1"});
    bench.pkg.Write("not-a-folder", "x");
    Options options = Upgrade({});
    options.history = bench.pkg.Path("not-a-folder/history.jsonl");
    EXPECT_EQ(bench.Run(options), kExitHistory);
    EXPECT_TRUE(bench.boxes[0].Requests().empty());
    EXPECT_TRUE(bench.Events("1-1", "found").empty());

    Bench empty({});
    EXPECT_EQ(empty.Run(Upgrade({})), kExitNoBox);
    // A named port without its box is "no box", not a failed box, even beside a box upgraded.
    Bench elsewhere({"1-1"});
    EXPECT_EQ(elsewhere.Run(Upgrade({"2-1"})), kExitNoBox);
    EXPECT_TRUE(elsewhere.boxes[0].Requests().empty());
    Bench oneThere({"1-1"});
    EXPECT_EQ(oneThere.Run(Upgrade({"1-1", "2-1"})), kExitNoBox);
    const auto absent = oneThere.Events("2-1", "result");
    ASSERT_EQ(absent.size(), 1U);
    EXPECT_EQ(absent[0].value("reason", ""), "no box on this port");
    const auto upgraded = oneThere.Events("1-1", "result");
    ASSERT_EQ(upgraded.size(), 1U);
    EXPECT_EQ(upgraded[0].value("text", ""), "upgraded");
    EXPECT_EQ(upgraded[0].value("version", ""), "2.04");
    EXPECT_FALSE(upgraded[0].contains("reason"));
}

TEST(BenchRunner, ABoxOnAPortTheSystemDoesNotTellIsUpgradedOnlyAlone) {
    // Nothing confines its run: alone on the bus it is upgraded as the window would.
    Bench alone({""});
    EXPECT_EQ(alone.Run(Upgrade({})), kExitOk);
    EXPECT_EQ(alone.boxes[0].FirmwareVersion(), "2.04");
    // Beside another box (or another such box) its run would see that one too, and could write
    // into it.
    Bench untold({"", ""});
    EXPECT_EQ(untold.Run(Upgrade({})), kExitBoxFailed);
    EXPECT_TRUE(untold.boxes[0].Requests().empty());
    EXPECT_TRUE(untold.boxes[1].Requests().empty());
    Bench bench({"", "1-2"});
    EXPECT_EQ(bench.Run(Upgrade({})), kExitBoxFailed);
    EXPECT_EQ(bench.Result("1-2"), "upgraded");
    const auto refused = bench.Events("", "result");
    ASSERT_EQ(refused.size(), 1U);
    EXPECT_EQ(refused[0].at("text"), "failed");
    EXPECT_EQ(refused[0].at("reason"),
              "the system does not tell the box's USB port: it is upgraded only alone on the bus, "
              "without --watch");
    EXPECT_TRUE(bench.boxes[0].Requests().empty());
    EXPECT_EQ(bench.boxes[0].FirmwareVersion(), "2.01");
    // The other box's look tells of that box alone.
    EXPECT_TRUE(bench.Events("", "found").empty());
    // Listed, but not asked what it holds: the answer could be another box's.
    bench.boxes[1].SetFirmwareVersion("2.01");
    bench.out.clear();
    Options list;
    list.command = Command::List;
    list.json = true;
    bench.Run(list);
    const auto found = bench.Events("", "found");
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].at("verdict"), "unknown");
    EXPECT_FALSE(found[0].contains("version"));
    EXPECT_TRUE(bench.boxes[0].Requests().empty());
}

TEST(BenchRunner, ABoxAnotherProcessHoldsIsLeftAloneWithoutARecord) {
    Bench bench({"1-1", "1-2"});
    bench.claimPort = [](const std::string& port, std::string* /*why*/) {
        return port == "1-2" ? nullptr : std::make_unique<PortClaim>();
    };
    EXPECT_EQ(bench.Run(Upgrade({})), kExitBoxFailed) << "not every box asked for is upgraded";
    EXPECT_EQ(bench.Result("1-1"), "upgraded");
    EXPECT_TRUE(bench.Events("1-2", "result").empty());
    EXPECT_TRUE(bench.boxes[1].Requests().empty());
    EXPECT_EQ(bench.err,
              std::vector<std::string>{
                  "1-2: left alone: another zelk-cli is upgrading the box on this port"});
    const auto read = HistoryFile(bench.pkg.Path("history.jsonl")).ReadAll();
    ASSERT_TRUE(read);
    ASSERT_EQ(read.value().records.size(), 1U);
    EXPECT_EQ(read.value().records[0].port, "1-1");
}

// What a tool writes to its error stream belongs to the box it worked on: under its port in the
// stream and in its record, never raw on the program's own error stream. A box pulled as its
// download starts, which its tool then cannot find, was interrupted, not failed by its package.
TEST(BenchRunner, ToolsErrorLinesGoToTheirBoxAndItsRecord) {
    for (const bool midTransfer : {false, true}) {
        Bench bench({"1-1", "1-2"});
        int marks = 0;
        bench.onLine = [&bench, &marks, midTransfer](const std::string& line) {
            const nlohmann::json event = nlohmann::json::parse(line);
            if (event.value("port", "") != "1-2") {
                return;
            }
            const bool downloading = event.value("text", "") == "downloading";
            marks += marks > 0 || downloading ? 1 : 0;
            if (midTransfer ? marks == 3 : downloading) {
                bench.boxes[1].Unplug();
            }
        };
        EXPECT_EQ(bench.Run(Upgrade({})), kExitBoxFailed);
        EXPECT_EQ(bench.Result("1-2"), "interrupted");
        const std::string said = midTransfer ? "dfu-util: Error during download get_status"
                                             : "dfu-util: No DFU capable USB device found";
        const auto tools = bench.Events("1-2", "tool");
        ASSERT_FALSE(tools.empty()) << midTransfer;
        EXPECT_EQ(tools[0].at("tool"), "dfu-util");
        EXPECT_EQ(tools[0].at("text"), said);
        EXPECT_TRUE(bench.Events("1-1", "tool").empty());
        EXPECT_TRUE(bench.err.empty());
        const auto read = HistoryFile(bench.pkg.Path("history.jsonl")).ReadAll();
        ASSERT_TRUE(read);
        const auto& records = read.value().records;
        const auto pulled = std::find_if(records.rbegin(), records.rend(),
                                         [](const HistoryRecord& r) { return r.port == "1-2"; });
        ASSERT_NE(pulled, records.rend());
        EXPECT_NE(pulled->log.find("[dfu-util] " + said), std::string::npos);
    }
}

// A box that waits in its bootloader for a driver the installer never gives it holds for a
// minute of polls: the hold is told once, and the run ends at its limit, saying so.
TEST(BenchRunner, AHoldIsToldOnceNotAtEveryPoll) {
    Bench bench({"1-1"});
    bench.tools.installerInstalls = false;
    bench.boxes[0].SetDriverState(1);
    Options options = Upgrade({});
    options.timeoutMinutes = 1;
    EXPECT_EQ(bench.Run(options), kExitBoxFailed);
    std::map<std::string, int> holds;
    for (const auto& decision : bench.Events("1-1", "decision")) {
        if (!decision.at("runs").get<bool>()) {
            ++holds[decision.at("reason").get<std::string>()];
        }
    }
    ASSERT_EQ(holds.size(), 1U);
    EXPECT_EQ(holds.begin()->first,
              "its bootloader's driver is not the one the download tool needs");
    EXPECT_EQ(holds.begin()->second, 1);
    const auto result = bench.Events("1-1", "result");
    ASSERT_EQ(result.size(), 1U);
    EXPECT_EQ(result[0].at("reason"), "the run took longer than its limit of 1 min");
}

TEST(BenchRunner, AWatchLooksAtTheBusThroughOneSetOfBackends) {
    Bench bench({"1-1"});
    Options watch = Upgrade({});
    watch.watch = true;
    bench.onLine = [&bench](const std::string& line) {
        if (nlohmann::json::parse(line).at("event") == "result") {
            bench.stopping = true;
        }
    };
    EXPECT_EQ(bench.Run(watch), kExitOk);
    EXPECT_EQ(bench.Result("1-1"), "upgraded");
    // The look every period keeps its backends, and with them what they read while nothing
    // changed; the box's run has its own.
    EXPECT_EQ(bench.platformsMade.load(), 2);
}

TEST(BenchRunner, CheckAndListTellWhichBoxesNeedTheUpgrade) {
    Bench bench({"1-1", "1-2"});
    bench.boxes[0].SetFirmwareVersion("2.04");
    bench.boxes[1].Plug(BoxMode::Bootloader);
    Options check;
    check.command = Command::Check;
    check.json = true;
    EXPECT_EQ(bench.Run(check), kExitUpgradeDue);
    const auto normal = bench.Events("1-1", "found");
    ASSERT_EQ(normal.size(), 1U);
    EXPECT_EQ(normal[0].at("mode"), "normal");
    EXPECT_EQ(normal[0].at("model"), "Q750");
    EXPECT_EQ(normal[0].at("version"), "2.04");
    EXPECT_EQ(normal[0].at("up_to_date"), true);
    EXPECT_EQ(normal[0].at("verdict"), "up to date");
    EXPECT_EQ(bench.Events("1-2", "found").at(0).at("mode"), "bootloader");
    EXPECT_EQ(bench.Events("1-2", "found").at(0).at("verdict"), "unknown");
    bench.boxes[1].Plug(BoxMode::Normal);
    bench.boxes[1].SetFirmwareVersion("2.04");
    bench.out.clear();
    EXPECT_EQ(bench.Run(check), kExitOk);
    // The dry run gives the upgrade's own verdict: a box the package has no profile for cannot
    // take it, whatever its version, and says so in its exit code; one without a version is
    // unknown, and due.
    bench.boxes[1].SetIdentity({0x14E3, 0x0706, L"ZELK Other"});
    bench.out.clear();
    EXPECT_EQ(bench.Run(check), kExitWrongPackage);
    EXPECT_EQ(bench.Events("1-2", "found").at(0).at("verdict"), "wrong package");
    bench.boxes[1].SetIdentity({0x14E3, 0x0706, L"ZELK Q750"});
    bench.boxes[1].SetFirmwareVersion("");
    bench.out.clear();
    EXPECT_EQ(bench.Run(check), kExitUpgradeDue);
    EXPECT_EQ(bench.Events("1-2", "found").at(0).at("verdict"), "unknown");
}

// Outside a package folder list shows the bus as it is, without a verdict; a package that was
// named and cannot be used is an error that names its folder in full and says how to name one.
TEST(BenchRunner, ListWithoutAPackageAndTheBoxesNamed) {
    Testing::TempPackage scratch;
    ZELKSim::BenchWorld bus(scratch.Path("no-package"), kSpeed);
    bus.AddBox("1-1", {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
    bus.AddBox("1-2", {0x14E3, 0x0706, L"ZELK Q751"}, "2.03");
    bus.boxes[1].SetSerial("000777");
    bus.AddBox("1-3", {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
    bus.boxes[2].Plug(BoxMode::Bootloader);
    Options list;
    list.json = true;
    EXPECT_EQ(bus.Run(list), kExitOk);
    ASSERT_EQ(bus.out.size(), 4U) << "three boxes and the summary";
    const nlohmann::json q751 = nlohmann::json::parse(bus.out[1]);
    EXPECT_EQ(q751.at("product"), "ZELK Q751");
    EXPECT_EQ(q751.at("version"), "2.03");
    EXPECT_EQ(q751.at("serial"), "000777");
    for (const char* absent : {"verdict", "model", "up_to_date"}) {
        EXPECT_FALSE(q751.contains(absent)) << absent;
    }
    EXPECT_EQ(nlohmann::json::parse(bus.out[2]).at("mode"), "bootloader");
    // By serial and by port, the union; a serial is told only in normal mode.
    list.serials = {"000777"};
    list.ports = {"1-3"};
    bus.out.clear();
    EXPECT_EQ(bus.Run(list), kExitOk);
    ASSERT_EQ(bus.out.size(), 3U) << "two boxes and the summary";
    EXPECT_EQ(nlohmann::json::parse(bus.out[0]).at("port"), "1-2");
    list.ports.clear();
    list.serials = {"999999"};
    EXPECT_EQ(bus.Run(list), kExitNoBox);
    // Named, the folder must be a package; check always needs one.
    list.serials.clear();
    list.packageGiven = true;
    EXPECT_EQ(bus.Run(list), kExitPackage);
    Options check;
    check.command = Command::Check;
    EXPECT_EQ(bus.Run(check), kExitPackage);
    // The folder in full, in the system's own separators.
    const std::string said = bus.err.back();
    EXPECT_TRUE(said.starts_with("The package in " + scratch.Root())) << said;
    EXPECT_TRUE(
        said.ends_with("no-package cannot be used: it does not exist. Name the package's "
                       "folder with --package DIR."))
        << said;
}

// -q: how each box ended, and nothing of its road.
TEST(BenchRunner, QuietTellsOnlyTheResults) {
    Bench bench({"1-1", "1-2"});
    Options options = Upgrade({});
    options.json = false;
    options.quiet = true;
    EXPECT_EQ(bench.Run(options), kExitOk);
    std::vector<std::string> results(bench.out.begin(), bench.out.begin() + 2);
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::vector<std::string>{"1-1: upgraded to 2.04, ARM: unplug the box",
                                                 "1-2: upgraded to 2.04, ARM: unplug the box"}));
    // Then the table: its header and a row a box.
    ASSERT_EQ(bench.out.size(), 3U);
    EXPECT_TRUE(bench.out[2].starts_with("time ")) << bench.out[2];
    EXPECT_EQ(std::count(bench.out[2].begin(), bench.out[2].end(), '\n'), 2);
}

// Two boxes of a package with ARM and FPGA images: their ARM downloads go side by side
// (dfu-util is told each port), but one box at a time is the FPGA programmer, since the STAPL
// player takes whichever programmer it finds and a box stays the programmer until it is
// unplugged. The turn passes on when the operator unplugs the box that has it, upgraded or in
// the middle of its FPGA.
TEST(BenchRunner, TwoImageBoxesShareTheBenchButNotTheProgrammer) {
    for (const bool midFpga : {false, true}) {
        Testing::TempPackage pkg;
        ZELKSim::PackageContents package;
        package.version = "2.04";
        package.details = R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")"
                          R"( name="ZELK Q750" LPC3131="q750.bin" A3P060="kr.stp" A3PN060=""/>)";
        package.files = {"q750.bin", "kr.stp"};
        package.tools = {PackageFiles::kDfuUtil, PackageFiles::kStaplPlayer};
        ASSERT_TRUE(ZELKSim::WritePackage(pkg.Root(), package));
        ZELKSim::BenchWorld bench(pkg.Root(), kSpeed);
        for (const char* port : {"1-1", "1-2"}) {
            ZELKSim::EmulatedBox& box = bench.AddBox(port, {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
            box.SetFpgaIdcode(0x029121CF);
            box.SetFpgaChecksum(0xFFFF);
        }
        std::vector<std::string> states;
        std::size_t mostProgrammers = 0;
        // The box that is the programmer first (the first whose ARM is back: either).
        std::string first;
        bench.onLine = [&](const std::string& line) {
            const nlohmann::json event = nlohmann::json::parse(line);
            const std::string port = event.value("port", "");
            const std::string text = event.value("text", "");
            if (event.at("event") == "state") {
                states.push_back(port);
                states.back().append(" ").append(text);
                if (first.empty() && text == "FPGA programmer") {
                    first = port;
                }
            }
            const auto programmers = std::count_if(bench.boxes.begin(), bench.boxes.end(),
                                                   [](const ZELKSim::EmulatedBox& box) {
                                                       return box.Mode() == BoxMode::FpgaProgrammer;
                                                   });
            mostProgrammers = std::max(mostProgrammers, static_cast<std::size_t>(programmers));
            // The operator unplugs a box when it is upgraded, or the first in its FPGA run
            // (whose player then loses its chain: failed).
            const bool unplug = midFpga ? port == first && text == "programming the FPGA"
                                        : event.at("event") == "result";
            if (unplug) {
                bench.boxes[port == "1-1" ? 0 : 1].Unplug();
            }
        };
        Options options = Upgrade({});
        options.history = pkg.Path("history.jsonl");
        options.timeoutMinutes = 2;
        EXPECT_EQ(bench.Run(options), midFpga ? kExitBoxFailed : kExitOk);
        const std::string second = first == "1-1" ? "1-2" : "1-1";
        const auto at = [&states](const std::string& state) {
            return std::find(states.begin(), states.end(), state) - states.begin();
        };
        // Both have their ARM download before either is the programmer: neither waited for the
        // other's road.
        EXPECT_LT(at(second + " downloading"), at(first + " FPGA programmer")) << midFpga;
        // The second waits for the programmer, and is the programmer only after the first left.
        EXPECT_LT(at(second + " waiting for another box"), at(second + " FPGA programmer"));
        EXPECT_EQ(mostProgrammers, 1U) << midFpga;
        const std::size_t firstBox = first == "1-1" ? 0 : 1;
        EXPECT_EQ(bench.boxes[1 - firstBox].FpgaChecksum(), bench.tools.programmedChecksum);
        EXPECT_EQ(bench.boxes[firstBox].FpgaChecksum(),
                  midFpga ? 0xFFFF : bench.tools.programmedChecksum);
        std::map<std::string, std::string> results;
        for (const std::string& line : bench.out) {
            const nlohmann::json event = nlohmann::json::parse(line);
            if (event.at("event") == "result") {
                results[event.at("port")] = event.at("text");
            }
        }
        EXPECT_EQ(results[first], midFpga ? "failed" : "upgraded");
        EXPECT_EQ(results[second], "upgraded") << midFpga;
        std::string waits = second;
        waits.append(": waits for ")
            .append(first)
            .append(
                " to finish its FPGA and be unplugged: one box at a time may be the FPGA "
                "programmer, as the STAPL player cannot be told which box to program");
        EXPECT_EQ(bench.err, std::vector<std::string>{waits});
    }
}

TEST(ProgressBoard, RowsRedrawInPlaceBelowTheLinesAndGoWithTheirResult) {
    ProgressBoard board;
    const std::string first = "1-1: [##########          ]  50 %  about 12 s left\n";
    EXPECT_EQ(board.Show(Events::Progress{"1-1", 50, 12}), first);
    const std::string second = "1-2: [                    ]   0 %  bootloader\n";
    EXPECT_EQ(board.Show(Events::State{"1-2", BoxState::InBootloader}),
              "\x1b[1F\x1b[J" + first + second);
    // The window's lines only with -v; the steps are the board's.
    EXPECT_EQ(board.Show(Events::Log{"1-1", "Done.\x1b[2J"}), "");
    EXPECT_EQ(board.Show(Events::Log{"1-1", "Done.\x1b[2J"}, true),
              "\x1b[2F\x1b[J1-1: [window] Done.?[2J\n" + first + second);
    EXPECT_EQ(board.Show(Events::Ended{"1-1", BoxResult::Upgraded, "", "2.04", true}),
              "\x1b[2F\x1b[J1-1: upgraded to 2.04, ARM: unplug the box\n" + second);
    // A row never wraps, so the cursor goes back over exactly the rows drawn.
    const std::string port(70, '1');
    const std::string rows = board.Show(Events::State{port, BoxState::WaitingForInstaller});
    std::istringstream drawn(rows.substr(rows.find('J') + 1));
    std::vector<std::string> lines;
    for (std::string line; std::getline(drawn, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[1], (port + ": [                    ]   0 %  waiting").substr(0, 79));
    EXPECT_EQ(board.Erase(), "\x1b[2F\x1b[J");
    EXPECT_EQ(board.Erase(), "");
}

}  // namespace
}  // namespace ZELKUtil::Cli
