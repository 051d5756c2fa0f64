#include "cli/box_run.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "cli/console_view.h"
#include "controller/road_events.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil::Cli {
namespace {

constexpr std::int64_t kTimerIntervalMs = 1000;
// Marks a download's progress bar shows when whole, when the tool does not tell: dfu-util's older
// bar is 50 wide, every other mark shown.
constexpr int kBarMarks = 25;
// How long a run waits for a box that is not in its normal mode to become the box it recognises.
constexpr std::int64_t kStrangerMs = 10000;

}  // namespace

// Follows one box's run: reports the log's lines as they come, and learns from the controller's
// road events what happened to the box (never from the log's text, which the box's own strings
// reach), its state and progress as they change, and how the run ended.
class BoxRun::Watch {
  public:
    Watch(BoxRun& run, const ConsoleView& view, const UpgradeState& state)
        : run_(run), view_(view), state_(state), startMs_(run.clock_.NowMs()) {}

    void Skip() { shown_ = view_.log.size(); }

    // Every whole line the log got since the last call.
    void ReportLines() {
        const std::string& log = view_.log;
        for (std::size_t end = log.find("\r\n", shown_); end != std::string::npos;
             end = log.find("\r\n", shown_)) {
            if (end > shown_) {
                Report(BoxEvent::Kind::Log, log.substr(shown_, end - shown_));
            }
            shown_ = end + 2;
        }
        ReportProgress();
    }

    void ReportState() {
        if (stage_ != lastState_) {
            lastState_ = stage_;
            Report(BoxEvent::Kind::State, stage_);
        }
    }

    // What the controller tells of the box.
    void Follow(const RoadEvent& event, ZELK& device) { std::visit(Heed{*this, device}, event); }

    // The box named itself in normal mode without the package's version, in a package that waits
    // for the operator: the run ticks what the package programs, once.
    bool WantsOperatorTicks() { return std::exchange(wantsTicks_, false); }

    std::optional<std::string> Judge(bool boxPresent, bool stopping);

    BoxOutcome Finish(const std::string& result) {
        ReportLines();
        const std::string& log = view_.log;
        if (shown_ < log.size()) {
            Report(BoxEvent::Kind::Log, log.substr(shown_));
        }
        outcome_.result = result;
        outcome_.versionAfter = state_.version.empty() && result == "up-to-date"
                                    ? outcome_.versionBefore
                                    : state_.version;
        outcome_.log = log;
        outcome_.durationMs = run_.clock_.NowMs() - startMs_;
        Report(BoxEvent::Kind::Result, result);
        return outcome_;
    }

  private:
    // What each road event means for the run.
    struct Heed {
        Watch& w;
        ZELK& device;
        void operator()(const RoadEvents::Connected& e) const {
            if (!w.connectedOnce_) {
                // What the box said of itself at its first connection.
                w.connectedOnce_ = true;
                w.outcome_.versionBefore = e.version;
                w.outcome_.model = e.model;
                w.outcome_.serial = device.GetSerial();
            }
            w.upToDate_ = e.upToDate;
            w.wantsTicks_ = !e.upToDate && !w.ticked_ && w.state_.upgradeMode == manual_upgrade;
            w.stage_ = "connected";
        }
        void operator()(const RoadEvents::CountingDown& e) const {
            w.stage_ = "counting down";
            w.percent_ = std::max(w.percent_, 5 + (5 - e.left) * 4);
        }
        void operator()(const RoadEvents::SentToBootloader& /*e*/) const {
            w.stage_ = "restarting";
            w.percent_ = std::max(w.percent_, 25);
        }
        void operator()(const RoadEvents::InBootloader& /*e*/) const {
            w.leftNormalMode_ = true;
            w.stage_ = "bootloader";
        }
        void operator()(const RoadEvents::InProgrammer& /*e*/) const {
            w.leftNormalMode_ = true;
            w.stage_ = "FPGA programmer";
        }
        void operator()(const RoadEvents::Decided& e) const {
            BoxEvent decision;
            decision.kind = BoxEvent::Kind::Decision;
            decision.port = w.run_.port_;
            decision.run = e.decision.run;
            decision.work = WorkName(e.decision.work);
            decision.reason = e.decision.reason;
            w.run_.report_(decision);
        }
        void operator()(const RoadEvents::DownloadStarted& /*e*/) const {
            w.stage_ = "downloading";
            w.Marks(0, 0);
        }
        void operator()(const RoadEvents::DownloadProgress& e) const {
            w.Marks(e.marks, e.marksExpected);
        }
        void operator()(const RoadEvents::DownloadEnded& e) const {
            if (e.outcome == DownloadOutcome::Done) {
                w.percent_ = std::max(w.percent_, 90);
            }
        }
        void operator()(const RoadEvents::FpgaStep& e) const {
            w.stage_ = "programming the FPGA";
            if (e.step == RoadEvents::FpgaStepKind::Done) {
                w.fpgaDone_ = true;
                w.percent_ = 100;
            } else {
                w.Marks(e.marks, 0);
            }
        }
        void operator()(const RoadEvents::Completed& /*e*/) const {
            w.completed_ = true;
            w.percent_ = 100;
        }
        void operator()(const RoadEvents::UpToDate& /*e*/) const { w.upToDate_ = true; }
        void operator()(const RoadEvents::Failed& e) const {
            if (!w.failure_) {
                w.failure_ = e.reason;
            }
        }
    };

