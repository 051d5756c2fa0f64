#include "cli/box_watch.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "controller/periods.h"
#include "controller/version_match.h"
#include "device/zelk.h"
#include "platform/files.h"

namespace ZELKUtil::Cli {
namespace {}  // namespace

BoxWatch::BoxWatch(Run run, const HeadlessView& view, const UpgradeState& state, ZELK& device)
    : run_(std::move(run)),
      view_(view),
      state_(state),
      device_(device),
      startMs_(run_.clock.NowMs()),
      boxStartMs_(startMs_) {}

// What each road event means for the run.
struct BoxWatch::Heed {
    using Leg = RoadProgress::Leg;
    BoxWatch& w;
    void operator()(const RoadEvents::Connected& e) const { w.Connected(e); }
    void operator()(const RoadEvents::CountingDown& e) const {
        w.stage_ = "counting down";
        w.progress_.CountingDown(e.left, w.Now());
    }
    void operator()(const RoadEvents::SentToBootloader& /*e*/) const {
        w.stage_ = "restarting";
        w.inNormalMode_ = false;
        w.expectAway_ = true;
        w.progress_.Reach({Leg::Restart, Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::InBootloader& /*e*/) const {
        w.leftNormalMode_ = true;
        w.inNormalMode_ = w.expectAway_ = false;
        w.stage_ = "bootloader";
        w.progress_.Reach({Leg::Restart, Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::InProgrammer& /*e*/) const {
        w.leftNormalMode_ = true;
        w.inNormalMode_ = w.expectAway_ = false;
        w.stage_ = "FPGA programmer";
        w.progress_.Reach({Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::Decided& e) const {
        BoxEvent decision;
        decision.kind = BoxEvent::Kind::Decision;
        decision.run = e.decision.run;
        decision.work = WorkName(e.decision.work);
        decision.reason = e.decision.reason;
        w.Report(std::move(decision));
    }
    void operator()(const RoadEvents::DownloadStarted& e) const {
        w.stage_ = e.work == Work::ArmDownload ? "downloading" : "downloading the programmer";
        w.downloading_ = e.work;
        w.progress_.Reach({e.work == Work::ArmDownload ? Leg::Restart : Leg::Programmer}, w.Now());
    }
    void operator()(const RoadEvents::DownloadProgress& e) const {
        if (w.downloading_ == Work::ArmDownload) {
            w.progress_.Marks(e.marks, e.marksExpected, w.Now());
        }
    }
    void operator()(const RoadEvents::DownloadEnded& e) const {
        // Either download ends with the box's restart: into its new firmware or the programmer.
        w.expectAway_ = e.outcome == DownloadOutcome::Done;
        if (e.outcome == DownloadOutcome::Done && w.downloading_ == Work::ArmDownload) {
            // The box restarts with its new firmware: its return shows what it got.
            w.awaitingReturn_ = true;
            w.stage_ = "restarting with the new firmware";
            w.progress_.Reach({Leg::Return}, w.Now());
        }
    }
    void operator()(const RoadEvents::FpgaStep& e) const {
        w.stage_ = "programming the FPGA";
        w.progress_.Reach({Leg::FpgaRun}, w.Now());
        if (e.step == RoadEvents::FpgaStepKind::Done) {
            w.fpgaDone_ = true;
        }
    }
    void operator()(const RoadEvents::Completed& e) const {
        // Found again in normal mode after its download: only the package's version counts.
        if (PackageHasVersion(w.run_.settings.packageVersion, e.version)) {
            w.completed_ = true;
            w.versionBack_ = e.version;
            if (w.fpgaAfterArm_ && !w.fpgaDone_) {
                w.tickWanted_ = Control::CheckProgramFPGA;
                w.progress_.Reach({Leg::Prepare}, w.Now());
            }
        }
    }
    void operator()(const RoadEvents::UpToDate& /*e*/) const { w.upToDate_ = true; }
    void operator()(const RoadEvents::Failed& e) const {
        if (!w.failure_) {
            w.failure_ = e.reason;
        }
    }
};

void BoxWatch::Follow(const RoadEvent& event) {
    std::visit(Heed{*this}, event);
    // Told as it happens: a download runs inside one poll.
    ReportState();
    ReportProgress();
}

void BoxWatch::Connected(const RoadEvents::Connected& e) {
    awaitingReturn_ = false;
    inNormalMode_ = true;
    expectAway_ = false;
    stage_ = "connected";
    upToDate_ = e.upToDate;
    // Who the box is, asked now, on the handle the controller just opened: between polls another
    // box may already be in its place.
    bool another = false;
    if (connectedOnce_ && !e.backFromRoad) {
        // Recognised afresh: the box that left, or another in its place on the port. The serial
        // tells them apart where the box gives one.
        const std::string serial = device_.GetSerial();
        if (serial.empty() || serial != box_.serial) {
            EndBox({"interrupted", "another box took its place on the port"}, pollStart_);
            box_ = BoxOutcome{};
            connectedOnce_ = false;
            completed_ = fpgaDone_ = leftNormalMode_ = false;
            versionBack_.clear();
            failure_.reset();
            progress_ = RoadProgress{};
            lastPercent_ = -1;
            lastSecondsLeft_ = -1;
            boxLogStart_ = pollStart_;
            boxStartMs_ = run_.clock.NowMs();
            another = true;
        }
    }
    if (!connectedOnce_) {
        connectedOnce_ = true;
        box_.versionBefore = e.version;
        box_.model = e.model;
        box_.serial = device_.GetSerial();
        if (another) {
            // The run's first box was told of before its run; one in its place is told of here.
            ReportFound(e);
        }
        // Its record is on the disk before anything is written into it.
        if (run_.hooks.started && !run_.hooks.started(box_)) {
            refused_ = true;
        }
    }
    // What the box's own profile programs: its ARM image first where it names one, then its FPGA.
    const std::optional<ZelkProfile>& profile = state_.current_profile;
    const bool arm = profile && !profile->LPC3131.empty();
    const bool fpga = profile && (!profile->A3P060.empty() || !profile->A3PN060.empty());
    if (!e.upToDate && !e.model.empty() && state_.upgradeMode == manual_upgrade && !completed_ &&
        !view_.Checked(Control::CheckProgramArm) && !view_.Checked(Control::CheckProgramFPGA)) {
        fpgaAfterArm_ = arm && fpga;
        tickWanted_ = arm ? Control::CheckProgramArm : Control::CheckProgramFPGA;
    }
    if (!e.upToDate && !e.model.empty() && !completed_ && !progress_.Started()) {
        StartRoad();
    }
}

void BoxWatch::StartRoad() {
    const std::optional<ZelkProfile>& profile = state_.current_profile;
    if (!profile) {
        return;
    }
    RoadProgress::Plan plan;
    plan.arm = !profile->LPC3131.empty();
    plan.fpga = !profile->A3P060.empty() || !profile->A3PN060.empty();
    plan.countdown = state_.upgradeMode == auto_upgrade;
    if (plan.arm) {
        plan.armImageBytes =
            Files::SizeOf(Files::Join(run_.settings.packageFolder, profile->LPC3131));
    }
    progress_.Start(plan, Now());
}

void BoxWatch::ReportFound(const RoadEvents::Connected& e) {
    BoxEvent found;
    found.kind = BoxEvent::Kind::Found;
    found.mode = "normal";
    found.model = e.model;
    found.serial = box_.serial;
    found.version = e.version;
    if (!e.version.empty()) {
        found.upToDate = e.upToDate;
    }
    found.verdict = VerdictOf(!e.model.empty(), found.upToDate);
    Report(std::move(found));
}

std::optional<Control> BoxWatch::TickWanted() {
    return refused_ ? std::nullopt : std::exchange(tickWanted_, std::nullopt);
}

void BoxWatch::Report(BoxEvent event) {
    event.port = run_.port;
    run_.report(event);
}

void BoxWatch::ReportLines() {
    for (ToolErrors::Line& said : run_.toolErrors.Take()) {
        toolLog_ += "\r\n[" + said.tool + "] " + said.text;
        BoxEvent tool;
        tool.kind = BoxEvent::Kind::Tool;
        tool.tool = std::move(said.tool);
        tool.text = std::move(said.text);
        Report(std::move(tool));
    }
    const std::string& log = view_.log;
    for (std::size_t end = log.find("\r\n", shown_); end != std::string::npos;
         end = log.find("\r\n", shown_)) {
        if (end > shown_) {
            BoxEvent line;
            line.kind = BoxEvent::Kind::Log;
            line.text = log.substr(shown_, end - shown_);
            Report(std::move(line));
        }
        shown_ = end + 2;
    }
    ReportProgress();
}

void BoxWatch::ReportState() {
    if (stage_ != lastState_) {
        lastState_ = stage_;
        BoxEvent state;
        state.kind = BoxEvent::Kind::State;
        state.text = stage_;
        Report(std::move(state));
    }
}

void BoxWatch::ReportProgress() {
    if (!progress_.Started()) {
        return;
    }
    const std::int64_t now = Now();
    const int percent = progress_.Percent(now);
    const std::int64_t secondsLeft = (progress_.MsLeft(now) + 999) / 1000;
    if (percent == lastPercent_ && secondsLeft == lastSecondsLeft_) {
        return;
    }
    lastPercent_ = percent;
    lastSecondsLeft_ = secondsLeft;
    BoxEvent event;
    event.kind = BoxEvent::Kind::Progress;
    event.percent = percent;
    event.secondsLeft = secondsLeft;
    Report(std::move(event));
}

std::optional<BoxWatch::Verdict> BoxWatch::Judge(bool boxPresent, bool stopping) {
    const std::int64_t now = run_.clock.NowMs();
    const bool ticked =
        view_.Checked(Control::CheckProgramArm) || view_.Checked(Control::CheckProgramFPGA);
    const bool programming = state_.currently_programming_fpga != 0;
    const bool underWay = state_.operation_underway != 0 || programming;
    if (refused_) {
        return Verdict{"failed", "its history record could not be written, so it was not touched"};
    }
    if (completed_ && (!fpgaAfterArm_ || fpgaDone_) && !programming) {
        return Verdict{"upgraded", ""};
    }
    if (fpgaDone_ && !ticked && !programming && (!fpgaAfterArm_ || completed_)) {
        return Verdict{"upgraded", ""};
    }
    if (failure_ == RoadEvents::FailReason::KeepsLeaving) {
        return Verdict{"interrupted", RoadEvents::FailReasonName(*failure_)};
    }
    if (state_.error_occurred != 0 || failure_) {
        // A box that left is why its tools found nothing to work on: it was pulled, not failed.
        if (!boxPresent && connectedOnce_) {
            return Verdict{"interrupted",
                           "the box left the bus in the middle of its road, which could not go on "
                           "without it"};
        }
        return Verdict{"failed", WhyFailed()};
    }
    if (upToDate_ && !completed_ && !ticked && !underWay && state_.startCountDown == 0) {
        return Verdict{"up-to-date", ""};
    }
    if (boxPresent || lastSeenMs_ == 0) {
        lastSeenMs_ = now;
    }
    if (auto gone = Gone(boxPresent, now)) {
        return gone;
    }
    // A box this run never saw in normal mode, found in its bootloader or as the programmer: the
    // controller leaves it alone, so the run ends rather than wait for nothing.
    if (!connectedOnce_ && leftNormalMode_ && now - startMs_ > Periods::kStrangerMs) {
        return Verdict{"failed",
                       "the box was found only in its bootloader or programmer mode, never "
                       "recognised in normal mode on this port, so it was left alone"};
    }
    // In its normal mode on the port all along, and never recognised: it gives no version.
    if (!connectedOnce_ && !leftNormalMode_ && boxPresent &&
        now - startMs_ > Periods::kStrangerMs) {
        return Verdict{"failed", "the box answers in normal mode but gives no firmware version"};
    }
    // What Ctrl+C lets finish: an FPGA run (its erase and the programming that follows it) and a
    // flashed box's return. Nothing else keeps a stopping run going: a box in its bootloader
    // without its download yet keeps its old firmware.
    const bool mustFinish =
        programming || (state_.fpga_erase_first != 0 && view_.Checked(Control::CheckProgramFPGA)) ||
        awaitingReturn_;
    if (stopping && !mustFinish) {
        return Verdict{"stopped", "Ctrl+C came before the next step of its road"};
    }
    if (now - startMs_ > run_.settings.limitMs) {
        return Verdict{"failed", "the run took longer than its limit of " +
                                     std::to_string(run_.settings.limitMs / 60000) + " min"};
    }
    return std::nullopt;
}

std::optional<BoxWatch::Verdict> BoxWatch::Gone(bool boxPresent, std::int64_t now) {
    if (boxPresent || !connectedOnce_ || expectAway_) {
        unplugged_ = false;
        return GoneFor(now, false);
    }
    // Off the bus where the box should be on it: told at once.
    if (!unplugged_) {
        unplugged_ = true;
        stage_ = "unplugged";
        ReportState();
    }
    return GoneFor(now, inNormalMode_);
}

std::optional<BoxWatch::Verdict> BoxWatch::GoneFor(std::int64_t now, bool inNormalMode) const {
    // Still in its normal mode, the box had nothing written into it: there is nothing to come
    // back to. A box in its bootloader or programmer mode is waited for, since putting it back
    // lets its download or FPGA run go on.
    const std::int64_t waitMs =
        inNormalMode ? Periods::kUnpluggedInNormalModeMs : run_.settings.goneMs;
    if (now - lastSeenMs_ <= waitMs) {
        return std::nullopt;
    }
    if (!connectedOnce_) {
        return Verdict{"failed",
                       "no box answered on this port for " + std::to_string(waitMs / 1000) + " s"};
    }
    if (inNormalMode) {
        return Verdict{"interrupted", "the box left the bus before anything was written into it"};
    }
    return Verdict{"interrupted",
                   "the box left the bus for over " + std::to_string(waitMs / 1000) + " s"};
}

std::string BoxWatch::WhyFailed() const {
    if (failure_) {
        return RoadEvents::FailReasonName(*failure_);
    }
    return "the upgrade stopped on an error (its log says which)";
}

BoxOutcome BoxWatch::EndBox(const Verdict& verdict, std::size_t logEnd) {
    const std::string& result = verdict.result;
    box_.result = result;
    box_.reason = verdict.reason;
    // A box that left has no version after; one up to date kept its own; one back from its
    // download and since gone on (to the FPGA programmer) reported the version it came back with.
    if (result == "interrupted") {
        box_.versionAfter.clear();
    } else if (!state_.version.empty()) {
        box_.versionAfter = state_.version;
    } else {
        box_.versionAfter = result == "up-to-date" ? box_.versionBefore : versionBack_;
    }
    const std::string& log = view_.log;
    box_.log =
        log.substr(std::min(boxLogStart_, log.size()), logEnd - std::min(boxLogStart_, logEnd));
    if (!toolLog_.empty()) {
        box_.log += "\r\nWhat its tools wrote to their error streams:" + toolLog_;
        toolLog_.clear();
    }
    box_.durationMs = run_.clock.NowMs() - boxStartMs_;
    if (result == "upgraded") {
        BoxEvent whole;
        whole.kind = BoxEvent::Kind::Progress;
        whole.percent = 100;
        Report(std::move(whole));
    }
    BoxEvent event;
    event.kind = BoxEvent::Kind::Result;
    event.text = result;
    event.reason = verdict.reason;
    event.version = box_.versionAfter;
    Report(std::move(event));
    if (run_.hooks.ended) {
        run_.hooks.ended(box_);
    }
    return box_;
}

BoxOutcome BoxWatch::Finish(const Verdict& verdict) {
    ReportLines();
    const std::string& log = view_.log;
    if (shown_ < log.size()) {
        BoxEvent last;
        last.kind = BoxEvent::Kind::Log;
        last.text = log.substr(shown_);
        Report(std::move(last));
    }
    return EndBox(verdict, log.size());
}

}  // namespace ZELKUtil::Cli
