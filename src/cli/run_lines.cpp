#include "cli/run_lines.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

namespace ZELKUtil::Cli {
namespace {

// Keys in the order written: the kind of line first, then its time and run.
using Json = nlohmann::ordered_json;

void PutIfGiven(Json& object, const char* key, const std::string& text) {
    if (!text.empty()) {
        object[key] = text;
    }
}

Json Begin(const char* kind, const LineStamp& stamp) {
    Json object = Json::object();
    object["event"] = kind;
    PutIfGiven(object, "time", stamp.time);
    PutIfGiven(object, "run", stamp.run);
    return object;
}

// A box as an upgrade's summary shows it: its record's fields for the run's table.
Json UpgradedBox(const SummaryBox& row) {
    const HistoryRecord& record = row.record;
    Json box = Json::object();
    PutIfGiven(box, "time", record.time);
    PutIfGiven(box, "port", record.port);
    PutIfGiven(box, "model", record.model);
    PutIfGiven(box, "serial", record.serial);
    PutIfGiven(box, "version_before", record.versionBefore);
    PutIfGiven(box, "version_after", record.versionAfter);
    PutIfGiven(box, "result", record.result);
    PutIfGiven(box, "reason", record.reason);
    PutIfGiven(box, "id", record.id);
    // A box that had no run took no time: it has no duration rather than one of 0.
    if (row.ran) {
        box["duration_ms"] = record.durationMs;
    }
    return box;
}

// A box as a list's or check's summary shows it: what its found event told.
Json FoundBox(const Events::Found& found) {
    Json box = Json::object();
    PutIfGiven(box, "port", found.port);
    box["mode"] = ModeName(found.mode);
    PutIfGiven(box, "product", found.product);
    PutIfGiven(box, "model", found.model);
    PutIfGiven(box, "serial", found.serial);
    PutIfGiven(box, "version", found.version);
    if (found.upToDate) {
        box["up_to_date"] = *found.upToDate;
    }
    PutIfGiven(box, "verdict", found.verdict);
    return box;
}

std::string Dump(const Json& object) {
    // Text that is not UTF-8 (a box may send any byte) gets replacement characters.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
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
