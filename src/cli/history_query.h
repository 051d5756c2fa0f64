#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/history.h"

namespace ZELKUtil::Cli {

// Which records `history` shows: with ports or serials, those of the boxes either names (on one
// of the ports, or with one of the serials); with results, only those that ended so; with
// `since`, only those from that time on (seconds since 1970, UTC).
struct HistoryFilter {
    std::vector<std::string> serials;
    std::vector<std::string> ports;
    std::vector<std::string> results;
    std::optional<std::int64_t> since;

    bool Lets(const HistoryRecord& record) const;
};

// The filter that history's options name, or why they name none: a result no record can have
// (the reason lists those it can) or a time that is no ISO 8601 date or UTC date-time.
struct FilterOrWhy {
    std::optional<HistoryFilter> filter;
    std::string why;
};
FilterOrWhy HistoryFilterOf(std::vector<std::string> serials, std::vector<std::string> ports,
                            std::vector<std::string> results, const std::string& since);

// Every result a record can have: the results a box's road ends with, then "unfinished" and
// "resumed".
std::vector<std::string> HistoryResultNames();

// A time the operator gives as an ISO 8601 date or date-time in UTC ("2026-12-08",
// "2026-12-08T10:00:00Z") as seconds since 1970; nullopt for any other text, a day the month
// does not have included.
std::optional<std::int64_t> ParseSinceTime(const std::string& text);

// The records of several history files as one list in the order of their times; records of the
// same time keep the order of their files and, within a file, the file's own order. A record
// whose time cannot be read stays where its file had it, after the records before it.
std::vector<HistoryRecord> MergeByTime(const std::vector<std::vector<HistoryRecord>>& files);

// The records as CSV with a header row, quoted as RFC 4180 quotes (a cell with a comma or a double
// quote in double quotes, its double quotes doubled; control characters become "?", as in the
// table). A cell that a spreadsheet would take for a formula (one that starts with =, +, -
// or @) starts with an apostrophe, so that it is only ever shown. Each line ends in "\n".
std::string FormatHistoryCsv(const std::vector<HistoryRecord>& records);

}  // namespace ZELKUtil::Cli
