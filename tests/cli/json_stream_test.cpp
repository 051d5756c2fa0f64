// zelk-cli's JSON stream as a program reads it: every line stamped with its time and the run's
// id, nothing written as an empty text, one summary at the end of every list, check and upgrade,
// and a failure of the whole run as an error event before it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>

#include "bench_runs/bench_world.h"
#include "cli/history.h"
#include "cli/q750_package.h"
#include "package/package_files.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

using Json = nlohmann::json;

struct PackageFolder {
    Testing::TempPackage pkg;
};

// Q750 boxes at 2.01 on the ports, a package of 2.04, and the lines the runner printed.
struct Bench : PackageFolder, ZELKSim::BenchWorld {
    explicit Bench(const std::vector<std::string>& ports)
        : BenchWorld(WriteQ750ArmPackage(pkg), 50) {
        for (const std::string& port : ports) {
            AddBox(port, {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
        }
    }
    int Run(Command command, std::string as = "") {
        Options options;
        options.command = command;
        options.json = true;
        options.all = true;
        options.as = std::move(as);
        options.history = pkg.Path("history.jsonl");
        return BenchWorld::Run(options);
    }
    std::vector<Json> Lines() const {
        std::vector<Json> lines;
        for (const std::string& line : out) {
            lines.push_back(Json::parse(line));
        }
        return lines;
    }
};

// What every line of a run's stream must be: stamped with a UTC time to the millisecond, in
// order, and the one run id; no text left empty; the summary last and only there.
void CheckStream(const std::vector<Json>& lines, int exitCode) {
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    ASSERT_FALSE(lines.empty());
    const std::string run = lines.front().value("run", "");
    EXPECT_FALSE(run.empty());
    std::string last;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Json& line = lines[i];
        SCOPED_TRACE(line.dump());
        EXPECT_TRUE(std::regex_match(line.value("time", ""), time));
        EXPECT_GE(line.value("time", ""), last);
        last = line.value("time", "");
        EXPECT_EQ(line.value("run", ""), run);
        EXPECT_EQ(line.at("event") == "summary", i + 1 == lines.size());
        const auto empty = [](const Json& value) { return value.is_string() && value == ""; };
        for (const Json& value : line) {
            EXPECT_FALSE(empty(value));
            if (value.is_array()) {
                for (const Json& box : value) {
                    for (const Json& field : box) {
                        EXPECT_FALSE(empty(field)) << box.dump();
                    }
                }
            }
        }
    }
    EXPECT_EQ(lines.back().value("exit_code", -1), exitCode);
}

// The summary's rows, the history's records and the run's own clock tell one story: every box
// met, refused ones too, and each box's duration the same in its row and its record.
TEST(JsonStream, AnUpgradesSummaryHasEveryBoxItsExitCodeAndItsWallTime) {
    Bench bench({"1-1", "1-2", "1-3"});
    bench.boxes[0].SetFirmwareVersion("2.04");
    bench.claimPort = [](const std::string& port, std::string* /*why*/) {
        return port == "1-3" ? nullptr : std::make_unique<PortClaim>();
    };
    const int code = bench.Run(Command::Upgrade);
    EXPECT_EQ(code, kExitBoxFailed);
    const std::vector<Json> lines = bench.Lines();
    CheckStream(lines, code);
    const Json& summary = lines.back();
    EXPECT_EQ(summary.at("command"), "upgrade");
    const Json& boxes = summary.at("boxes");
    ASSERT_EQ(boxes.size(), 3U);
    EXPECT_EQ(boxes[0].at("result"), "up-to-date");
    EXPECT_EQ(boxes[1].at("result"), "upgraded");
    EXPECT_EQ(boxes[2].at("port"), "1-3");
    EXPECT_EQ(boxes[2].at("result"), "left alone");
    EXPECT_EQ(boxes[2].at("reason"), "another zelk-cli is upgrading the box on this port");
    EXPECT_FALSE(boxes[2].contains("duration_ms")) << "it had no run";
    EXPECT_FALSE(boxes[0].contains("reason"));
    // The whole batch, by the run's clock: from before its first line to its summary, and at least
    // as long as its longest box.
    const auto ms = [](const Json& line) {
        const std::string t = line.at("time");
        return ((std::stoll(t.substr(11, 2)) * 60 + std::stoll(t.substr(14, 2))) * 60 +
                std::stoll(t.substr(17, 2))) *
                   1000 +
               std::stoll(t.substr(20, 3));
    };
    const std::int64_t wall = summary.at("wall_ms");
    EXPECT_GE(wall, ms(summary) - ms(lines.front()));
    EXPECT_GE(wall, boxes[1].at("duration_ms").get<std::int64_t>());
    // One duration for a box, whichever says it.
    const auto read = HistoryFile(bench.pkg.Path("history.jsonl")).ReadAll();
    ASSERT_TRUE(read);
    ASSERT_EQ(read.value().records.size(), 2U);
    for (const HistoryRecord& record : read.value().records) {
        const Json& row = boxes[record.port == "1-1" ? 0 : 1];
        EXPECT_EQ(row.at("id"), record.id);
        EXPECT_EQ(row.at("duration_ms"), record.durationMs) << record.port;
        EXPECT_EQ(RunOf(record), summary.at("run"));
    }
}

// A run that ends early says why on both streams, and its summary still follows with the boxes it
// finished (a fault leaves once the boxes under way are done); a list ends the same way as a check.
TEST(JsonStream, AFailedRunEndsWithAnErrorEventThenItsSummary) {
    struct Case {
        const char* what;
        Command command;
        std::vector<std::string> ports;
        std::function<void(Bench&)> arrange;
        std::string as;
        int exit;
        std::vector<std::string> rows;  // the summary's results, a box each
    };
    const Case cases[] = {
        {"package",
         Command::Check,
         {"1-1"},
         [](Bench& b) { b.pkg.Write(PackageFiles::kProfileFile, "no profiles"); },
         "",
         kExitPackage,
         {}},
        {"no box", Command::Upgrade, {}, [](Bench&) {}, "", kExitNoBox, {}},
        {"no box to list", Command::List, {}, [](Bench&) {}, "", kExitNoBox, {}},
        {"--as", Command::Upgrade, {"1-1"}, [](Bench&) {}, "Q999", kExitUsage, {}},
        {"history",
         Command::Upgrade,
         {"1-1"},
         [](Bench& b) { b.pkg.Write("history.jsonl/x", ""); },
         "",
         kExitHistory,
         {}},
        {"every port held",
         Command::Upgrade,
         {"1-1"},
         [](Bench& b) { b.claimPort = [](const std::string&, std::string*) { return nullptr; }; },
         "",
         kExitBoxFailed,
         {"left alone"}},
        {"a fault",
         Command::Upgrade,
         {"1-1", "1-2"},
         [](Bench& b) {
             b.claimPort = [](const std::string& port, std::string*) -> std::unique_ptr<PortClaim> {
                 if (port == "1-2") {
                     throw std::runtime_error("no claims today");
                 }
                 return std::make_unique<PortClaim>();
             };
         },
         "",
         kExitSoftware,
         {"upgraded"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench(c.ports);
        c.arrange(bench);
        const int code = bench.Run(c.command, c.as);
        EXPECT_EQ(code, c.exit);
        const std::vector<Json> lines = bench.Lines();
        CheckStream(lines, code);
        ASSERT_GE(lines.size(), 2U);
        const Json& error = lines[lines.size() - 2];
        EXPECT_EQ(error.at("event"), "error");
        EXPECT_EQ(error.at("exit_code"), code);
        ASSERT_FALSE(bench.err.empty());
        EXPECT_EQ(error.at("message"), bench.err.back());
        const Json& rows = lines.back().at("boxes");
        ASSERT_EQ(rows.size(), c.rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].at("result"), c.rows[i]);
        }
        // A box was written only where its row says it was upgraded.
        for (std::size_t i = 0; i < bench.boxes.size(); ++i) {
            const bool upgraded = i < c.rows.size() && c.rows[i] == "upgraded";
            EXPECT_EQ(bench.boxes[i].FirmwareVersion(), upgraded ? "2.04" : "2.01") << i;
        }
    }
    // A list that found boxes ends with a summary of them, and no error.
    Bench bench({"1-1", "1-2"});
    bench.boxes[1].SetFirmwareVersion("2.04");
    EXPECT_EQ(bench.Run(Command::List), kExitOk);
    const std::vector<Json> lines = bench.Lines();
    CheckStream(lines, kExitOk);
    ASSERT_EQ(lines.size(), 3U);
    const Json& found = lines.back().at("boxes");
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[1].at("verdict"), "up to date");
    EXPECT_EQ(found[1].at("version"), "2.04");
    EXPECT_EQ(lines.back().at("command"), "list");
}

}  // namespace
}  // namespace ZELKUtil::Cli
