#include "cli/box_watch.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "package/package_files.h"
#include "platform/files.h"

namespace ZELKUtil::Cli {
namespace {

BoxResult ResultOf(RoadEnd end) {
    switch (end) {
        case RoadEnd::Completed:
            return BoxResult::Upgraded;
        case RoadEnd::UpToDate:
            return BoxResult::UpToDate;
        case RoadEnd::Failed:
            return BoxResult::Failed;
        case RoadEnd::Interrupted:
            return BoxResult::Interrupted;
        case RoadEnd::LeftAlone:
            return BoxResult::LeftAlone;
    }
    return BoxResult::Failed;
}

// What a decision starts, in the words of the decision event.
std::string DecidedWork(const Decision& d) {
    if (!d.run) {
        return "";
    }
    if (d.moment != Moment::Connected) {
        return WorkName(d.work);
    }
    return d.reason == Reason::UpgradeDue ? "count down" : "restart to its bootloader";
}

}  // namespace

BoxWatch::BoxWatch(Run run, const HeadlessView& view)
    : run_(std::move(run)),
      view_(view),
      clocks_(run_.port, run_.clock.NowMs(), run_.settings.goneMs, run_.settings.limitMs),
      boxStartMs_(run_.clock.NowMs()) {}

// What each road event means for the run.
struct BoxWatch::Heed {
    using Leg = RoadProgress::Leg;
    using Step = RoadEvents::FpgaStepKind;
    BoxWatch& w;
    void operator()(const RoadEvents::Connected& e) const { w.Connected(e); }
    void operator()(const RoadEvents::CountingDown& e) const {
        w.ReportState(BoxState::CountingDown);
        w.progress_.CountingDown(e.left, w.Now());
    }
    void operator()(const RoadEvents::SentToBootloader& /*e*/) const {
        // On the disk before the request goes out: a later run knows the box in its bootloader.
        w.Mark(RoadMark::SentToBootloader);
        w.clocks_.Restarts();
        w.clocks_.SentToBootloader();
        w.ReportState(BoxState::Restarting);
        w.progress_.Reach({Leg::Restart, Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::InBootloader& /*e*/) const {
        w.clocks_.InOtherMode();
        w.ReportState(BoxState::InBootloader);
        w.progress_.Reach({Leg::Restart, Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::InProgrammer& /*e*/) const {
        w.Mark(RoadMark::InProgrammer);
        w.clocks_.InOtherMode();
        w.ReportState(BoxState::InProgrammer);
        w.progress_.Reach({Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::Decided& e) const { w.Decided(e.decision); }
    void operator()(const RoadEvents::DownloadStarted& e) const {
        w.clocks_.WorkStarted();
        const bool arm = e.work == Work::ArmDownload;
        // The programmer firmware is given to its tool by its name in the Tools folder.
        w.Writes(arm ? e.image : Files::Join(PackageFiles::kToolsFolder, e.image));
        w.downloading_ = e.work;
        w.downloadQuarters_ = 0;
        w.ReportState(arm ? BoxState::Downloading : BoxState::DownloadingProgrammer);
        w.progress_.Reach({arm ? Leg::Restart : Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::DownloadProgress& e) const { w.DownloadProgress(e); }
    void operator()(const RoadEvents::DownloadEnded& e) const {
        if (e.outcome != DownloadOutcome::Done) {
            return;
        }
        // Either download ends with the box's restart: into its new firmware or the programmer.
        w.clocks_.Restarts();
        if (w.downloading_ == Work::ArmDownload) {
            w.Mark(RoadMark::ArmWritten);
            w.clocks_.AwaitEnd(true);
            w.ReportState(BoxState::RestartingWithNewFirmware);
            w.progress_.Reach({Leg::Return}, w.Now());
        }
    }
    void operator()(const RoadEvents::FpgaStep& e) const {
        if (e.step == Step::Programming && !e.image.empty()) {
            w.Writes(e.image);
        }
        if (e.step == Step::Erasing || e.step == Step::Programming) {
            w.clocks_.FpgaRun(true);
            w.ReportState(e.step == Step::Erasing ? BoxState::ErasingFpga
                                                  : BoxState::ProgrammingFpga);
        } else if (e.step == Step::Done) {
            w.clocks_.FpgaRun(false);
        }
        w.progress_.Reach({Leg::FpgaRun}, w.Now());
    }
    void operator()(const RoadEvents::Returned& /*e*/) const {
        w.clocks_.AwaitEnd(true);
        w.operator_.Returned();
        w.progress_.Reach({Leg::Prepare}, w.Now());
    }
    void operator()(const RoadEvents::Ended& e) const { w.Ended(e); }
};

void BoxWatch::Follow(const RoadEvent& event) {
    std::visit(Heed{*this}, event);
    // Told as it happens: a download runs inside one poll.
    ReportProgress();
}

void BoxWatch::Connected(const RoadEvents::Connected& e) {
    clocks_.Connected();
    ReportState(BoxState::Connected);
    lastVersion_ = e.version;
    profile_ = e.profile;
    if (boxKnown_) {
        return;
    }
    boxKnown_ = true;
    box_.versionBefore = e.version;
    box_.model = e.model;
    box_.serial = e.serial;
    if (!e.serial.empty() && e.serial == run_.settings.fpgaOwedTo) {
        operator_.OweFpga();
    }
    if (e.profile) {
        box_.writesArm = !e.profile->LPC3131.empty();
        box_.writesFpga = e.profile->HasFpgaImage();
    }
    if (std::exchange(anotherBox_, false)) {
        // The run's first box was told of before its run; one in its place is told of here.
        Events::Found found{run_.port, BoxMode::Normal, e.model, e.serial, e.version};
        if (!e.version.empty()) {
            found.upToDate = e.upToDate;
        }
        found.verdict = VerdictOf(e.profile.has_value(), found.upToDate);
        Report(found);
    }
    // Its record is on the disk before anything is written into it.
    if (run_.hooks.started && !run_.hooks.started(box_)) {
        refused_ = true;
    }
}

void BoxWatch::Resume(const ResumeFrom& from, std::optional<std::int64_t> ageSeconds) {
    clocks_.Resumed();
    boxKnown_ = true;
    profile_ = from.profile;
    lastVersion_ = from.version;
    box_.model = from.profile.id;
    box_.serial = from.serial;
    box_.versionBefore = from.version;
    box_.writesArm = from.arm;
    box_.writesFpga = from.fpga;
    box_.mark = RoadMark::SentToBootloader;
    box_.resumed = from;
    Report(Events::Resumed{run_.port, from.profile.id, from.serial, from.recordRun, ageSeconds,
                           from.byOperator, from.recordedModel});
    // Its new record, which takes up the old one, is on the disk before anything is written.
    if (run_.hooks.started && !run_.hooks.started(box_)) {
        refused_ = true;
        return;
    }
    operator_.Resume(from.arm, from.fpga);
    StartRoad(from.arm, from.fpga, false);
    progress_.Reach({RoadProgress::Leg::Restart, RoadProgress::Leg::Programmer}, Now());
}

void BoxWatch::Mark(RoadMark mark) {
    if (!boxKnown_ || refused_ || box_.mark == mark) {
        return;
    }
    box_.mark = mark;
    if (run_.hooks.progressed) {
        run_.hooks.progressed(box_);
    }
}

void BoxWatch::Writes(const std::string& image) {
    if (!boxKnown_ || refused_ || image.empty() ||
        std::find(box_.images.begin(), box_.images.end(), image) != box_.images.end()) {
        return;
    }
    box_.images.push_back(image);
    if (run_.hooks.progressed) {
        run_.hooks.progressed(box_);
    }
}

void BoxWatch::Decided(const Decision& d) {
    Report(Events::Decision{run_.port, d.run, DecidedWork(d), ReasonText(d.reason, d.count)});
    operator_.Decided(d, profile_);
    const bool due = d.run && d.reason == Reason::UpgradeDue;
    if (d.moment == Moment::Connected && !progress_.Started() &&
        (due || d.reason == Reason::WaitsForOperator)) {
        StartRoad(due);
    }
}

void BoxWatch::DownloadProgress(const RoadEvents::DownloadProgress& e) {
    if (downloading_ != Work::ArmDownload) {
        return;
    }
    progress_.Marks(e.marks, e.marksExpected, Now());
    // A line a quarter, where the tool's bar tells its length.
    const int quarters = e.marksExpected > 0 ? std::min(4, e.marks * 4 / e.marksExpected) : 0;
    while (downloadQuarters_ < quarters) {
        ++downloadQuarters_;
        Report(Events::Download{run_.port, downloadQuarters_ * 25});
    }
}

void BoxWatch::Ended(const RoadEvents::Ended& e) {
    clocks_.FpgaRun(false);
    RunVerdict verdict{ResultOf(e.end), ReasonText(e.reason, e.count), e.version, e.arm, e.fpga};
    if (e.end == RoadEnd::LeftAlone && e.reason == Reason::NotRecognised) {
        // The way out, in words: the operator may know which box it is.
        verdict.reason +=
            "; nothing tells which box it is (no run recorded sending it to its "
            "bootloader), so if you know its model, name it: zelk-cli upgrade --port " +
            run_.port + " --as MODEL";
    }
    if (e.end == RoadEnd::Interrupted && e.reason == Reason::AnotherBox) {
        // The box the run followed is gone from the port, and another answers there: the first
        // box's record ends, and the other's begins with this poll.
        EndBox(verdict, pollStart_);
        box_ = BoxOutcome{};
        boxKnown_ = false;
        anotherBox_ = true;
        clocks_.NewBox();
        progress_ = RoadProgress{};
        operator_ = BenchOperator{};
        boxLogStart_ = pollStart_;
        boxStartMs_ = Now();
        return;
    }
    // Up to date with the package's version, the box still gets the FPGA its earlier road owed.
    if (e.end == RoadEnd::UpToDate && operator_.FinishingFpga()) {
        return;
    }
    if (!end_) {
        end_ = verdict;
    }
}

void BoxWatch::StartRoad(bool countdown) {
    if (profile_) {
        StartRoad(!profile_->LPC3131.empty(), profile_->HasFpgaImage(), countdown);
    }
}

void BoxWatch::StartRoad(bool arm, bool fpga, bool countdown) {
    RoadProgress::Plan plan;
    plan.arm = arm;
    plan.fpga = fpga;
    plan.countdown = countdown;
    if (plan.arm && profile_) {
        plan.armImageBytes =
            Files::SizeOf(Files::Join(run_.settings.packageFolder, profile_->LPC3131));
    }
    progress_.Start(plan, Now());
}

std::optional<Control> BoxWatch::TickWanted() {
    const std::optional<Control> wanted = operator_.TickWanted();
    return refused_ ? std::nullopt : wanted;
}

void BoxWatch::ReportLines() {
    for (ToolErrors::Line& said : run_.toolErrors.Take()) {
        toolLog_ += "\r\n[" + said.tool + "] " + said.text;
        Report(Events::Tool{run_.port, std::move(said.tool), std::move(said.text)});
    }
    const std::string& log = view_.log;
    for (std::size_t end = log.find("\r\n", shown_); end != std::string::npos;
         end = log.find("\r\n", shown_)) {
        if (end > shown_) {
            Report(Events::Log{run_.port, log.substr(shown_, end - shown_)});
        }
        shown_ = end + 2;
    }
    ReportProgress();
}

void BoxWatch::ReportState(BoxState state) {
    if (toldState_ != state) {
        toldState_ = state;
        Report(Events::State{run_.port, state});
    }
}

void BoxWatch::ReportProgress() {
    if (!progress_.Started()) {
        return;
    }
    // Called at every road event and line, and as time passes in the controller's waits: the
    // road tells when its reading is worth telling.
    if (const std::optional<RoadProgress::Reading> due = progress_.Due(Now())) {
        Report(Events::Progress{run_.port, due->percent, due->secondsLeft});
    }
}

std::optional<RunVerdict> BoxWatch::Judge(bool boxPresent, bool stopping) {
    stopSeen_ = stopSeen_ || stopping;
    if (refused_) {
        return RunVerdict{BoxResult::Failed,
                          "its history record could not be written, so it was not touched"};
    }
    if (end_) {
        return end_;
    }
    if (clocks_.Unplugged(boxPresent)) {
        // Off the bus where it should be on it: told at once.
        ReportState(BoxState::Unplugged);
    }
    std::optional<RunVerdict> verdict = clocks_.Judge(Now(), boxPresent, stopping);
    // A box that left has no version after; one still there keeps the one it reported last.
    if (verdict && verdict->result != BoxResult::Interrupted) {
        verdict->version = lastVersion_;
    }
    return verdict;
}

void BoxWatch::WaitsForProgrammer() {
    clocks_.WorkWaits();
    beforeWait_ = toldState_;
    ReportState(BoxState::WaitingForBox);
}

void BoxWatch::GotProgrammer() {
    clocks_.WorkStarted();
    if (const std::optional<BoxState> was = std::exchange(beforeWait_, std::nullopt)) {
        ReportState(*was);
    }
}

BoxOutcome BoxWatch::EndBox(const RunVerdict& verdict, std::size_t logEnd) {
    box_.result = verdict.result;
    box_.reason = verdict.reason;
    box_.versionAfter = verdict.version;
    const std::string& log = view_.log;
    box_.log =
        log.substr(std::min(boxLogStart_, log.size()), logEnd - std::min(boxLogStart_, logEnd));
    if (!toolLog_.empty()) {
        box_.log += "\r\nWhat its tools wrote to their error streams:" + toolLog_;
        toolLog_.clear();
    }
    box_.durationMs = Now() - boxStartMs_;
    // Sampled with the verdict, not when the result is read back: a stop that comes once the
    // result is told finished nothing.
    box_.endedAfterStop = stopSeen_;
    if (verdict.result == BoxResult::Upgraded) {
        Report(Events::Progress{run_.port, 100, std::nullopt});
    }
    Report(Events::Ended{run_.port, verdict.result, verdict.reason, verdict.version, verdict.arm,
                         verdict.fpga});
    if (run_.hooks.ended) {
        run_.hooks.ended(box_);
    }
    return box_;
}

BoxOutcome BoxWatch::Finish(const RunVerdict& verdict) {
    ReportLines();
    const std::string& log = view_.log;
    if (shown_ < log.size()) {
        Report(Events::Log{run_.port, log.substr(shown_)});
    }
    return EndBox(verdict, log.size());
}

}  // namespace ZELKUtil::Cli
