// The bench runner's upgrade: one run per box, each confined to its port, side by side where the
// package's tools can be told the port and one at a time where they cannot; a history record for
// every box, on the disk before anything is written into it; an exit code that is 0 only when
// every box asked for has the package's version.
#include <algorithm>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#include "cli/bench_runner.h"
#include "cli/image_digests.h"
#include "controller/periods.h"

namespace ZELKUtil::Cli {
namespace {

constexpr const char* kNoBoxHere = "no box on this port";
constexpr const char* kHeldElsewhere = "another zelk-cli is upgrading the box on this port";
constexpr const char* kHistoryRefused = "the history cannot be written, so the box was not touched";
constexpr const char* kAsInNormalMode =
    "--as names a box in its bootloader or programmer mode, and this box answers in normal mode, "
    "where it tells its own model";
constexpr const char* kPortNotTold =
    "the system does not tell the box's USB port: it is upgraded only alone on the bus, without "
    "--watch";

BoxOutcome Outcome(BoxResult result, std::string reason) {
    BoxOutcome outcome;
    outcome.result = result;
    outcome.reason = std::move(reason);
    outcome.ran = false;
    return outcome;
}

}  // namespace

int BenchRunner::Upgrade() {
    const std::optional<Package> package = CheckPackage();
    if (!package) {
        return kExitPackage;
    }
    // Found out before any box is touched, never after a flash: the run's own record is written
    // and synced first.
    const HistoryFile history(options_.history.empty() ? seams_.defaultHistory : options_.history);
    if (history.Path().empty()) {
        return Fail(kExitHistory, "No folder for the history: name a file with --history.");
    }
    if (!options_.as.empty() &&
        std::none_of(package->profiles.begin(), package->profiles.end(),
                     [this](const ZelkProfile& p) { return p.id == options_.as; })) {
        return Fail(kExitUsage,
                    "--as " + options_.as + ": the package has no profile with that id");
    }
    RunRecord run{seams_.utcNow(), Station(), options_.package, package->versionLine, runId_};
    run.operatorName = options_.operatorName;
    run.programVersion = seams_.programVersion;
    const std::int64_t startMs = seams_.clock.NowMs();
    if (const auto begun = history.Begin(run); !begun) {
        // A FIFO or a device in the history's place is refused, never waited on.
        return Fail(kExitHistory, "The history " + history.Path() + " cannot be written: " +
                                      (begun.error().kind == ErrorKind::NotAFile
                                           ? "refused: it is not a regular file"
                                           : begun.error().Text()));
    }
    // Each image once, whatever number of boxes it goes into.
    imageDigests_ = DigestImages(options_.package, PackageImageNames(package->profiles));
    return CloseRun(history, UpgradeBoxes(*package, history), startMs);
}

const std::string& BenchRunner::Station() const {
    return options_.station.empty() ? seams_.host : options_.station;
}

int BenchRunner::CloseRun(const HistoryFile& history, int code, std::int64_t startMs) {
    const RunEndRecord end{seams_.utcNow(), Station(), runId_, code,
                           seams_.clock.NowMs() - startMs};
    if (const auto closed = history.End(end); !closed) {
        const std::string why =
            "The history " + history.Path() +
            " could not take the run's closing record: " + closed.error().Text();
        if (code != kExitOk) {
            Say(why);
            return code;
        }
        return Fail(kExitHistory, why);
    }
    return code;
}

int BenchRunner::UpgradeBoxes(const Package& package, const HistoryFile& history) {
    try {
        return StartAndWatch(package, history);
    } catch (...) {
        // A fault leaves the upgrade only once the runs under way have finished their boxes,
        // which use its package and history; the boxes they finished are in the run's summary.
        JoinRuns();
        Summarize(Outcomes(), package);
        throw;
    }
}

int BenchRunner::StartAndWatch(const Package& package, const HistoryFile& history) {
    const std::vector<std::string> there = PresentPorts(package);
    std::vector<std::string> asked = AskedPorts(there, package, history);
    for (const std::string& port : asked) {
        if (port.empty() && (there.size() != 1 || options_.watch)) {
            LeaveUntoldPortAlone();
        } else if (Listed(there, port)) {
            StartSlot(port, package, history);
        } else if (!options_.watch) {
            // Under --watch a named port waits for its box.
            Emit(Events::Ended{port, BoxResult::Failed, kNoBoxHere});
            Say(port + ": " + kNoBoxHere);
            emptyPorts_.push_back(port);
        }
    }
    Watch(asked, package, history);
    return Finish(asked, package);
}

void BenchRunner::Watch(std::vector<std::string>& asked, const Package& package,
                        const HistoryFile& history) {
    // With ports or serials named, the watch takes the boxes plugged into those ports and the
    // boxes with those serials wherever they are plugged in, and touches no other.
    const bool confined = !options_.ports.empty() || !options_.serials.empty();
    while (options_.watch && !stopping_.load()) {
        // A production line: every box plugged in from now on, once per plug-in.
        const std::vector<std::string> now = PresentPorts(package);
        for (const std::string& port : now) {
            if (port.empty()) {
                // Named ports leave it out of the watch; otherwise it cannot be watched alone.
                if (!confined) {
                    LeaveUntoldPortAlone();
                }
                continue;
            }
            if (leftAlonePorts_.count(port) != 0) {
                continue;
            }
            const auto named = [&] {
                return !confined || Listed(options_.ports, port) ||
                       NamedBySerial(port, package, history);
            };
            const auto slot = slots_.find(port);
            if (slot == slots_.end() && !named()) {
                continue;
            }
            if (slot != slots_.end()) {
                // A box that took an ended run's place between two looks is a new box all the
                // same: its arrival is not missed because no look saw the port empty.
                const std::vector<Events::Found> there =
                    slot->second->ended.load() ? Look(package, port) : std::vector<Events::Found>{};
                if (there.empty() || !AnotherBox(*slot->second, there.front())) {
                    continue;
                }
                EndSlot(slot);
                if (!named()) {
                    continue;
                }
            }
            StartSlot(port, package, history);
            if (!Listed(asked, port)) {
                asked.push_back(port);
            }
        }
        for (auto slot = slots_.begin(); slot != slots_.end();) {
            if (!Listed(now, slot->first) && slot->second->ended.load()) {
                slot = EndSlot(slot);
            } else {
                ++slot;
            }
        }
        // A port left alone, or whose box was not named, is looked at again once it is empty.
        std::erase_if(leftAlonePorts_,
                      [&now](const std::string& port) { return !Listed(now, port); });
        std::erase_if(strangers_, [&now](const std::string& port) { return !Listed(now, port); });
        seams_.clock.SleepMs(Periods::kBusLookMs);
    }
}

void BenchRunner::Summarize(const std::vector<std::pair<std::string, BoxOutcome>>& outcomes,
                            const Package& package) {
    std::vector<SummaryBox> rows;
    rows.reserve(outcomes.size() + emptyPorts_.size());
    for (const auto& [port, outcome] : outcomes) {
        rows.push_back({RecordOf(outcome, port, package), outcome.ran});
    }
    for (const std::string& port : emptyPorts_) {
        rows.push_back({RecordOf(Outcome(BoxResult::Failed, kNoBoxHere), port, package), false});
    }
    for (const std::string& serial : missingSerials_) {
        BoxOutcome missing = Outcome(BoxResult::Failed, "no box present has this serial");
        missing.serial = serial;
        rows.push_back({RecordOf(missing, "", package), false});
    }
    std::sort(rows.begin(), rows.end(), [](const SummaryBox& a, const SummaryBox& b) {
        return std::tie(a.record.port, a.record.time) < std::tie(b.record.port, b.record.time);
    });
    const std::lock_guard<std::mutex> lock(outputLock_);
    // Under --json the rows go into the run's summary, which ends the stream with the exit code.
    summaryRows_ = rows;
    if (options_.json || rows.empty()) {
        return;
    }
    std::vector<HistoryRecord> records;
    records.reserve(rows.size());
    for (const SummaryBox& row : rows) {
        records.push_back(row.record);
    }
    std::string table = FormatHistoryTable(records);
    table.pop_back();  // each line of the output gets its own line end
    seams_.out(table);
}

BenchRunner::Slots::iterator BenchRunner::EndSlot(Slots::iterator slot) {
    slot->second->thread.join();
    for (const BoxOutcome& outcome : slot->second->outcomes) {
        ended_.emplace_back(slot->first, outcome);
    }
    return slots_.erase(slot);
}

bool BenchRunner::AnotherBox(PortSlot& slot, const Events::Found& found) {
    // Only what the look read counts: a box that did not answer a read is not another for it.
    const auto differs = [](const std::string& was, const std::string& now) {
        return !was.empty() && !now.empty() && was != now;
    };
    if (!slot.outcomes.empty() && found.mode == BoxMode::Normal) {
        const BoxOutcome& last = slot.outcomes.back();
        const std::string& version =
            last.versionAfter.empty() ? last.versionBefore : last.versionAfter;
        if (differs(last.serial, found.serial) || differs(version, found.version)) {
            return true;
        }
    }
    if (!slot.settled) {
        slot.settled = found;
        return false;
    }
    return slot.settled->mode != found.mode || differs(slot.settled->serial, found.serial) ||
           differs(slot.settled->version, found.version);
}

void BenchRunner::LeaveAlone(const std::string& port, BoxResult result, const std::string& why) {
    if (!leftAlonePorts_.insert(port).second) {
        return;
    }
    Emit(Events::Ended{port, result, why});
    Say(port + ": " + ResultName(result) + ": " + why);
    ended_.emplace_back(port, Outcome(result, why));
}

void BenchRunner::StartSlot(const std::string& port, const Package& package,
                            const HistoryFile& history) {
    if (historyBroken_.load()) {
        LeaveAlone(port, BoxResult::Failed, kHistoryRefused);
        return;
    }
    auto slot = std::make_unique<PortSlot>();
    slot->port = port;
    if (seams_.claimPort) {
        std::string why;
        slot->claim = seams_.claimPort(port, &why);
        if (!slot->claim) {
            // Another zelk-cli is upgrading that box: no run, no record, which would be false.
            if (portsHeldElsewhere_.insert(port).second) {
                Say(port + ": left alone: " + kHeldElsewhere);
                ended_.emplace_back(port, Outcome(BoxResult::LeftAlone, kHeldElsewhere));
            }
            return;
        }
        if (!why.empty() && !std::exchange(claimsUnavailableSaid_, true)) {
            Say("Ports cannot be claimed, so another zelk-cli could work on the same box: " + why);
        }
    }
    // Who the box is, before any other word of it: the upgrade's verdict as `list` gives it.
    const std::vector<Events::Found> looked = Look(package, port);
    for (const Events::Found& found : looked) {
        Emit(found);
    }
    const bool inNormalMode = !looked.empty() && looked.front().mode == BoxMode::Normal;
    if (!options_.as.empty() && inNormalMode) {
        LeaveAlone(port, BoxResult::LeftAlone, kAsInNormalMode);
        return;
    }
    slot->leftThere = UnfinishedElsewhere(history, port);
    if (!looked.empty() && !inNormalMode) {
        slot->resume = KnownBox(package, slot->leftThere);
    }
    // dfu-util is told the port where the port's name is its path; DFUAPP cannot be told which
    // box, so a box whose road takes it is upgraded alone. The STAPL player cannot either: the
    // FPGA's stretch of each road takes the programmer's turn (see ProgrammerTurn).
    if (!package.dfuUtil || !seams_.portsAreDfuUtilPaths) {
        const std::lock_guard<std::mutex> lock(turnsLock_);
        slot->turn = turnsIssued_++;
    }
    PortSlot& running = *slot;
    slots_[port] = std::move(slot);
    running.thread = std::thread([this, &running, &package, &history] {
        // A fault in one box's run is that box's failure: the others go on.
        try {
            RunSlot(running, package, history);
        } catch (const std::exception& fault) {
            EndInFault(running, fault.what());
        } catch (...) {
            EndInFault(running, "an unknown fault");
        }
        running.ended = true;
    });
}

HistoryRecord BenchRunner::RecordOf(const BoxOutcome& box, const std::string& port,
                                    const Package& package) const {
    HistoryRecord record;
    record.time = box.startedAt.empty() ? seams_.utcNow() : box.startedAt;
    record.host = Station();
    record.operatorName = options_.operatorName;
    record.programVersion = seams_.programVersion;
    record.packageFolder = options_.package;
    record.packageVersion = package.versionLine;
    record.port = port;
    record.model = box.model;
    record.serial = box.serial;
    record.versionBefore = box.versionBefore;
    record.versionAfter = box.versionAfter;
    record.result = box.result ? ResultName(*box.result) : kUnfinished;
    record.reason = box.reason;
    record.durationMs = box.durationMs;
    record.log = box.log;
    record.id = box.id;
    record.writes = WrittenText(box.writesArm, box.writesFpga);
    record.stage = box.id.empty() ? "" : MarkName(box.mark);
    record.resumes = box.takesUp;
    if (box.resumed) {
        record.namedBy = box.resumed->byOperator ? "operator" : "history";
        record.recordedModel = box.resumed->recordedModel;
    }
    for (const std::string& image : box.images) {
        const auto digest = imageDigests_.find(image);
        record.images.push_back(digest != imageDigests_.end()
                                    ? digest->second
                                    : ImageDigest{image, "", "not an image the package names"});
    }
    return record;
}

void BenchRunner::Keep(const HistoryFile& history, const HistoryRecord& record) {
    const std::lock_guard<std::mutex> lock(keepLock_);
    if (record.result == kUnfinished) {
        underway_[record.port] = record;
    } else if (const auto it = underway_.find(record.port);
               it != underway_.end() && it->second.id == record.id) {
        underway_.erase(it);
    }
    if (const auto appended = history.Append(record); !appended) {
        // No further box is started; the runs under way finish. Said once.
        if (!historyBroken_.exchange(true)) {
            Say(record.port + ": the history " + history.Path() +
                " could not be written: " + appended.error().Text());
        }
    }
}

void BenchRunner::NoteUnderway(const std::string& why) {
    std::map<std::string, BoxState> states;
    {
        const std::lock_guard<std::mutex> lock(outputLock_);
        states = states_;
    }
    const HistoryFile history(options_.history.empty() ? seams_.defaultHistory : options_.history);
    const std::lock_guard<std::mutex> lock(keepLock_);
    for (auto& [port, record] : underway_) {
        // Still unfinished, now with where it was: its stage tells the next run how to go on.
        const auto state = states.find(port);
        record.reason =
            why + (state != states.end() ? std::string(" while it was ") + StateName(state->second)
                                         : std::string());
        (void)history.Append(record);
    }
}

void BenchRunner::RunSlot(PortSlot& slot, const Package& package, const HistoryFile& history) {
    const BenchTurn turn = TakeTurn(slot);
    const std::unique_ptr<BoxPlatform> platform = seams_.newPlatform();
    BoxRunSettings settings;
    settings.packageFolder = options_.package;
    settings.nativeMachine = seams_.nativeMachine;
    settings.dfuUtilPort = seams_.portsAreDfuUtilPaths ? Confinement(slot.port) : std::nullopt;
    settings.profiles = package.profiles;
    settings.limitMs = std::int64_t{options_.timeoutMinutes} * 60 * 1000;
    settings.installerGate = installerGate_;
    settings.programmerTurn = programmerTurn_;
    settings.resume = slot.resume;
    {
        const std::lock_guard<std::mutex> lock(boundsLock_);
        settings.knownBounds.assign(bounds_.begin(), bounds_.end());
    }
    settings.fpgaOwedTo = FpgaOwedTo(slot.leftThere);
    if (slot.resume && !slot.resume->recordTime.empty()) {
        settings.resumeAgeSeconds = SecondsBetween(slot.resume->recordTime, seams_.utcNow());
    }
    BoxRunHooks hooks;
    hooks.started = [this, &slot, &package, &history](BoxOutcome& box) {
        if (historyBroken_.load()) {
            return false;
        }
        box.id = runId_ + "/" + slot.port + "/" + std::to_string(++boxesFound_);
        box.startedAt = seams_.utcNow();
        const std::optional<HistoryRecord> closed = TakeUp(slot, box);
        Keep(history, RecordOf(box, slot.port, package));
        // The earlier record is closed once the new one, which takes it up, is on the disk.
        if (closed && !historyBroken_.load()) {
            Keep(history, *closed);
        }
        return !historyBroken_.load();
    };
    hooks.bounds = [this](const std::vector<std::pair<std::string, BoxLedger::Bounds>>& known) {
        const std::lock_guard<std::mutex> lock(boundsLock_);
        for (const auto& [serial, kept] : known) {
            bounds_[serial] = kept;
        }
    };
    hooks.waitsForProgrammer = [this, &slot](const std::string& other) {
        Say(slot.port + ": waits for " + (other.empty() ? "another box" : other) +
            " to finish its FPGA and be unplugged: one box at a time may be the FPGA programmer, "
            "as the STAPL player cannot be told which box to program");
    };
    hooks.progressed = [this, &slot, &package, &history](const BoxOutcome& box) {
        Keep(history, RecordOf(box, slot.port, package));
    };
    hooks.ended = [this, &slot, &package, &history](const BoxOutcome& box) {
        slot.outcomes.push_back(box);
        // A box never found in normal mode and stopped has nothing to keep.
        if (box.result != BoxResult::Stopped || !box.id.empty()) {
            Keep(history, RecordOf(box, slot.port, package));
        }
    };
    BoxRun run(
        *platform, seams_.clock, slot.port, settings,
        [this](const BoxEvent& event) { Emit(event); }, std::move(hooks), stopping_);
    (void)run.Run();
}

void BenchRunner::EndInFault(PortSlot& slot, const std::string& what) {
    slot.outcomes.push_back(Outcome(BoxResult::Failed, "the run ended in a fault: " + what));
    slot.outcomes.back().ran = true;
    Emit(Events::Ended{slot.port, BoxResult::Failed, slot.outcomes.back().reason});
    Say(slot.port + ": failed: the run ended in a fault: " + what);
}

std::string BenchRunner::Waiting() {
    const std::lock_guard<std::mutex> lock(outputLock_);
    std::string waiting;
    for (const auto& [port, state] : states_) {
        if (!waiting.empty()) {
            waiting += ", ";
        }
        waiting.append(port).append(" (").append(StateName(state)).append(")");
    }
    return waiting.empty() ? "nothing" : waiting;
}

BenchTurn BenchRunner::TakeTurn(const PortSlot& slot) {
    if (!slot.turn) {
        return {};
    }
    const std::uint64_t mine = *slot.turn;
    std::unique_lock<std::mutex> lock(turnsLock_);
    if (serving_ != mine) {
        lock.unlock();
        Emit(Events::State{slot.port, BoxState::WaitingForBox});
        Say(slot.port +
            ": waits: another box is being upgraded, and this package's tools cannot be told "
            "which box to program");
        lock.lock();
        nextTurn_.wait(lock, [this, mine] { return serving_ == mine; });
    }
    return BenchTurn([this] {
        {
            const std::lock_guard<std::mutex> passing(turnsLock_);
            ++serving_;
        }
        nextTurn_.notify_all();
    });
}

void BenchRunner::LeaveUntoldPortAlone() {
    if (std::exchange(untoldPortSaid_, true)) {
        return;
    }
    Emit(Events::Ended{"", BoxResult::Failed, kPortNotTold});
    Say(std::string("A box was left alone: ") + kPortNotTold);
    ended_.emplace_back("", Outcome(BoxResult::Failed, kPortNotTold));
}

void BenchRunner::JoinRuns() {
    for (auto& [port, slot] : slots_) {
        if (slot->thread.joinable()) {
            slot->thread.join();
        }
    }
}

std::vector<std::pair<std::string, BoxOutcome>> BenchRunner::Outcomes() const {
    std::vector<std::pair<std::string, BoxOutcome>> outcomes = ended_;
    for (const auto& [port, slot] : slots_) {
        for (const BoxOutcome& outcome : slot->outcomes) {
            outcomes.emplace_back(port, outcome);
        }
    }
    return outcomes;
}

int BenchRunner::Finish(const std::vector<std::string>& asked, const Package& package) {
    JoinRuns();
    if (asked.empty()) {
        return Fail(kExitNoBox, options_.watch ? "No box was plugged in." : "No box found.");
    }
    const std::vector<std::pair<std::string, BoxOutcome>> outcomes = Outcomes();
    bool failed = false;
    std::vector<std::string> undone;
    std::string finished;
    for (const auto& [port, outcome] : outcomes) {
        // A run ends with a result; one without (a fault before its end) failed.
        const BoxResult result = outcome.result.value_or(BoxResult::Failed);
        failed = failed || (!Succeeded(result) && result != BoxResult::Stopped);
        if (result == BoxResult::Stopped) {
            undone.push_back(port);
        } else if (outcome.endedAfterStop) {
            finished += (finished.empty() ? "" : ", ") + port + " (" + ResultName(result) + ")";
        }
    }
    // What Ctrl+C let finish (a box sent to its bootloader is never left there), and what not.
    if (!finished.empty()) {
        Say("zelk-cli: stopped after finishing " + finished);
    }
    for (const std::string& port : undone) {
        Say(port + ": left undone");
    }
    Summarize(outcomes, package);
    if (historyBroken_.load()) {
        return Fail(kExitHistory,
                    "The history " +
                        (options_.history.empty() ? seams_.defaultHistory : options_.history) +
                        " could not be written: no further box was started");
    }
    // Every box met was another zelk-cli's: this run upgraded nothing.
    if (slots_.empty() && !ended_.empty() && ended_.size() == portsHeldElsewhere_.size()) {
        return Fail(kExitBoxFailed,
                    "No box was upgraded: another zelk-cli holds every port asked for");
    }
    // A failure says more than a port found empty, which says more than the stop that followed.
    if (failed) {
        return kExitBoxFailed;
    }
    if (!emptyPorts_.empty() || !missingSerials_.empty()) {
        return kExitNoBox;
    }
    // Ctrl+C that left nothing undone (the end of every --watch) stopped nothing the run owed.
    return undone.empty() ? kExitOk : kExitStopped;
}

}  // namespace ZELKUtil::Cli
