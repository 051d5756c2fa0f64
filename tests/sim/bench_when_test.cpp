// The `when` lines of bench scenarios: which output lines they wait for, in the human form and in
// the JSON lines of --json, and what the parser refuses.
#include <gtest/gtest.h>

#include <string>

#include "bench_runs/bench_scenario.h"

namespace {

using ZELKSim::BenchScenario;
using ZELKSim::WhenMatches;

BenchScenario::When OnlyWhen(const std::string& line) {
    const ZELKSim::BenchScenarioParse parsed = ZELKSim::ParseBenchScenario(line + "\nrun list\n");
    EXPECT_EQ(parsed.errorLine, 0) << line << ": " << parsed.error;
    EXPECT_EQ(parsed.scenario.whens.size(), 1U) << line;
    return parsed.scenario.whens.empty() ? BenchScenario::When{} : parsed.scenario.whens[0];
}

TEST(BenchWhen, ATextMatchesHumanAndJsonLinesOfItsPort) {
    const BenchScenario::When when = OnlyWhen(R"(when 1-2 "counting down" stop)");
    EXPECT_TRUE(WhenMatches(when, "1-2: counting down"));
    EXPECT_FALSE(WhenMatches(when, "1-20: counting down"));
    EXPECT_TRUE(WhenMatches(when, R"({"event":"state","port":"1-2","text":"counting down"})"));
    EXPECT_FALSE(WhenMatches(when, R"({"event":"state","port":"1-20","text":"counting down"})"));
    EXPECT_FALSE(WhenMatches(when, R"({"event":"state","text":"counting down"})"));
    // A line that only looks like JSON is matched as a human line.
    EXPECT_FALSE(WhenMatches(when, R"({"port":"1-2","text":"counting down")"));

    // Any port; the port field itself is not searched, numbers and flags are not texts.
    const BenchScenario::When any = OnlyWhen(R"(when * "1-2" stop)");
    EXPECT_TRUE(WhenMatches(any, "1-2: found"));
    EXPECT_FALSE(WhenMatches(any, R"({"event":"found","port":"1-2","mode":"normal"})"));
    EXPECT_TRUE(WhenMatches(any, R"({"event":"log","port":"3-1","text":"from 1-2"})"));
    const BenchScenario::When number = OnlyWhen(R"(when 1-2 "50" stop)");
    EXPECT_FALSE(WhenMatches(number, R"({"event":"download","port":"1-2","percent":50})"));
}

TEST(BenchWhen, FieldsMatchOnlyJsonLinesThatHaveThoseValues) {
    const BenchScenario::When when =
        OnlyWhen(R"(when 1-2 event=decision run=true work="ARM download" unplug 1-3)");
    EXPECT_EQ(when.action, "unplug");
    EXPECT_EQ(when.target, "1-3");
    EXPECT_TRUE(WhenMatches(
        when,
        R"({"event":"decision","port":"1-2","run":true,"work":"ARM download","reason":"x"})"));
    EXPECT_FALSE(WhenMatches(
        when, R"({"event":"decision","port":"1-2","run":false,"work":"ARM download"})"));
    // A string field is the text exactly, and a field the line lacks matches nothing.
    EXPECT_FALSE(WhenMatches(
        when, R"({"event":"decision","port":"1-2","run":true,"work":"ARM download twice"})"));
    EXPECT_FALSE(WhenMatches(when, R"({"event":"decision","port":"1-2","run":true})"));
    EXPECT_FALSE(WhenMatches(when, "1-2: event=decision run=true work=ARM download"));

    const BenchScenario::When percent = OnlyWhen("when * event=download percent=50 stop");
    EXPECT_TRUE(WhenMatches(percent, R"({"event":"download","port":"4-1","percent":50})"));
    EXPECT_FALSE(WhenMatches(percent, R"({"event":"download","port":"4-1","percent":5})"));
}

TEST(BenchWhen, MalformedWhenLinesAreRefusedWithTheirLine) {
    for (const char* line :
         {"when", "when 1-2 stop", "when 1-2 event=state", R"(when 1-2 "t" swap)",
          R"(when 1-2 "t" stop 1-3 1-4)", R"(when 1-2 "t" history-breaks 1-3)",
          R"(when 1-2 event=state "t" stop)", R"(when 1-2 "t" stop target=1-3)",
          R"(when port=1-2 "t" stop)", R"(when 1-2 "t" explode)"}) {
        const ZELKSim::BenchScenarioParse parsed =
            ZELKSim::ParseBenchScenario(std::string("\n") + line + "\nrun list\n");
        EXPECT_EQ(parsed.errorLine, 2) << line;
        EXPECT_NE(parsed.error.find("usage: when PORT"), std::string::npos) << parsed.error;
    }
    const BenchScenario::When swap = OnlyWhen(R"(when 1-2 "restarting" swap 2.00 3-1)");
    EXPECT_EQ(swap.action, "swap");
    EXPECT_EQ(swap.version, "2.00");
    EXPECT_EQ(swap.target, "3-1");
    EXPECT_EQ(swap.text, "restarting");
}

}  // namespace
