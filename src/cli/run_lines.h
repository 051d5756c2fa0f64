#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/events.h"
#include "cli/history.h"

namespace ZELKUtil::Cli {

// Milliseconds since 1970-01-01T00:00:00Z, by the system's clock: the time stamped on each line.
std::int64_t SystemUtcMs();
// Such a time as ISO 8601 UTC text to the millisecond: "2026-12-08T17:04:56.123Z".
std::string UtcMsText(std::int64_t msSinceEpoch);

// A run's id: its start ("2026-12-07T01:37:36Z") and a random part, so that the runs of several
// benches writing one history never share one.
std::string NewRunId(const std::string& now);

// A box an upgrade met, as its history record has it, and whether it had a run there (a box
// that had none has no duration).
struct SummaryBox {
    HistoryRecord record;
    bool ran = false;
};

// How a list, check or upgrade ended, as the last line of its JSON stream.
struct RunSummary {
    std::string command;  // "list", "check" or "upgrade"
    int exitCode = 0;
    // From the run's start to its end, by the run's own clock.
    std::int64_t wallMs = 0;
    // upgrade: every box the run met, as its history record has it (without its log), in port
    // order; a box that had no run (left alone, held elsewhere, no box on a port named) has no
    // duration.
    std::vector<SummaryBox> boxes;
    // list and check: every box found, as its found event told it.
    std::vector<Events::Found> found;
};
// {"event":"summary","time":...,"run":...,"command":...,"exit_code":...,"wall_ms":...,
// "boxes":[...]}, every empty text left out.
std::string ToJsonLine(const RunSummary& summary, const LineStamp& stamp);

// A failure of the whole run (the package cannot be used, the history cannot be written, no box
// found, a fault): what the error stream says, and the exit code.
struct RunError {
    std::string message;
    int exitCode = 0;
};
// {"event":"error","time":...,"run":...,"message":...,"exit_code":...}.
std::string ToJsonLine(const RunError& error, const LineStamp& stamp);

}  // namespace ZELKUtil::Cli
