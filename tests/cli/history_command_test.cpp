// What the history keeps for an audit (each image's SHA-256, the station, the operator, the
// program's version, the run's closing record), and `zelk-cli history` over one station's file
// or several, on the emulator's bench.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "bench_runs/bench_world.h"
#include "package/package_files.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

constexpr int kSpeed = 50;
constexpr std::uint32_t kA3p060Idcode = 0x029121CF;
const std::string kProgrammer =
    Files::Join(PackageFiles::kToolsFolder, PackageFiles::kFpgaProgrammerImage);

// A package whose Q750 profile writes its ARM firmware and its FPGA.
std::string WriteArmAndFpgaPackage(const Testing::TempPackage& pkg) {
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details = R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")"
                      R"( name="ZELK Q750" LPC3131="q750.bin" A3P060="q750.stp" A3PN060=""/>)";
    package.files = {"q750.bin", "q750.stp", kProgrammer};
    package.tools = {PackageFiles::kDfuUtil, PackageFiles::kStaplPlayer};
    EXPECT_TRUE(ZELKSim::WritePackage(pkg.Root(), package));
    return pkg.Root();
}

std::vector<nlohmann::json> Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

std::string DigestOf(const std::string& path) {
    const Result<std::string> bytes = Files::ReadHead(path, 1 << 20);
    return bytes ? Sha256Hex(bytes.value()) : "unreadable";
}

TEST(HistoryAudit, BoxRecordsNameEachImagesDigestTheStationAndTheRunCloses) {
    const Testing::TempPackage pkg;
    ZELKSim::BenchWorld world(WriteArmAndFpgaPackage(pkg), kSpeed);
    // One box: a second would wait for this one to be unplugged, as the FPGA programmer.
    world.AddBox("1-1", {0x14E3, 0x0706, L"ZELK Q750"}, "2.01").SetFpgaIdcode(kA3p060Idcode);
    world.programVersion = "zelk-cli 9.8.7";
    Options options;
    options.command = Command::Upgrade;
    options.json = true;
    options.all = true;
    options.history = pkg.Path("history.jsonl");
    options.station = "line-1/station-2";
    options.operatorName = "Ann";
    ASSERT_EQ(world.Run(options), kExitOk);

    const std::vector<nlohmann::json> lines = Lines(options.history);
    ASSERT_GE(lines.size(), 4U);
    const nlohmann::json& run = lines.front();
    EXPECT_EQ(run.at("host"), "line-1/station-2");
    EXPECT_EQ(run.at("operator"), "Ann");
    EXPECT_EQ(run.at("program_version"), "zelk-cli 9.8.7");
    // Last, the closing record: the run's exit code and how long it took.
    const nlohmann::json& end = lines.back();
    EXPECT_EQ(end.at("run"), run.at("run"));
    EXPECT_EQ(end.at("exit_code"), kExitOk);
    EXPECT_GT(end.at("wall_ms").get<std::int64_t>(), 0);
    EXPECT_FALSE(end.contains("port"));

    const Result<HistoryContents> read = HistoryFile(options.history).ReadAll();
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value().unreadable, 0U);
    ASSERT_EQ(read.value().records.size(), 1U);
    const std::vector<ImageDigest> written = {
        {"q750.bin", DigestOf(pkg.Path("q750.bin")), ""},
        {kProgrammer, DigestOf(pkg.Path(kProgrammer)), ""},
        {"q750.stp", DigestOf(pkg.Path("q750.stp")), ""},
    };
    for (const HistoryRecord& record : read.value().records) {
        EXPECT_EQ(record.result, "upgraded");
        EXPECT_EQ(record.host, "line-1/station-2");
        EXPECT_EQ(record.operatorName, "Ann");
        EXPECT_EQ(record.programVersion, "zelk-cli 9.8.7");
        EXPECT_EQ(record.images, written) << record.port;
    }
    // Each image was named in a record on the disk before its writing began: the records of
    // the road name them one more at a time.
    std::vector<std::size_t> named;
    for (const nlohmann::json& line : lines) {
        if (line.value("port", "") == "1-1") {
            named.push_back(line.contains("images") ? line.at("images").size() : 0);
        }
    }
    for (const std::size_t count : {0U, 1U, 2U, 3U}) {
        EXPECT_NE(std::find(named.begin(), named.end(), count), named.end()) << count;
    }
}

HistoryRecord Box(const std::string& time, const std::string& station, const std::string& serial,
                  const std::string& result = "upgraded") {
    HistoryRecord r;
    std::tie(r.time, r.host, r.port, r.model, r.serial, r.result) =
        std::tuple(time, station, "1-1", "Q750", serial, result);
    return r;
}

