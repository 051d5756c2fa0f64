// The JSON Schema that ships beside the manual page is what zelk-cli writes: its own examples
// match it, lines that break the contract do not, and every line of every bench scenario's runs,
// played with --json, matches it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "bench_runs/bench_scenario.h"
#include "json_schema_check.h"

namespace ZELKUtil::Testing {
namespace {

using Json = nlohmann::json;

Json ReadSchema() {
    std::ifstream file(std::string(ZELK_DOCS_DIR) + "/packaging/zelk-cli-events.schema.json");
    EXPECT_TRUE(file);
    return Json::parse(file, nullptr, false);
}

std::string Problems(const SchemaCheck& check, const Json& line) {
    std::string text;
    for (const std::string& problem : check.Problems(line)) {
        text += "\n  " + problem;
    }
    return text;
}

TEST(EventSchema, ItsExamplesMatchItAndBrokenLinesDoNot) {
    const Json schema = ReadSchema();
    ASSERT_TRUE(schema.is_object());
    EXPECT_EQ(schema.at("$schema"), "https://json-schema.org/draft/2020-12/schema");
    const SchemaCheck check(schema);
    // Every kind of line has examples, and each matches the whole schema (exactly one kind).
    ASSERT_EQ(schema.at("oneOf").size(), 11U);
    for (const Json& kind : schema.at("oneOf")) {
        const std::string name = kind.at("$ref").get<std::string>().substr(8);
        const Json& examples = schema.at("$defs").at(name).at("examples");
        EXPECT_FALSE(examples.empty()) << name;
        for (const Json& example : examples) {
            EXPECT_EQ(Problems(check, example), "") << example.dump();
        }
    }
    const Json good = Json::parse(
        R"({"event":"result","port":"1-2","time":"2026-12-08T17:04:56.123Z","run":"r-1",)"
        R"("text":"failed","reason":"no box on this port"})");
    EXPECT_EQ(Problems(check, good), "");
    // Each a way a line could break the contract.
    const auto broken = [&good](const char* key, const Json& value) {
        Json line = good;
        if (value.is_null()) {
            line.erase(key);
        } else {
            line[key] = value;
        }
        return line;
    };
    for (const Json& line :
         {broken("reason", ""), broken("time", nullptr), broken("run", nullptr),
          broken("time", "2026-12-08T17:04:56Z"), broken("text", "unfinished"),
          broken("event", "bogus"), broken("extra", 1), broken("port", ""), broken("arm", false),
          Json::parse(R"({"event":"summary","time":"2026-12-08T17:04:56.123Z","run":"r",)"
                      R"("command":"upgrade","exit_code":0,"wall_ms":5,)"
                      R"("boxes":[{"time":"2026-12-08T17:04:56Z","result":"upgraded",)"
                      R"("model":""}]})"),
          Json::parse(R"({"event":"error","time":"2026-12-08T17:04:56.123Z","run":"r",)"
                      R"("message":"No box found.","exit_code":"3"})")}) {
        EXPECT_NE(Problems(check, line), "") << line.dump();
    }
}

// Every bench scenario played with --json, side by side (each in fast real time on its own
// emulated bench): every line of standard output matches the schema, and the summary last
// tells the run's exit code.
TEST(EventSchema, EveryLineOfEveryBenchScenarioMatches) {
    const SchemaCheck check(ReadSchema());
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(ZELK_DOCS_DIR) + "/tests/scenarios")) {
        if (entry.path().extension() == ".bench") {
            files.push_back(entry.path().string());
        }
    }
    ASSERT_FALSE(files.empty());
    std::vector<std::future<ZELKSim::BenchJsonPlay>> plays;
    plays.reserve(files.size());
    for (const std::string& file : files) {
        plays.push_back(std::async(std::launch::async,
                                   [file] { return ZELKSim::PlayBenchScenarioAsJson(file); }));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        const ZELKSim::BenchJsonPlay play = plays[i].get();
        ASSERT_EQ(play.problem, "");
        ASSERT_FALSE(play.out.empty());
        for (const std::string& line : play.out) {
            const Json parsed = Json::parse(line, nullptr, false);
            EXPECT_EQ(Problems(check, parsed), "") << line;
        }
        const Json last = Json::parse(play.out.back(), nullptr, false);
        EXPECT_EQ(last.value("event", ""), "summary");
        EXPECT_EQ(last.value("exit_code", -1), play.exitCode);
    }
}

}  // namespace
}  // namespace ZELKUtil::Testing
