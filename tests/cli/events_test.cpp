#include "cli/events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "cli/run_lines.h"

namespace ZELKUtil::Cli {
namespace {

Events::Found Found(const std::string& serial, std::optional<bool> upToDate) {
    return {"1-2", BoxMode::Normal, "Q750", serial, "2.01", upToDate};
}

struct Case {
    BoxEvent event;
    // The human line, without and with -v; none where the event has no line.
    std::optional<std::string> human;
    std::optional<std::string> verbose;
};

TEST(CliEvents, EveryKindRoundTripsAndReadsAsTheLineOfItsStep) {
    Events::Found wrong = Found("000123", false);
    wrong.verdict = "wrong package";
    const std::string log = "Q750 Version:\t2.01 \x01\x1f\r \"\\\" \xc3\xa9 \xe2\x9c\x93";
    const std::string logLine = "1-2: [window] Q750 Version:?2.01 ??? \"\\\" \xc3\xa9 \xe2\x9c\x93";
    const Events::Ended upgraded{"1-2", BoxResult::Upgraded, "", "2.04", true, true};
    const Events::Ended failed{"1-2", BoxResult::Failed, "the box names no profile of the package"};
    const Events::Decision hold{"1-2", false, "", "not recognised on this port"};
    const Case cases[] = {
        {Found("000123", false),
         "1-2: found, normal mode, Q750 2.01, serial 000123, needs an upgrade",
         "1-2: found, normal mode, Q750 2.01, serial 000123, needs an upgrade"},
        {Found("", true), "1-2: found, normal mode, Q750 2.01, up to date", std::nullopt},
        {Events::Found{"1-2", BoxMode::Bootloader}, "1-2: found, bootloader mode", std::nullopt},
        {wrong, "1-2: found, normal mode, Q750 2.01, serial 000123, wrong package", std::nullopt},
        {Events::State{"1-2", BoxState::CountingDown}, "1-2: counting down", std::nullopt},
        {Events::State{"1-2", BoxState::Connected}, std::nullopt, std::nullopt},
        {Events::Progress{"1-2", 40, 12}, std::nullopt, std::nullopt},
        {Events::Download{"1-2", 50}, "1-2: downloading its ARM firmware: 50 %", std::nullopt},
        // The window's lines only with -v, marked as the window's; nothing a box says may drive
        // the terminal or start a line: C0 (tab, CR and LF too), C1, bytes that are no UTF-8.
        {Events::Log{"1-2", log}, std::nullopt, logLine},
        {Events::Log{"1-2", "2.04\r\n1-1: upgraded \xc2\x9b\x33\x31m"}, std::nullopt,
         "1-2: [window] 2.04??1-1: upgraded ?31m"},
        {upgraded, "1-2: upgraded to 2.04, ARM and FPGA: unplug the box", std::nullopt},
        {Events::Ended{"1-2", BoxResult::UpToDate, "", "2.04"},
         "1-2: up-to-date at 2.04: nothing to do, unplug the box", std::nullopt},
        {failed, "1-2: failed: the box names no profile of the package", std::nullopt},
        {Events::Ended{"1-2", BoxResult::LeftAlone, "not recognised"},
         "1-2: left alone: not recognised", std::nullopt},
        {Events::Decision{"1-2", true, "ARM download", "its road's ticks"}, std::nullopt,
         "1-2: decision: ARM download, its road's ticks"},
        {hold, std::nullopt, "1-2: decision: hold, not recognised on this port"},
        {Events::Tool{"1-2", "dfu-util", "dfu-util: can't detach\x1b[2J"},
         "1-2: [dfu-util] dfu-util: can't detach?[2J", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string line = ToJsonLine(c.event);
        SCOPED_TRACE(line);
        EXPECT_EQ(ToHumanLine(c.event), c.human);
        EXPECT_EQ(ToHumanLine(c.event, true), c.verbose ? c.verbose : c.human);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        const auto object = nlohmann::ordered_json::parse(line);
        EXPECT_EQ(object.begin().key(), "event");
        EXPECT_EQ(object.value("port", ""), "1-2");
        const std::optional<BoxEvent> back = FromJsonLine(line);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == c.event);
    }
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(Found("000123", false))),
              nlohmann::json::parse(R"({"event":"found","port":"1-2","mode":"normal",
                  "model":"Q750","serial":"000123","version":"2.01","up_to_date":false})"));
    EXPECT_EQ(ToJsonLine(Events::Progress{"1-2", 0, std::nullopt}),
              R"({"event":"progress","port":"1-2","percent":0})");
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(upgraded)),
              nlohmann::json::parse(R"({"event":"result","port":"1-2","text":"upgraded",
                  "version":"2.04","arm":true,"fpga":true})"));
    EXPECT_EQ(ToHumanLine(Events::Tool{"1-2", "dfu-util", "\x9b\x33\x31m \xff\xfe ok"}),
              "1-2: [dfu-util] ?31m ?? ok")
        << "C1 and bytes that are no UTF-8";
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(hold)),
              nlohmann::json::parse(R"({"event":"decision","port":"1-2","runs":false,
                  "reason":"not recognised on this port"})"));
}

