#include "cli/events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>
#include <vector>

namespace ZELKUtil::Cli {
namespace {

using Kind = BoxEvent::Kind;

BoxEvent Event(Kind kind, const std::string& text = "", int percent = 0,
               std::optional<std::int64_t> secondsLeft = {}) {
    BoxEvent event;
    event.kind = kind;
    event.port = "1-2";
    event.text = text;
    event.percent = percent;
    event.secondsLeft = secondsLeft;
    return event;
}

BoxEvent Found(const std::string& serial, std::optional<bool> upToDate) {
    BoxEvent event = Event(Kind::Found);
    std::tie(event.mode, event.model, event.serial, event.version) =
        std::tuple("normal", "Q750", serial, "2.01");
    event.upToDate = upToDate;
    return event;
}

auto Fields(const BoxEvent& e) {
    return std::tie(e.kind, e.port, e.mode, e.model, e.serial, e.version, e.upToDate, e.text,
                    e.percent, e.secondsLeft, e.run, e.work, e.reason, e.verdict, e.tool);
}

TEST(CliEvents, EveryKindRoundTripsFieldByFieldAndReadsAsALine) {
    BoxEvent result = Event(Kind::Result, "upgraded", 100, -1);
    result.upToDate = true;
    BoxEvent bootloader = Event(Kind::Found);
    bootloader.mode = "bootloader";
    const std::string log = "Q750 Version:\t2.01 \x01\x1f\r \"\\\" \xc3\xa9 \xe2\x9c\x93";
    BoxEvent wrong = Found("000123", false);
    wrong.verdict = "wrong package";
    BoxEvent run = Event(Kind::Decision);
    std::tie(run.run, run.work, run.reason) = std::tuple(true, "ARM download", "its road's ticks");
    BoxEvent hold = Event(Kind::Decision);
    std::tie(hold.run, hold.reason) = std::tuple(false, "not recognised on this port");
    BoxEvent tool = Event(Kind::Tool, "dfu-util: can't detach\x1b[2J");
    tool.tool = "dfu-util";
    const std::pair<BoxEvent, std::string> cases[] = {
        {Found("000123", false),
         "1-2: found, normal mode, Q750 2.01, serial 000123, needs an upgrade"},
        {Found("", true), "1-2: found, normal mode, Q750 2.01, up to date"},
        {bootloader, "1-2: found, bootloader mode"},
        {wrong, "1-2: found, normal mode, Q750 2.01, serial 000123, wrong package"},
        {Event(Kind::State, "counting down"), "1-2: counting down"},
        {Event(Kind::Progress, "", 40, 12), "1-2: 40 %, about 12 s left"},
        {Event(Kind::Progress, "", 0), "1-2: 0 %"},
        // Nothing a box says may drive the terminal or start a line: C0 (tab, CR and LF too), C1
        // as bytes or as UTF-8, bytes that are no UTF-8.
        {Event(Kind::Log, log), "1-2: Q750 Version:?2.01 ??? \"\\\" \xc3\xa9 \xe2\x9c\x93"},
        {Event(Kind::Log,
               "2.04\r\n1-1: upgraded \xc2\x9b"
               "31m"),
         "1-2: 2.04??1-1: upgraded ?31m"},
        {result, "1-2: upgraded"},
        {run, "1-2: decision: run ARM download, its road's ticks"},
        {hold, "1-2: decision: hold, not recognised on this port"},
        {tool, "1-2: [dfu-util] dfu-util: can't detach?[2J"},
    };
    for (const auto& [event, human] : cases) {
        EXPECT_EQ(ToHumanLine(event), human);
        const std::string line = ToJsonLine(event);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        const auto object = nlohmann::ordered_json::parse(line);
        EXPECT_EQ(object.begin().key(), "event");
        EXPECT_EQ(object.value("port", ""), event.port);
        EXPECT_EQ(object.value("text", ""), event.text);
        EXPECT_EQ(object.contains("text"), !event.text.empty()) << line;
        EXPECT_EQ(object.contains("mode"), !event.mode.empty()) << line;
        EXPECT_EQ(object.contains("up_to_date"), event.upToDate.has_value()) << line;
        EXPECT_EQ(object.contains("seconds_left"), event.secondsLeft.has_value()) << line;
        const std::optional<BoxEvent> back = FromJsonLine(line);
        ASSERT_TRUE(back) << line;
        EXPECT_TRUE(Fields(*back) == Fields(event)) << line;
    }
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(Found("000123", false))),
              nlohmann::json::parse(R"({"event":"found","port":"1-2","mode":"normal",
                  "model":"Q750","serial":"000123","version":"2.01","up_to_date":false})"));
    EXPECT_EQ(ToJsonLine(Event(Kind::Progress)),
              R"({"event":"progress","port":"1-2","percent":0})");
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(result)).at("event"), "result");
    EXPECT_EQ(ToHumanLine(Event(Kind::Log,
                                "\x9b"
                                "31m \xff\xfe ok")),
              "1-2: ?31m ?? ok")
        << "C1 and bytes that are no UTF-8";
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(hold)),
              nlohmann::json::parse(R"({"event":"decision","port":"1-2","run":false,
                  "reason":"not recognised on this port"})"));
}

TEST(CliEvents, LinesThatAreNoEventGiveNothing) {
    for (const char* line :
         {"", "not json", "{", "[]", "\"log\"", "null", R"({"event":"log"})",
          R"({"event":"bogus","port":"1"})", R"({"event":7,"port":"1"})",
          R"({"event":"log","port":1})", R"({"event":"log","port":"1","text":["a"]})",
          R"({"event":"progress","port":"1","percent":"40"})",
          R"({"event":"progress","port":"1","percent":40.5})",
          R"({"event":"progress","port":"1","percent":4294967296})",
          R"({"event":"progress","port":"1","seconds_left":18446744073709551615})",
          R"({"event":"found","port":"1","up_to_date":"yes"})",
          "{\"event\":\"log\",\"port\":\"1\",\"text\":\"\xff\"}",
          R"({"event":"log","port":"1"} trailing)"}) {
        EXPECT_FALSE(FromJsonLine(line)) << line;
    }
}

}  // namespace
}  // namespace ZELKUtil::Cli
