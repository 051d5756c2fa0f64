#include "cli/history_query.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "cli/events.h"
#include "platform/utf8.h"

namespace ZELKUtil::Cli {
namespace {

bool Names(const std::vector<std::string>& wanted, const std::string& value) {
    return wanted.empty() || std::find(wanted.begin(), wanted.end(), value) != wanted.end();
}

bool LeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(std::int64_t year, int month) {
    constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// A formula-leading cell is shown as text; quoting then keeps commas and quotes in it. Control
// characters become "?" as in the table: a CSV shown on a terminal moves no cursor.
std::string CsvCell(const std::string& cell) {
    std::string text = OneLineText(cell);
    if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos) {
        text.insert(text.begin(), '\'');
    }
    if (text.find_first_of(",\"") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (const std::string& cell : cells) {
        line += (line.empty() ? "" : ",") + CsvCell(cell);
    }
    return line + "\n";
}

// "file=sha256" for each image, in the order written; an image that could not be read gives
// its reason in place of the digest.
std::string ImagesCell(const std::vector<ImageDigest>& images) {
    std::string cell;
    for (const ImageDigest& image : images) {
        cell += (cell.empty() ? "" : "; ") + image.file + "=" +
                (image.sha256.empty() ? "(" + image.error + ")" : image.sha256);
    }
    return cell;
}

}  // namespace

bool HistoryFilter::Lets(const HistoryRecord& record) const {
    // The boxes named are those on the ports and those with the serials, as the other commands
    // name boxes.
    const bool named = (ports.empty() && serials.empty()) ||
                       (!ports.empty() && Names(ports, record.port)) ||
                       (!serials.empty() && Names(serials, record.serial));
    if (!named || !Names(results, record.result)) {
        return false;
    }
    if (!since) {
        return true;
    }
    const std::optional<std::int64_t> time = EpochSecondsOf(record.time);
    return time && *time >= *since;
}

FilterOrWhy HistoryFilterOf(std::vector<std::string> serials, std::vector<std::string> ports,
                            std::vector<std::string> results, const std::string& since) {
    const std::vector<std::string> names = HistoryResultNames();
    for (const std::string& result : results) {
        if (std::find(names.begin(), names.end(), result) == names.end()) {
            std::string why = "--result " + result + ": no record has that result; one of ";
            for (const std::string& name : names) {
                why.append(name == names.front() ? "" : ", ").append(name);
            }
            return {std::nullopt, why};
        }
    }
    HistoryFilter filter{std::move(serials), std::move(ports), std::move(results), std::nullopt};
    if (!since.empty()) {
        filter.since = ParseSinceTime(since);
        if (!filter.since) {
            return {std::nullopt, "--since " + since +
                                      ": give a date or a UTC time, as 2026-12-08 or "
                                      "2026-12-08T10:00:00Z"};
        }
    }
    return {std::move(filter), ""};
}

std::vector<std::string> HistoryResultNames() {
    std::vector<std::string> names;
    for (const BoxResult result :
         {BoxResult::Upgraded, BoxResult::UpToDate, BoxResult::Failed, BoxResult::Interrupted,
          BoxResult::Stopped, BoxResult::LeftAlone}) {
        names.emplace_back(ResultName(result));
    }
    names.emplace_back(kUnfinished);
    names.emplace_back(kResumed);
    return names;
}

std::optional<std::int64_t> ParseSinceTime(const std::string& text) {
    // A date alone is its first second.
    const std::string time = text.size() == 10 ? text + "T00:00:00Z" : text;
    const std::optional<std::int64_t> seconds = EpochSecondsOf(time);
    if (!seconds) {
        return std::nullopt;
    }
    // The record times' reader takes any day up to 31; the operator's date must be a real one.
    const std::int64_t year = std::stoll(time.substr(0, 4));
    const int month = std::stoi(time.substr(5, 2));
    const int day = std::stoi(time.substr(8, 2));
    return day <= DaysIn(year, month) ? seconds : std::nullopt;
}

std::vector<HistoryRecord> MergeByTime(const std::vector<std::vector<HistoryRecord>>& files) {
    // Each record with the time it sorts by: its own, or the last readable one before it in its
    // file (the file's start for none), so that it keeps its neighbours.
    std::vector<std::pair<std::int64_t, const HistoryRecord*>> all;
    for (const std::vector<HistoryRecord>& file : files) {
        std::int64_t last = std::numeric_limits<std::int64_t>::min();
        for (const HistoryRecord& record : file) {
            last = EpochSecondsOf(record.time).value_or(last);
            all.emplace_back(last, &record);
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HistoryRecord> merged;
    merged.reserve(all.size());
    for (const auto& [time, record] : all) {
        merged.push_back(*record);
    }
    return merged;
}

std::string FormatHistoryCsv(const std::vector<HistoryRecord>& records) {
    std::string csv =
        CsvLine({"time", "station", "operator", "port", "model", "serial", "version_before",
                 "version_after", "result", "duration_s", "reason", "program_version", "images"});
    for (const HistoryRecord& r : records) {
        csv += CsvLine({r.time, r.host, r.operatorName, r.port, r.model, r.serial, r.versionBefore,
                        r.versionAfter, r.result, SecondsText(r.durationMs), r.reason,
                        r.programVersion, ImagesCell(r.images)});
    }
    return csv;
}

}  // namespace ZELKUtil::Cli
