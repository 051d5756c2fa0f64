#include "cli/history.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/utf8.h"

namespace ZELKUtil::Cli {
namespace {

// Keys in the order written: a person reading the file sees the time first and the long log last.
using Json = nlohmann::ordered_json;

// The text fields of a record with their names in the file, in the order the file shows them.
using TextField = std::pair<const char*, std::string HistoryRecord::*>;
constexpr std::array<TextField, 20> kTextFields = {{
    {"time", &HistoryRecord::time},
    {"host", &HistoryRecord::host},
    {"operator", &HistoryRecord::operatorName},
    {"package_folder", &HistoryRecord::packageFolder},
    {"package_version", &HistoryRecord::packageVersion},
    {"port", &HistoryRecord::port},
    {"model", &HistoryRecord::model},
    {"serial", &HistoryRecord::serial},
    {"version_before", &HistoryRecord::versionBefore},
    {"version_after", &HistoryRecord::versionAfter},
    {"result", &HistoryRecord::result},
    {"reason", &HistoryRecord::reason},
    {"id", &HistoryRecord::id},
    {"writes", &HistoryRecord::writes},
    {"stage", &HistoryRecord::stage},
    {"resumes", &HistoryRecord::resumes},
    {"named_by", &HistoryRecord::namedBy},
    {"recorded_model", &HistoryRecord::recordedModel},
    {"program_version", &HistoryRecord::programVersion},
    {"log", &HistoryRecord::log},
}};

// Fields a record leaves out when they are empty: a record that stands alone (written whole at
// its road's end) has no id, a success no reason, and the road's marks are known only for a box
// that was found; the operator is named only when given, and records of older versions tell no
// program version.
bool OmittedWhenEmpty(std::string HistoryRecord::*field) {
    return field == &HistoryRecord::id || field == &HistoryRecord::reason ||
           field == &HistoryRecord::operatorName || field == &HistoryRecord::programVersion ||
           field == &HistoryRecord::writes || field == &HistoryRecord::stage ||
           field == &HistoryRecord::resumes || field == &HistoryRecord::namedBy ||
           field == &HistoryRecord::recordedModel;
}

// A history that grew past this is not read whole into memory; at some hundred kilobytes per run
// with its log, it holds thousands of runs.
constexpr std::size_t kMaxHistoryBytes = std::size_t{512} * 1024 * 1024;

bool IsFolderSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The folder that holds the file: "" for a bare name, the root for a file in it.
std::string FolderOf(const std::string& path) {
    const auto separator = std::find_if(path.rbegin(), path.rend(), IsFolderSeparator);
    if (separator == path.rend()) {
        return "";
    }
    const auto length = static_cast<std::size_t>(path.rend() - separator) - 1;
    return path.substr(0, length == 0 ? 1 : length);
}

// A table cell shows what a terminal can show on one line: control characters, which could also
// move the cursor or change colours, become "?".
std::string Cell(const std::string& text) {
    return OneLineText(text);
}

// The columns a cell takes on a terminal: one per character, counted as UTF-8 lead bytes.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

constexpr std::size_t kDurationColumn = 6;

std::vector<std::string> Row(const HistoryRecord& record) {
    std::string versions;
    if (!record.versionBefore.empty() || !record.versionAfter.empty()) {
        versions = (record.versionBefore.empty() ? "?" : record.versionBefore) + " \u2192 " +
                   (record.versionAfter.empty() ? "?" : record.versionAfter);
    }
    return {Cell(record.time),
            Cell(record.port),
            Cell(record.model),
            Cell(record.serial),
            Cell(versions),
            Cell(record.result),
            SecondsText(record.durationMs),
            Cell(record.reason)};
}

Json ImagesJson(const std::vector<ImageDigest>& images) {
    Json list = Json::array();
    for (const ImageDigest& image : images) {
        Json entry = Json::object();
        entry["file"] = image.file;
        if (!image.sha256.empty()) {
            entry["sha256"] = image.sha256;
        }
        if (!image.error.empty()) {
            entry["error"] = image.error;
        }
        list.push_back(std::move(entry));
    }
    return list;
}

// The images of a record back; nullopt when the field is not a list of such objects.
std::optional<std::vector<ImageDigest>> ImagesFrom(const Json& list) {
    if (!list.is_array()) {
        return std::nullopt;
    }
    std::vector<ImageDigest> images;
    for (const Json& entry : list) {
        if (!entry.is_object() || !entry.contains("file") || !entry["file"].is_string()) {
            return std::nullopt;
        }
        ImageDigest image;
        image.file = entry["file"].get<std::string>();
        for (const auto& [name, field] :
             {std::pair{"sha256", &ImageDigest::sha256}, std::pair{"error", &ImageDigest::error}}) {
            if (const auto it = entry.find(name); it != entry.end()) {
                if (!it->is_string()) {
                    return std::nullopt;
                }
                image.*field = it->get<std::string>();
            }
        }
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace

std::string ToJsonLine(const HistoryRecord& record) {
    Json object = Json::object();
    for (const auto& [name, field] : kTextFields) {
        // The images and the duration before the log, which is long.
        if (field == &HistoryRecord::log) {
            if (!record.images.empty()) {
                object["images"] = ImagesJson(record.images);
            }
            object["duration_ms"] = record.durationMs;
        }
        if (OmittedWhenEmpty(field) && (record.*field).empty()) {
            continue;
        }
        object[name] = record.*field;
    }
    // Text that is not UTF-8 gets replacement characters rather than losing the record.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ToJsonLine(const RunRecord& record) {
    Json object = Json::object();
    object["time"] = record.time;
    object["host"] = record.host;
    object["package_folder"] = record.packageFolder;
    object["package_version"] = record.packageVersion;
    object["run"] = record.run;
    if (!record.operatorName.empty()) {
        object["operator"] = record.operatorName;
    }
    if (!record.programVersion.empty()) {
        object["program_version"] = record.programVersion;
    }
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ToJsonLine(const RunEndRecord& record) {
    Json object = Json::object();
    object["time"] = record.time;
    object["host"] = record.host;
    object["run"] = record.run;
    object["exit_code"] = record.exitCode;
    object["wall_ms"] = record.wallMs;
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<HistoryRecord> ParseHistoryLine(const std::string& line) {
    const Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    HistoryRecord record;
    for (const auto& [name, field] : kTextFields) {
        const auto it = object.find(name);
        if (it == object.end()) {
            continue;
        }
        if (!it->is_string()) {
            return std::nullopt;
        }
        record.*field = it->get<std::string>();
    }
    // Without a time, a port and a result there is no run to show.
    if (record.time.empty() || record.port.empty() || record.result.empty()) {
        return std::nullopt;
    }
    if (const auto it = object.find("duration_ms"); it != object.end()) {
        const bool fits =
            it->is_number_integer() &&
            (!it->is_number_unsigned() ||
             it->get<std::uint64_t>() <=
                 static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
        if (!fits) {
            return std::nullopt;
        }
        record.durationMs = it->get<std::int64_t>();
    }
    if (const auto it = object.find("images"); it != object.end()) {
        std::optional<std::vector<ImageDigest>> images = ImagesFrom(*it);
        if (!images) {
            return std::nullopt;
        }
        record.images = std::move(*images);
    }
    return record;
}

std::string FormatHistoryTable(const std::vector<HistoryRecord>& records, bool withStation) {
    std::vector<std::vector<std::string>> rows = {{"time", "port", "model", "serial",
                                                   "before \u2192 after", "result", "duration (s)",
                                                   "reason"}};
    for (const HistoryRecord& record : records) {
        rows.push_back(Row(record));
    }
    // The station after the time, the duration one column further.
    const std::size_t durationColumn = kDurationColumn + (withStation ? 1 : 0);
    if (withStation) {
        rows.front().insert(rows.front().begin() + 1, "station");
        for (std::size_t i = 1; i < rows.size(); ++i) {
            rows[i].insert(rows[i].begin() + 1, Cell(records[i - 1].host));
        }
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], Width(row[i]));
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - Width(row[i]), ' ');
            // The duration is a number: right-aligned, so its digits line up. The reason, last
            // and often empty, has no padding after it.
            if (i == durationColumn) {
                line += padding + row[i] + "  ";
            } else if (i + 1 == row.size()) {
                line += row[i];
            } else {
                line += row[i] + padding + "  ";
            }
        }
        // A row without a reason ends with the duration.
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        table += line + "\n";
    }
    return table;
}

std::string DefaultHistoryPath(const std::function<std::string(const std::string&)>& env,
                               bool windows) {
    if (windows) {
        const std::string local = env("LOCALAPPDATA");
        if (local.empty()) {
            return "";
        }
        const bool separated = local.back() == '\\' || local.back() == '/';
        return local + (separated ? "" : "\\") + "ZELK\\history.jsonl";
    }
    // A relative XDG_STATE_HOME is invalid and to be ignored, as the XDG base directories say.
    std::string state = env("XDG_STATE_HOME");
    if (state.empty() || state.front() != '/') {
        const std::string home = env("HOME");
        if (home.empty()) {
            return "";
        }
        state = home + (home.back() == '/' ? "" : "/") + ".local/state";
    }
    return state + (state.back() == '/' ? "" : "/") + "zelk/history.jsonl";
}

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The number of `width` digits at `at`, or nullopt.
std::optional<std::int64_t> Digits(const std::string& text, std::size_t at, std::size_t width) {
    std::int64_t value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2026-12-07T01:37:36Z" as seconds since 1970; nullopt for any other text.
std::optional<std::int64_t> EpochSeconds(const std::string& time) {
    if (time.size() != 20 || time[4] != '-' || time[7] != '-' || time[10] != 'T' ||
        time[13] != ':' || time[16] != ':' || time[19] != 'Z') {
        return std::nullopt;
    }
    const auto y = Digits(time, 0, 4);
    const auto mo = Digits(time, 5, 2);
    const auto d = Digits(time, 8, 2);
    const auto h = Digits(time, 11, 2);
    const auto mi = Digits(time, 14, 2);
    const auto s = Digits(time, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 ||
        *mi > 59 || *s > 60) {
        return std::nullopt;
    }
    constexpr std::int64_t kDay = 86400;
    constexpr std::int64_t kHour = 3600;
    constexpr std::int64_t kMinute = 60;
    return DaysFromCivil(*y, static_cast<unsigned>(*mo), static_cast<unsigned>(*d)) * kDay +
           *h * kHour + *mi * kMinute + *s;
}

}  // namespace

std::optional<std::int64_t> EpochSecondsOf(const std::string& time) {
    return EpochSeconds(time);
}

std::optional<std::int64_t> SecondsBetween(const std::string& earlier, const std::string& later) {
    const std::optional<std::int64_t> from = EpochSeconds(earlier);
    const std::optional<std::int64_t> to = EpochSeconds(later);
    if (!from || !to) {
        return std::nullopt;
    }
    return *to - *from;
}

std::optional<HistoryRecord> LastRecordOn(const HistoryContents& history, const std::string& port) {
    for (auto record = history.records.rbegin(); record != history.records.rend(); ++record) {
        if (record->port == port) {
            return *record;
        }
    }
    return std::nullopt;
}

std::string RunOf(const HistoryRecord& record) {
    return record.id.substr(0, record.id.find('/'));
}

Result<void> HistoryFile::Begin(const RunRecord& run) const {
    if (const std::string folder = FolderOf(path_); !folder.empty()) {
        if (Result<void> made = Files::MakeFolders(folder); !made) {
            return made;
        }
    }
    return Files::AppendLine(path_, ToJsonLine(run));
}

Result<void> HistoryFile::Append(const HistoryRecord& record) const {
    return Files::AppendLine(path_, ToJsonLine(record));
}

Result<void> HistoryFile::End(const RunEndRecord& end) const {
    return Files::AppendLine(path_, ToJsonLine(end));
}

namespace {

// A run's own record: an object with a run id and no port. Not a box's record, and not a line
// that could not be read.
bool IsRunRecord(const std::string& line) {
    const Json object = Json::parse(line, nullptr, false);
    return object.is_object() && object.contains("run") && !object.contains("port");
}

}  // namespace

Result<HistoryContents> HistoryFile::ReadAll() const {
    Result<std::string> text = Files::ReadHead(path_, kMaxHistoryBytes + 1);
    if (!text) {
        // No runs yet: the file is made with the first.
        if (text.error().kind == ErrorKind::NotFound) {
            return HistoryContents{};
        }
        return text.error();
    }
    if (text.value().size() > kMaxHistoryBytes) {
        return Error{ErrorKind::MalformedContent, "read " + path_,
                     "larger than " + std::to_string(kMaxHistoryBytes >> 20) + " MiB"};
    }
    HistoryContents contents;
    // Where each box run's record stands, so that its later record takes that place.
    std::map<std::string, std::size_t> placeOf;
    std::size_t start = 0;
    const std::string& all = text.value();
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        // A line ended CR LF by an editor on Windows reads the same.
        std::size_t length = end - start;
        if (length > 0 && all[end - 1] == '\r') {
            --length;
        }
        const std::string line = all.substr(start, length);
        start = end + 1;
        if (line.find_first_not_of(" \t") == std::string::npos || IsRunRecord(line)) {
            continue;
        }
        std::optional<HistoryRecord> record = ParseHistoryLine(line);
        if (!record) {
            ++contents.unreadable;
            continue;
        }
        if (record->id.empty()) {
            contents.records.push_back(std::move(*record));
            continue;
        }
        const auto [place, first] = placeOf.emplace(record->id, contents.records.size());
        if (first) {
            contents.records.push_back(std::move(*record));
        } else {
            contents.records[place->second] = std::move(*record);
        }
    }
    return contents;
}

std::string SecondsText(std::int64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

}  // namespace ZELKUtil::Cli
