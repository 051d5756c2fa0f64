// The bench runner's upgrade: one run per box, each confined to its port, side by side where the
// package's tools can be told the port and one at a time where they cannot; a history record for
// every box; an exit code that is 0 only when every box asked for has the package's version.
#include <algorithm>
#include <thread>

#include "cli/bench_runner.h"

namespace ZELKUtil::Cli {
namespace {

constexpr std::int64_t kLookIntervalMs = 1000;

}  // namespace

int BenchRunner::Upgrade() {
    const std::optional<Package> package = CheckPackage();
    if (!package) {
        return kExitPackage;
    }
    // Found out before any box is touched, never after a flash.
    const HistoryFile history(options_.history.empty() ? seams_.defaultHistory : options_.history);
    if (history.Path().empty()) {
        Say("No folder for the history: name a file with --history.");
        return kExitHistory;
    }
    if (const auto writable = history.CheckWritable(); !writable) {
        Say("The history " + history.Path() + " cannot be written: " + writable.error().Text());
        return kExitHistory;
    }
    std::vector<std::string> asked = options_.ports;
    const std::vector<std::string> there = PresentPorts(*package);
    if (options_.all) {
        asked = there;
    }
    for (const std::string& port : asked) {
        if (std::find(there.begin(), there.end(), port) == there.end()) {
            BoxEvent none;
            none.kind = BoxEvent::Kind::Result;
            none.port = port;
            none.text = "failed";
            Emit(none);
            Say(port + ": no box on this port");
            ended_.emplace_back(port, BoxOutcome{"failed", "", "", "", "", "", 0});
            continue;
        }
        StartJob(port, *package, history);
    }
    while (options_.watch && !stopping_.load()) {
        // A production line: every box plugged in from now on, once per plug-in.
        const std::vector<std::string> now = PresentPorts(*package);
        for (const std::string& port : now) {
            const auto job = jobs_.find(port);
            if (job == jobs_.end()) {
                StartJob(port, *package, history);
                asked.push_back(port);
            }
        }
        for (auto job = jobs_.begin(); job != jobs_.end();) {
            const bool gone = std::find(now.begin(), now.end(), job->first) == now.end();
            if (gone && job->second->ended.load()) {
                job->second->thread.join();
                ended_.emplace_back(job->first, job->second->outcome);
                job = jobs_.erase(job);
            } else {
                ++job;
            }
        }
        seams_.clock.SleepMs(kLookIntervalMs);
    }
    return Finish(asked);
}

void BenchRunner::StartJob(const std::string& port, const Package& package,
                           const HistoryFile& history) {
    auto job = std::make_unique<Job>();
    job->port = port;
    // dfu-util is told the port where the port's name is its path; DFUAPP and the STAPL player
    // cannot be told which box, so a box whose road takes them is upgraded alone.
    if (!package.dfuUtil || package.fpgaImages || !seams_.portsAreDfuUtilPaths) {
        const std::lock_guard<std::mutex> lock(turnsLock_);
        job->turn = turnsIssued_++;
    }
    Job& running = *job;
    jobs_[port] = std::move(job);
    running.thread = std::thread([this, &running, &package, &history] {
        RunJob(running, package, history);
        running.ended = true;
    });
}

void BenchRunner::RunJob(Job& job, const Package& package, const HistoryFile& history) {
    const std::shared_ptr<void> turn = TakeTurn(job);
    const std::string started = seams_.utcNow();
    const std::unique_ptr<BoxPlatform> platform = seams_.newPlatform();
    BoxRunSettings settings;
    settings.packageFolder = options_.package;
    settings.nativeMachine = seams_.nativeMachine;
    settings.dfuUtilPort = seams_.portsAreDfuUtilPaths ? job.port : "";
    BoxRun run(
        *platform, seams_.clock, job.port, settings, [this](const BoxEvent& event) { Emit(event); },
        stopping_);
    job.outcome = run.Run();
    if (job.outcome.result == "stopped") {
        return;  // nothing was done to the box
    }
    HistoryRecord record;
    record.time = started;
    record.host = seams_.host;
    record.packageFolder = options_.package;
    record.packageVersion = package.versionLine;
    record.port = job.port;
    record.model = job.outcome.model;
    record.serial = job.outcome.serial;
    record.versionBefore = job.outcome.versionBefore;
    record.versionAfter = job.outcome.versionAfter;
    record.result = job.outcome.result;
    record.durationMs = job.outcome.durationMs;
    record.log = job.outcome.log;
    if (const auto appended = history.Append(record); !appended) {
        Say(job.port + ": the history " + history.Path() +
            " could not be written: " + appended.error().Text());
    }
}

std::shared_ptr<void> BenchRunner::TakeTurn(const Job& job) {
    if (!job.turn) {
        return nullptr;
    }
    const std::uint64_t mine = *job.turn;
    std::unique_lock<std::mutex> lock(turnsLock_);
    if (serving_ != mine) {
        lock.unlock();
        BoxEvent waiting;
        waiting.kind = BoxEvent::Kind::State;
        waiting.port = job.port;
        waiting.text = "waiting for another box";
        Emit(waiting);
        Say(job.port +
            ": waits: another box is being upgraded, and this package's tools cannot be told "
            "which box to program");
        lock.lock();
        nextTurn_.wait(lock, [this, mine] { return serving_ == mine; });
    }
    // The next run's turn comes when this one's guard goes, however the run ended.
    return {this, [](BenchRunner* runner) {
                {
                    const std::lock_guard<std::mutex> passing(runner->turnsLock_);
                    ++runner->serving_;
                }
                runner->nextTurn_.notify_all();
            }};
}

int BenchRunner::Finish(const std::vector<std::string>& asked) {
    for (auto& [port, job] : jobs_) {
        if (job->thread.joinable()) {
            job->thread.join();
        }
    }
    if (asked.empty()) {
        Say(options_.watch ? "No box was plugged in." : "No box found.");
        return stopping_.load() ? kExitStopped : kExitNoBox;
    }
    std::vector<std::pair<std::string, BoxOutcome>> outcomes = ended_;
    for (const auto& [port, job] : jobs_) {
        outcomes.emplace_back(port, job->outcome);
    }
    bool failed = false;
    std::vector<std::string> undone;
    for (const auto& [port, outcome] : outcomes) {
        const std::string& result = outcome.result;
        failed = failed || (result != "upgraded" && result != "up-to-date" && result != "stopped");
        if (result == "stopped") {
            undone.push_back(port);
        }
    }
    for (const std::string& port : undone) {
        Say(port + ": left undone");
    }
    // A failure says more than the stop that followed it.
    if (failed) {
        return kExitBoxFailed;
    }
    return stopping_.load() ? kExitStopped : kExitOk;
}

}  // namespace ZELKUtil::Cli
