#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace ZELKUtil::Cli {

// An image written into a box: its name in the package folder and the SHA-256 of the package's
// file, read once per run; `error` says why there is no digest when the file could not be read.
struct ImageDigest {
    std::string file;
    std::string sha256;
    std::string error;
    bool operator==(const ImageDigest&) const = default;
};

// One box's run, as the history keeps it: one JSON object per line. A box's record is written
// before anything is written into the box, with the result "unfinished", and written again under
// the same id when its road ends: the later line completes the earlier.
struct HistoryRecord {
    std::string time;          // UTC, ISO 8601: "2026-12-07T01:37:36Z"
    std::string host;          // the station: --station, else the host's name
    std::string operatorName;  // --operator; "" when not given, and then not written
    std::string packageFolder;
    std::string packageVersion;
    std::string port;
    std::string model;   // the profile's id
    std::string serial;  // as the box reports it
    std::string versionBefore;
    std::string versionAfter;
    std::string result;  // as the Result event says; "unfinished" while its road goes on
    std::string reason;  // as the Result event says: why, for any result but a success
    std::int64_t durationMs = 0;
    std::string log;  // the box's whole log, CR LF line ends as in the window
    std::string id;   // the box's run, the same in its first and its last record
    // What a later run needs to finish a box this one left mid-road (each "" when not known, and
    // then not written): what the road writes ("ARM", "FPGA", "ARM and FPGA"), how far it got
    // (a RoadMark's name), the record this one takes up, and who named the box when it was met
    // only in its bootloader or programmer mode ("history", "operator"), with the model an
    // earlier record gave where the operator named another.
    std::string writes;
    std::string stage;
    std::string resumes;
    std::string namedBy;
    std::string recordedModel;
    // "zelk-cli X.Y.Z", which wrote the record ("" in records of older versions).
    std::string programVersion;
    // Every image whose writing into the box began, in that order, each once.
    std::vector<ImageDigest> images;
};
inline constexpr const char* kUnfinished = "unfinished";
// The result of a record that a later run took up: that run's record tells how the box ended.
inline constexpr const char* kResumed = "resumed";

// The record of one zelk-cli run, written first, before any box is touched: it shows that the
// history can be written.
struct RunRecord {
    std::string time;
    std::string host;
    std::string packageFolder;
    std::string packageVersion;
    std::string run;  // the run's id, the prefix of its boxes' ids
    std::string operatorName = {};
    std::string programVersion = {};
};
std::string ToJsonLine(const RunRecord& record);

// The closing record of a run that wrote its run record: how it ended and how long it took,
// written last. Readers of box records skip it as they skip the run record.
struct RunEndRecord {
    std::string time;
    std::string host;
    std::string run;
    int exitCode = 0;
    std::int64_t wallMs = 0;
};
std::string ToJsonLine(const RunEndRecord& record);

// The record as one JSON object on one line, without the line end; every field is written, under
// its snake_case name (package_folder, duration_ms, ...).
std::string ToJsonLine(const HistoryRecord& record);
// The record back from such a line; nullopt for a line that is no record: not a JSON object, a
// field of the wrong type, or no time, port or result.
std::optional<HistoryRecord> ParseHistoryLine(const std::string& line);
// A duration in seconds with one decimal, as the table and the CSV show it: "17.9".
std::string SecondsText(std::int64_t milliseconds);
// The records as a table for a terminal: a header row, then one row per record; the station
// (the record's host) as the second column when asked, for the records of several stations.
std::string FormatHistoryTable(const std::vector<HistoryRecord>& records, bool withStation = false);

// The per-user history file: on Linux $XDG_STATE_HOME/zelk/history.jsonl, else
// $HOME/.local/state/zelk/history.jsonl; on Windows %LOCALAPPDATA%\ZELK\history.jsonl. `env`
// reads an environment variable ("" when unset); "" when no folder can be found.
std::string DefaultHistoryPath(const std::function<std::string(const std::string&)>& env,
                               bool windows);

// What a history holds: every box's record, the later record of a box's run in the place of its
// first, and how many lines could not be read (a torn or foreign line never takes a good record
// with it).
struct HistoryContents {
    std::vector<HistoryRecord> records;
    std::size_t unreadable = 0;
};

// A record time ("2026-12-07T01:37:36Z") as seconds since 1970; nullopt for any other text.
std::optional<std::int64_t> EpochSecondsOf(const std::string& time);

// The seconds from one record time to another ("2026-12-07T01:37:36Z"); nullopt when either is
// no such time.
std::optional<std::int64_t> SecondsBetween(const std::string& earlier, const std::string& later);

// The last record of a box on the port, in the history's order; none when no box was recorded
// there. Only the port's last record tells who was left there.
std::optional<HistoryRecord> LastRecordOn(const HistoryContents& history, const std::string& port);

// The run a box's record belongs to: its id up to the first "/" ("" for a record without one).
std::string RunOf(const HistoryRecord& record);

// The history file on disk.
class HistoryFile {
  public:
    explicit HistoryFile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    // Makes its folder if needed and writes the run's record, on the disk when it returns: a
    // history that cannot be written (a full disk included) is found out before any box is
    // touched. Only a regular file is written: a FIFO or a device is refused at once.
    Result<void> Begin(const RunRecord& run) const;
    // Appends one record as one line, synced, in one write to a file opened for appending: lines
    // of several writers on a local disk never interleave, and a torn last line is ended first.
    Result<void> Append(const HistoryRecord& record) const;
    // Appends the run's closing record, as Append does.
    Result<void> End(const RunEndRecord& end) const;
    // Every record, in order. A file that is not there holds no runs yet.
    Result<HistoryContents> ReadAll() const;

  private:
    std::string path_;
};

}  // namespace ZELKUtil::Cli
