// `zelk-cli history`: the records of one history file or of several stations' files, merged by
// time, filtered, as a table, CSV or JSON lines. What was read (and what could not be) goes to
// the error stream, so that standard output holds only the records.
#include <set>

#include "cli/bench_runner.h"
#include "cli/history_query.h"
#include "platform/files.h"

namespace ZELKUtil::Cli {

int BenchRunner::ShowHistory() {
    const FilterOrWhy asked =
        HistoryFilterOf(options_.serials, options_.ports, options_.results, options_.since);
    if (!asked.filter) {
        Say("zelk-cli: " + asked.why);
        return kExitUsage;
    }
    std::vector<std::string> paths = options_.historyFiles;
    if (paths.empty()) {
        paths.push_back(options_.history.empty() ? seams_.defaultHistory : options_.history);
    }
    if (paths.front().empty()) {
        Say("No folder for the history: name a file with --history.");
        return kExitHistoryUnreadable;
    }
    bool unreadable = false;
    std::vector<std::vector<HistoryRecord>> files;
    for (const std::string& path : paths) {
        // A file that is not there holds no runs yet: not an error, but said, so that a wrong
        // name is not taken for an empty history.
        if (!Files::Exists(path)) {
            Say("zelk-cli: no history yet: " + path + " does not exist");
            continue;
        }
        const Result<HistoryContents> read = HistoryFile(path).ReadAll();
        if (!read) {
            Say("The history " + path + " cannot be read: " + read.error().Text());
            unreadable = true;
            continue;
        }
        Say("zelk-cli: read the history " + path + ": " +
            std::to_string(read.value().records.size()) + " box record(s)");
        if (read.value().unreadable > 0) {
            Say("The history " + path + " has " + std::to_string(read.value().unreadable) +
                " line(s) that are no record; they were skipped.");
        }
        files.push_back(read.value().records);
    }
    std::vector<HistoryRecord> shown = MergeByTime(files);
    std::erase_if(shown, [&asked](const HistoryRecord& r) { return !asked.filter->Lets(r); });
    ShowRecords(shown, paths.size() > 1);
    if (seams_.outTookAll && !seams_.outTookAll()) {
        Say("zelk-cli: the history could not be written to standard output (closed, or the disk "
            "is full)");
        return kExitHistoryUnreadable;
    }
    return unreadable ? kExitHistoryUnreadable : kExitOk;
}

void BenchRunner::ShowRecords(const std::vector<HistoryRecord>& records, bool severalFiles) {
    if (options_.json) {
        // One record a line, each box once with what its last record says.
        for (const HistoryRecord& record : records) {
            seams_.out(ToJsonLine(record));
        }
        return;
    }
    if (records.empty() && !options_.csv) {
        // Nothing to show: the error stream has said what was read, or that there is no history.
        return;
    }
    std::string text;
    if (options_.csv) {
        text = FormatHistoryCsv(records);
    } else {
        // The station shows where the records may come from more than one.
        std::set<std::string> stations;
        for (const HistoryRecord& record : records) {
            stations.insert(record.host);
        }
        text = FormatHistoryTable(records, severalFiles || stations.size() > 1);
    }
    text.pop_back();  // each line of the output gets its own line end
    seams_.out(text);
}

}  // namespace ZELKUtil::Cli