    // A download's or an FPGA run's marks: 30 % to 85 % of the road.
    void Marks(int marks, int expected) {
        const int whole = expected > 0 ? expected : kBarMarks;
        percent_ = std::max(percent_, 30 + std::min(marks, whole) * 55 / whole);
    }

    void Report(BoxEvent::Kind kind, std::string text) {
        BoxEvent event;
        event.kind = kind;
        event.port = run_.port_;
        event.text = std::move(text);
        run_.report_(event);
    }

    void ReportProgress() {
        if (percent_ <= lastPercent_) {
            return;
        }
        lastPercent_ = percent_;
        BoxEvent event;
        event.kind = BoxEvent::Kind::Progress;
        event.port = run_.port_;
        event.percent = percent_;
        const std::int64_t elapsedMs = run_.clock_.NowMs() - startMs_;
        if (percent_ > 0 && percent_ < 100) {
            event.secondsLeft = elapsedMs * (100 - percent_) / percent_ / 1000;
        }
        run_.report_(event);
    }

    BoxRun& run_;
    const ConsoleView& view_;
    const UpgradeState& state_;
    const std::int64_t startMs_;
    std::size_t shown_ = 0;
    std::string stage_ = "waiting";
    std::string lastState_;
    int percent_ = 0;
    int lastPercent_ = -1;
    bool connectedOnce_ = false;
    bool upToDate_ = false;
    bool wantsTicks_ = false;
    bool ticked_ = false;
    bool leftNormalMode_ = false;
    bool completed_ = false;
    bool fpgaDone_ = false;
    std::optional<RoadEvents::FailReason> failure_;
    std::int64_t lastSeenMs_ = 0;
    BoxOutcome outcome_;

    friend class BoxRun;
};

std::optional<std::string> BoxRun::Watch::Judge(bool boxPresent, bool stopping) {
    const std::int64_t now = run_.clock_.NowMs();
    const bool ticked =
        view_.Checked(Control::CheckProgramArm) || view_.Checked(Control::CheckProgramFPGA);
    const bool underWay = state_.operation_underway != 0 || state_.currently_programming_fpga != 0;
    if (completed_) {
        return "upgraded";
    }
    if (fpgaDone_ && !ticked && state_.currently_programming_fpga == 0) {
        return "upgraded";
    }
    if (failure_ == RoadEvents::FailReason::KeepsLeaving) {
        return "interrupted";
    }
    if (state_.error_occurred != 0 || failure_) {
        return "failed";
    }
    if (upToDate_ && !ticked && !underWay && state_.startCountDown == 0) {
        return "up-to-date";
    }
    if (boxPresent || lastSeenMs_ == 0) {
        lastSeenMs_ = now;
    }
    if (!boxPresent && now - lastSeenMs_ > run_.settings_.goneMs) {
        // Left mid-run; or never there at all.
        return connectedOnce_ ? "interrupted" : "failed";
    }
    // A box this run never saw in normal mode, found in its bootloader or as the programmer: the
    // controller leaves it alone, so the run ends rather than wait for nothing.
    if (!connectedOnce_ && leftNormalMode_ && now - startMs_ > kStrangerMs) {
        return "failed";
    }
    if (stopping && !underWay && !leftNormalMode_) {
        return "stopped";
    }
    if (now - startMs_ > run_.settings_.limitMs) {
        return "failed";
    }
    return std::nullopt;
}

BoxRun::BoxRun(BoxPlatform& platform, Clock& clock, std::string port, BoxRunSettings settings,
               Report report, const std::atomic<bool>& stopping)
    : platform_(platform),
      clock_(clock),
      port_(std::move(port)),
      settings_(std::move(settings)),
      report_(std::move(report)),
      stopping_(stopping) {}

BoxOutcome BoxRun::Run() {
    platform_.Transport().hid_confine_to_port(port_);
    platform_.Probe().ConfineToPort(port_);
    ReadPathModes modes;
    ZELK device(platform_.Transport(), platform_.Probe(), clock_, modes);
    ConsoleView view;
    UpgradeController controller({view, clock_, device, platform_.Processes(),
                                  settings_.packageFolder, settings_.nativeMachine});
    controller.TellDfuUtilThePort(settings_.dfuUtilPort);
    controller.InitializeApplication();
    Watch follow(*this, view, controller.State());
    // Start-up's own lines are the package's, which the bench has judged already.
    follow.Skip();
    view.SetAppendListener([&follow] { follow.ReportLines(); });
    controller.ListenToRoad(
        [&follow, &device](const RoadEvent& event) { follow.Follow(event, device); });
    const auto ids =
        NormalModeIds(controller.State().profiles.value_or(std::vector<ZelkProfile>{}));
    if (stopping_.load()) {
        return follow.Finish("stopped");  // asked to stop before the box was touched
    }
    for (;;) {
        const UpgradeState& state = controller.State();
        // A package that waits for the operator: the run ticks what it programs, once, for a box
        // without the package's version, as the window's operator presses "Start".
        if (follow.WantsOperatorTicks()) {
            follow.ticked_ = true;
            view.SetChecked(
                state.armImagePresent > 0 ? Control::CheckProgramArm : Control::CheckProgramFPGA,
                true);
        }
        controller.TimerCheck_Tick();
        follow.ReportLines();
        follow.ReportState();
        const bool present = !device.BoxPorts(ids).empty();
        if (const auto result = follow.Judge(present, stopping_.load())) {
            controller.Dispose();
            return follow.Finish(*result);
        }
        clock_.SleepMs(kTimerIntervalMs);
    }
}

}  // namespace ZELKUtil::Cli