// Every line carries its time and the run's id, which took the name "run" from two fields of
// earlier lines; those lines, and lines without a stamp, still read back.
TEST(CliEvents, StampedLinesAndLinesWrittenBeforeTheStampReadBack) {
    const LineStamp stamp{UtcMsText(1796607456123), "2026-12-07T01:37:36Z-abcdef"};
    EXPECT_EQ(stamp.time, "2026-12-07T01:37:36.123Z");
    EXPECT_EQ(UtcMsText(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcMsText(1835481599999), "2028-02-29T23:59:59.999Z");
    const Events::Decision runs{"1-2", true, "ARM download", "its road's ticks"};
    const Events::Resumed resumed{"1-1", "Q750", "100001", "2026-12-06T09:00:00Z-123456", 60};
    const Events::Log untold{"", "Done."};
    for (const BoxEvent& event : std::vector<BoxEvent>{runs, resumed, untold}) {
        const std::string line = ToJsonLine(event, stamp);
        SCOPED_TRACE(line);
        const auto object = nlohmann::ordered_json::parse(line);
        EXPECT_EQ(object.at("time"), stamp.time);
        EXPECT_EQ(object.at("run"), stamp.run);
        EXPECT_EQ(FromJsonLine(line), event);
    }
    EXPECT_FALSE(nlohmann::json::parse(ToJsonLine(untold, stamp)).contains("port"));
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(resumed, stamp)).at("record_run"), resumed.run);
    EXPECT_EQ(FromJsonLine(R"({"event":"decision","port":"1-2","run":true,"work":"ARM download",)"
                           R"("reason":"its road's ticks"})"),
              BoxEvent(runs));
    EXPECT_EQ(FromJsonLine(R"({"event":"resume","port":"1-1","model":"Q750","serial":"100001",)"
                           R"("run":"2026-12-06T09:00:00Z-123456","age_seconds":60})"),
              BoxEvent(resumed));
    // A stamped line's run is the run's id, never read as the decision's flag.
    EXPECT_EQ(FromJsonLine(R"({"event":"decision","port":"1-2","time":"t","run":"r"})"),
              BoxEvent(Events::Decision{"1-2", false, "", ""}));
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(Events::Log{"1-2", ""}, {})),
              nlohmann::json::parse(R"({"event":"log","port":"1-2"})"));
}

TEST(CliEvents, EveryResultAndStateHasOneNameThatReadsBack) {
    for (const BoxResult result :
         {BoxResult::Upgraded, BoxResult::UpToDate, BoxResult::Failed, BoxResult::Interrupted,
          BoxResult::Stopped, BoxResult::LeftAlone}) {
        EXPECT_EQ(ResultNamed(ResultName(result)), result) << ResultName(result);
    }
    for (int i = 0; i <= static_cast<int>(BoxState::WaitingForInstaller); ++i) {
        const auto state = static_cast<BoxState>(i);
        EXPECT_EQ(StateNamed(StateName(state)), state) << StateName(state);
    }
    EXPECT_FALSE(ResultNamed("unfinished"));
}

TEST(CliEvents, LinesThatAreNoEventGiveNothing) {
    for (const char* line :
         {"",
          "not json",
          "{",
          "[]",
          "\"log\"",
          "null",
          R"({"event":"log","port":null})",
          R"({"event":"bogus","port":"1"})",
          R"({"event":7,"port":"1"})",
          R"({"event":"log","port":1})",
          R"({"event":"log","port":"1","text":["a"]})",
          R"({"event":"progress","port":"1","percent":"40"})",
          R"({"event":"progress","port":"1","percent":40.5})",
          R"({"event":"progress","port":"1","percent":4294967296})",
          R"({"event":"progress","port":"1","seconds_left":18446744073709551615})",
          R"({"event":"found","port":"1","mode":"normal","up_to_date":"yes"})",
          R"({"event":"found","port":"1","mode":"asleep"})",
          R"({"event":"state","port":"1","text":"dreaming"})",
          R"({"event":"result","port":"1","text":"unfinished"})",
          "{\"event\":\"log\",\"port\":\"1\",\"text\":\"\xff\"}",
          R"({"event":"log","port":"1"} trailing)"}) {
        EXPECT_FALSE(FromJsonLine(line)) << line;
    }
}

}  // namespace
}  // namespace ZELKUtil::Cli
