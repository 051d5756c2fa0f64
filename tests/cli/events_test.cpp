#include "cli/events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vector>

namespace ZELKUtil::Cli {
namespace {

using Kind = BoxEvent::Kind;

BoxEvent Event(Kind kind, const std::string& port, const std::string& text = "") {
    BoxEvent event;
    event.kind = kind;
    event.port = port;
    event.text = text;
    return event;
}

BoxEvent Found(const std::string& serial, std::optional<bool> upToDate) {
    BoxEvent event = Event(Kind::Found, "1-2");
    event.mode = "normal";
    event.model = "Q750";
    event.serial = serial;
    event.version = "2.01";
    event.upToDate = upToDate;
    return event;
}

BoxEvent Progress(int percent, std::optional<std::int64_t> secondsLeft) {
    BoxEvent event = Event(Kind::Progress, "1-2");
    event.percent = percent;
    event.secondsLeft = secondsLeft;
    return event;
}

void ExpectSame(const BoxEvent& a, const BoxEvent& b) {
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.model, b.model);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.upToDate, b.upToDate);
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(a.percent, b.percent);
    EXPECT_EQ(a.secondsLeft, b.secondsLeft);
}

TEST(CliEvents, EveryKindRoundTripsFieldByField) {
    BoxEvent result = Event(Kind::Result, "3-1.4", "upgraded");
    result.upToDate = true;
    result.percent = 100;
    result.secondsLeft = -1;
    const std::vector<BoxEvent> events = {
        Found("000123", false),
        Event(Kind::Found, "2", ""),
        Event(Kind::State, "1-2", "counting down"),
        Progress(0, 12),
        Event(Kind::Log, "1-2", "Q750 Version:\t2.01 \x01\x1f\r \"\\\" \xc3\xa9 \xe2\x9c\x93"),
        result,
    };
    for (const BoxEvent& event : events) {
        const std::string line = ToJsonLine(event);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        const auto object = nlohmann::ordered_json::parse(line);
        EXPECT_EQ(object.begin().key(), "event");
        EXPECT_EQ(object.at("port"), event.port);
        EXPECT_EQ(object.contains("mode"), !event.mode.empty()) << line;
        EXPECT_EQ(object.contains("up_to_date"), event.upToDate.has_value()) << line;
        EXPECT_EQ(object.contains("text"), !event.text.empty()) << line;
        EXPECT_EQ(object.contains("seconds_left"), event.secondsLeft.has_value()) << line;
        if (!event.text.empty()) {
            EXPECT_EQ(object.at("text"), event.text);
        }
        const std::optional<BoxEvent> back = FromJsonLine(line);
        ASSERT_TRUE(back) << line;
        ExpectSame(*back, event);
    }
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(Found("000123", false))),
              nlohmann::json::parse(R"({"event":"found","port":"1-2","mode":"normal",
                  "model":"Q750","serial":"000123","version":"2.01","up_to_date":false})"));
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(Progress(0, {}))),
              nlohmann::json::parse(R"({"event":"progress","port":"1-2","percent":0})"));
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(result)).at("event"), "result");
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

TEST(CliEvents, HumanLines) {
    EXPECT_EQ(ToHumanLine(Found("000123", false)),
              "1-2: found, normal mode, Q750 2.01, serial 000123, needs an upgrade");
    EXPECT_EQ(ToHumanLine(Found("", true)), "1-2: found, normal mode, Q750 2.01, up to date");
    BoxEvent bootloader = Event(Kind::Found, "4");
    bootloader.mode = "bootloader";
    EXPECT_EQ(ToHumanLine(bootloader), "4: found, bootloader mode");
    EXPECT_EQ(ToHumanLine(Progress(40, 12)), "1-2: 40 %, about 12 s left");
    EXPECT_EQ(ToHumanLine(Progress(5, {})), "1-2: 5 %");
    EXPECT_EQ(ToHumanLine(Event(Kind::Log, "1-2", "Q750 Version:      2.01")),
              "1-2: Q750 Version:      2.01");
    EXPECT_EQ(ToHumanLine(Event(Kind::Result, "1-2", "upgraded")), "1-2: upgraded");
}

}  // namespace
}  // namespace ZELKUtil::Cli
