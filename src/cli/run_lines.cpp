#include "cli/run_lines.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "cli/json_fields.h"

namespace ZELKUtil::Cli {
namespace {

// Keys in the order written: the kind of line first, then its time and run.
using JsonFields::Dump;
using JsonFields::Json;
using JsonFields::PutText;

Json Begin(const char* kind, const LineStamp& stamp) {
    Json object = Json::object();
    object["event"] = kind;
    PutText(object, "time", stamp.time);
    PutText(object, "run", stamp.run);
    return object;
}

// A box as an upgrade's summary shows it: its record's fields for the run's table.
Json UpgradedBox(const SummaryBox& row) {
    const HistoryRecord& record = row.record;
    Json box = Json::object();
    PutText(box, "time", record.time);
    PutText(box, "port", record.port);
    PutText(box, "model", record.model);
    PutText(box, "serial", record.serial);
    PutText(box, "version_before", record.versionBefore);
    PutText(box, "version_after", record.versionAfter);
    PutText(box, "result", record.result);
    PutText(box, "reason", record.reason);
    PutText(box, "id", record.id);
    // A box that had no run took no time: it has no duration rather than one of 0.
    if (row.ran) {
        box["duration_ms"] = record.durationMs;
    }
    return box;
}

// A box as a list's or check's summary shows it: what its found event told.
Json FoundBox(const Events::Found& found) {
    Json box = Json::object();
    PutText(box, "port", found.port);
    JsonFields::PutFound(box, found);
    return box;
}

}  // namespace

std::int64_t SystemUtcMs() {
    const auto now = std::chrono::system_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
}

std::string UtcMsText(std::int64_t msSinceEpoch) {
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds{msSinceEpoch}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{time - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string NewRunId(const std::string& now) {
    std::random_device random;
    const auto part = static_cast<unsigned long>(random()) & 0xFFFFFFUL;
    char text[16];
    std::snprintf(text, sizeof text, "%06lx", part);
    return now + "-" + text;
}

std::string ToJsonLine(const RunSummary& summary, const LineStamp& stamp) {
    Json object = Begin("summary", stamp);
    object["command"] = summary.command;
    object["exit_code"] = summary.exitCode;
    object["wall_ms"] = summary.wallMs;
    Json boxes = Json::array();
    for (const SummaryBox& row : summary.boxes) {
        boxes.push_back(UpgradedBox(row));
    }
    for (const Events::Found& found : summary.found) {
        boxes.push_back(FoundBox(found));
    }
    object["boxes"] = std::move(boxes);
    return Dump(object);
}

std::string ToJsonLine(const RunError& error, const LineStamp& stamp) {
    Json object = Begin("error", stamp);
    object["message"] = error.message;
    object["exit_code"] = error.exitCode;
    return Dump(object);
}

}  // namespace ZELKUtil::Cli
