// A box an earlier run left mid-road is finished by the next: the history is the write-ahead log
// of every road, and the last record on a port tells who was left there. A box met in its
// bootloader or programmer mode is that record's box only when the record says it was sent there
// (the request is on the disk before it goes out): a box the record left still in normal mode may
// have been swapped for any other since. The operator can name such a box too (--as).
#include <algorithm>

#include "cli/bench_runner.h"

namespace ZELKUtil::Cli {
namespace {

const ZelkProfile* ProfileWithId(const std::vector<ZelkProfile>& profiles, const std::string& id) {
    const auto found = std::find_if(profiles.begin(), profiles.end(),
                                    [&id](const ZelkProfile& p) { return p.id == id; });
    return found != profiles.end() ? &*found : nullptr;
}

}  // namespace

std::optional<HistoryRecord> BenchRunner::UnfinishedElsewhere(const HistoryFile& history,
                                                              const std::string& port) {
    const auto read = history.ReadAll();
    if (!read) {
        Say(port + ": the history " + history.Path() +
            " cannot be read, so no box left there by an earlier run is known: " +
            read.error().Text());
        return std::nullopt;
    }
    std::optional<HistoryRecord> last = LastRecordOn(read.value(), port);
    // A record of this run is one of its own roads, which it ends itself.
    if (!last || last->result != kUnfinished || last->id.empty() || RunOf(*last) == runId_) {
        return std::nullopt;
    }
    return last;
}

std::optional<ResumeFrom> BenchRunner::KnownBox(const Package& package,
                                                const std::optional<HistoryRecord>& left) const {
    ResumeFrom from;
    if (left) {
        from.serial = left->serial;
        from.version = left->versionBefore;
        from.recordId = left->id;
        from.recordRun = RunOf(*left);
        from.recordTime = left->time;
    }
    if (!options_.as.empty()) {
        const ZelkProfile* named = ProfileWithId(package.profiles, options_.as);
        if (named == nullptr) {
            return std::nullopt;
        }
        from.profile = *named;
        from.byOperator = true;
        from.arm = !named->LPC3131.empty();
        from.fpga = named->HasFpgaImage();
        if (left && left->model != options_.as) {
            from.recordedModel = left->model;
        }
        return from;
    }
    const std::optional<RoadMark> mark = left ? MarkNamed(left->stage) : std::nullopt;
    const ZelkProfile* profile = left ? ProfileWithId(package.profiles, left->model) : nullptr;
    if (!mark || *mark == RoadMark::Recognised || profile == nullptr) {
        return std::nullopt;
    }
    from.profile = *profile;
    // The FPGA programmer was reached: the ARM firmware, if the road wrote one, is in; anything
    // short of that writes the ARM firmware again, since a download cut short left half of it.
    from.arm = left->writes.find("ARM") != std::string::npos && *mark != RoadMark::InProgrammer &&
               !profile->LPC3131.empty();
    from.fpga = left->writes.find("FPGA") != std::string::npos && profile->HasFpgaImage();
    if (!from.arm && !from.fpga) {
        return std::nullopt;
    }
    return from;
}

std::string BenchRunner::FpgaOwedTo(const std::optional<HistoryRecord>& left) {
    const std::optional<RoadMark> mark = left ? MarkNamed(left->stage) : std::nullopt;
    if (!mark || *mark == RoadMark::Recognised || left->writes.find("FPGA") == std::string::npos) {
        return "";
    }
    return left->serial;
}

std::optional<HistoryRecord> BenchRunner::TakeUp(const PortSlot& slot, BoxOutcome& box) {
    if (!slot.leftThere) {
        return std::nullopt;
    }
    const HistoryRecord& left = *slot.leftThere;
    // A box met in normal mode takes up the record of the same box (the same serial) only; one
    // met in its bootloader, the record it was known by.
    const bool same = box.resumed ? box.resumed->recordId == left.id
                                  : !left.serial.empty() && left.serial == box.serial;
    if (!same) {
        return std::nullopt;
    }
    box.takesUp = left.id;
    HistoryRecord closed = left;
    closed.result = kResumed;
    closed.reason = "taken up by the record " + box.id;
    return closed;
}

}  // namespace ZELKUtil::Cli