struct Stations : Testing::TempPackage, ZELKSim::BenchWorld {
    Stations() : BenchWorld(Root(), kSpeed) {
        const HistoryFile first(Path("st1.jsonl"));
        const HistoryFile second(Path("st2.jsonl"));
        EXPECT_TRUE(first.Append(Box("2026-12-08T10:00:00Z", "st1", "A")));
        EXPECT_TRUE(first.Append(Box("2026-12-08T10:10:00Z", "st1", "C", "failed")));
        EXPECT_TRUE(second.Append(Box("2026-12-08T10:05:00Z", "st2", "B")));
        EXPECT_TRUE(second.Append(Box("2026-12-07T09:00:00Z", "st2", "Z")));
    }
    int Show(Options options) {
        options.command = Command::History;
        out.clear();
        err.clear();
        return Run(std::move(options));
    }
    std::string Out() const {
        std::string text;
        for (const std::string& line : out) {
            text += line + "\n";
        }
        return text;
    }
    std::string Err() const {
        std::string text;
        for (const std::string& line : err) {
            text += line + "\n";
        }
        return text;
    }
};

TEST(HistoryCommand, StationsFilesMergeByTimeFilteredAsTableCsvOrJson) {
    Stations line;
    Options options;
    options.historyFiles = {line.Path("st1.jsonl"), line.Path("st2.jsonl"), line.Path("st3.jsonl")};
    options.since = "2026-12-08";
    ASSERT_EQ(line.Show(options), kExitOk);
    EXPECT_EQ(line.Out(),
              "time                  station  port  model  serial  before \u2192 after  result    "
              "duration (s)  reason\n"
              "2026-12-08T10:00:00Z  st1      1-1   Q750   A                       upgraded  "
              "         0.0\n"
              "2026-12-08T10:05:00Z  st2      1-1   Q750   B                       upgraded  "
              "         0.0\n"
              "2026-12-08T10:10:00Z  st1      1-1   Q750   C                       failed    "
              "         0.0\n");
    // What was read, and that a station's file is not there yet, on the error stream only.
    EXPECT_NE(line.Err().find("read the history " + line.Path("st1.jsonl") + ": 2 box record(s)"),
              std::string::npos)
        << line.Err();
    EXPECT_NE(line.Err().find("no history yet: " + line.Path("st3.jsonl") + " does not exist"),
              std::string::npos)
        << line.Err();

    std::tie(options.serials, options.results, options.since) = std::tuple(
        std::vector<std::string>{"B", "C", "Z"}, std::vector<std::string>{"upgraded"}, "");
    options.csv = true;
    ASSERT_EQ(line.Show(options), kExitOk);
    EXPECT_EQ(line.Out(),
              "time,station,operator,port,model,serial,version_before,version_after,result,"
              "duration_s,reason,program_version,images\n"
              "2026-12-07T09:00:00Z,st2,,1-1,Q750,Z,,,upgraded,0.0,,,\n"
              "2026-12-08T10:05:00Z,st2,,1-1,Q750,B,,,upgraded,0.0,,,\n");

    options.csv = false;
    options.json = true;
    std::tie(options.serials, options.ports, options.results) =
        std::tuple(std::vector<std::string>{}, std::vector<std::string>{"1-1"},
                   std::vector<std::string>{"failed"});
    ASSERT_EQ(line.Show(options), kExitOk);
    ASSERT_EQ(line.out.size(), 1U);
    EXPECT_EQ(nlohmann::json::parse(line.out[0]).at("serial"), "C");

    // One station's file alone: no station column, as before.
    options = {};
    options.history = line.Path("st1.jsonl");
    ASSERT_EQ(line.Show(options), kExitOk);
    EXPECT_EQ(line.Out().substr(0, 12), "time        ") << line.Out();
    EXPECT_EQ(line.Out().find("station"), std::string::npos) << line.Out();
}

TEST(HistoryCommand, NoHistoryYetAnUnreadableOneAndOutputThatWasNotWritten) {
    Stations line;
    Options options;
    options.history = line.Path("none.jsonl");
    EXPECT_EQ(line.Show(options), kExitOk);
    EXPECT_NE(line.Err().find("no history yet: " + line.Path("none.jsonl")), std::string::npos)
        << line.Err();
    EXPECT_TRUE(line.out.empty()) << "no table without a record";

    // A folder where a file should be cannot be read: its own words and exit code, and the
    // station that can be read is shown all the same.
    line.Write("folder/x", "");
    options.historyFiles = {line.Path("folder"), line.Path("st2.jsonl")};
    EXPECT_EQ(line.Show(options), kExitHistoryUnreadable);
    EXPECT_NE(line.Err().find("The history " + line.Path("folder") + " cannot be read: "),
              std::string::npos)
        << line.Err();
    EXPECT_EQ(line.Err().find("cannot be written"), std::string::npos) << line.Err();
    EXPECT_NE(line.Out().find("st2"), std::string::npos) << line.Out();

    // Standard output that did not take it all (a closed pipe, a full disk) fails the command.
    options.historyFiles = {line.Path("st1.jsonl")};
    line.outTookAll = [] { return false; };
    EXPECT_EQ(line.Show(options), kExitHistoryUnreadable);
    EXPECT_NE(line.Err().find("could not be written to standard output"), std::string::npos)
        << line.Err();
    line.outTookAll = [] { return true; };
    EXPECT_EQ(line.Show(options), kExitOk);
}

}  // namespace
}  // namespace ZELKUtil::Cli
