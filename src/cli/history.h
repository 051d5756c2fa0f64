#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace ZELKUtil::Cli {

// One box's run, as the history keeps it: one JSON object per line.
struct HistoryRecord {
    std::string time;  // UTC, ISO 8601: "2026-12-07T01:37:36Z"
    std::string host;
    std::string packageFolder;
    std::string packageVersion;
    std::string port;
    std::string model;   // the profile's id
    std::string serial;  // as the box reports it
    std::string versionBefore;
    std::string versionAfter;
    std::string result;  // as the Result event says
    std::int64_t durationMs = 0;
    std::string log;  // the box's whole log, CR LF line ends as in the window
};

// The record as one JSON object on one line, without the line end; every field is written, under
// its snake_case name (package_folder, duration_ms, ...).
std::string ToJsonLine(const HistoryRecord& record);
// The record back from such a line; nullopt for a line that is no record: not a JSON object, a
// field of the wrong type, or no time, port or result.
std::optional<HistoryRecord> ParseHistoryLine(const std::string& line);
// The records as a table for a terminal: a header row, then one row per record.
std::string FormatHistoryTable(const std::vector<HistoryRecord>& records);

// The per-user history file: on Linux $XDG_STATE_HOME/zelk/history.jsonl, else
// $HOME/.local/state/zelk/history.jsonl; on Windows %LOCALAPPDATA%\ZELK\history.jsonl. `env`
// reads an environment variable ("" when unset); "" when no folder can be found.
std::string DefaultHistoryPath(const std::function<std::string(const std::string&)>& env,
                               bool windows);

// The history file on disk.
class HistoryFile {
  public:
    explicit HistoryFile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    // Makes its folder if needed and opens it for appending, so that a file that cannot be
    // written is found out before any box is touched.
    Result<void> CheckWritable() const;
    // Appends one record as one line, in one write to a file opened for appending: lines of
    // several writers on a local disk never interleave. The folder is made by CheckWritable.
    Result<void> Append(const HistoryRecord& record) const;
    // Every record, in order; lines that are no record are skipped. A file that is not there
    // holds no runs yet.
    Result<std::vector<HistoryRecord>> ReadAll() const;

  private:
    std::string path_;
};

}  // namespace ZELKUtil::Cli
