#include "cli/box_run.h"

#include <algorithm>

#include "cli/console_view.h"
#include "controller/operator_texts.h"
#include "controller/tools/line_text.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil::Cli {
namespace {

constexpr std::int64_t kTimerIntervalMs = 1000;
// Marks a download's progress bar shows when whole: dfu-util's bar is 50 wide, every other mark
// shown.
constexpr int kBarMarks = 25;
// How long a run waits for a box that is not in its normal mode to become the box it recognises.
constexpr std::int64_t kStrangerMs = 10000;

}  // namespace

// Follows one box's run: reports the log's lines as they come, the state and progress as they
// change, and judges from what the window would show when the run has ended.
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
        const std::string now = StateName();
        if (now != lastState_) {
            lastState_ = now;
            Report(BoxEvent::Kind::State, now);
        }
    }

    // Notes what the box said of itself at its first connection.
    void NoteConnection(ZELK& device) {
        if (state_.connected != 0 && !connectedOnce_) {
            connectedOnce_ = true;
            outcome_.versionBefore = state_.version;
            outcome_.model = state_.current_profile ? state_.current_profile->id : "";
            outcome_.serial = device.GetSerial();
        }
    }

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
    void Report(BoxEvent::Kind kind, std::string text) {
        BoxEvent event;
        event.kind = kind;
        event.port = run_.port_;
        event.text = std::move(text);
        run_.report_(event);
    }

    std::string StateName() const {
        const std::string label = view_.Text(Control::DeviceLabel);
        if (state_.currently_programming_fpga != 0) {
            return "programming the FPGA";
        }
        if (Holds(label, "fpga programming mode")) {
            return "FPGA programmer";
        }
        if (Holds(label, "programming mode")) {
            return "bootloader";
        }
        if (state_.connected != 0) {
            return state_.startCountDown > 0 ? "counting down" : "connected";
        }
        return state_.operation_underway != 0 ? "restarting" : "waiting";
    }

    // A rough share of the road done, from the stage the log shows and the download's marks.
    int Percent() const {
        const std::string& log = view_.log;
        if (Holds(log, "Upgrade Complete") || Holds(log, "FPGA Done")) {
            return 100;
        }
        const std::size_t download =
            std::max(log.rfind("Downloading "), log.rfind("Programming FPGA"));
        if (download != std::string::npos) {
            if (log.find("Performing Upgrade", download) != std::string::npos) {
                return 90;
            }
            const auto marks =
                std::count(log.begin() + static_cast<std::ptrdiff_t>(download), log.end(), '#');
            return 30 +
                   static_cast<int>(std::min<std::ptrdiff_t>(marks, kBarMarks) * 55 / kBarMarks);
        }
        if (state_.operation_underway != 0) {
            return 25;
        }
        return state_.startCountDown > 0 ? 5 + (5 - state_.startCountDown) * 4 : 0;
    }

    void ReportProgress() {
        const int percent = Percent();
        if (percent <= lastPercent_) {
            return;
        }
        lastPercent_ = percent;
        BoxEvent event;
        event.kind = BoxEvent::Kind::Progress;
        event.port = run_.port_;
        event.percent = percent;
        const std::int64_t elapsedMs = run_.clock_.NowMs() - startMs_;
        if (percent > 0 && percent < 100) {
            event.secondsLeft = elapsedMs * (100 - percent) / percent / 1000;
        }
        run_.report_(event);
    }

    BoxRun& run_;
    const ConsoleView& view_;
    const UpgradeState& state_;
    const std::int64_t startMs_;
    std::size_t shown_ = 0;
    std::string lastState_;
    int lastPercent_ = -1;
    bool connectedOnce_ = false;
    std::int64_t lastSeenMs_ = 0;
    BoxOutcome outcome_;
};

std::optional<std::string> BoxRun::Watch::Judge(bool boxPresent, bool stopping) {
    const std::string& log = view_.log;
    const std::int64_t now = run_.clock_.NowMs();
    if (Holds(log, "Upgrade Complete")) {
        return "upgraded";
    }
    if (Holds(log, "FPGA Done") && !view_.Checked(Control::CheckProgramFPGA) &&
        !view_.Checked(Control::CheckProgramArm) && state_.currently_programming_fpga == 0) {
        return "upgraded";
    }
    if (Holds(log, OperatorTexts::kBoxKeepsLeaving)) {
        return "interrupted";
    }
    if (state_.error_occurred != 0 || Holds(log, "Wrong upgrade package") ||
        Holds(log, OperatorTexts::kPackageError) || Holds(log, "ZELK type not known")) {
        return "failed";
    }
    const bool ticked =
        view_.Checked(Control::CheckProgramArm) || view_.Checked(Control::CheckProgramFPGA);
    const bool underWay = state_.operation_underway != 0 || state_.currently_programming_fpga != 0;
    if (Holds(log, "No Upgrade Required") && !ticked && !underWay && state_.startCountDown == 0) {
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
    if (!connectedOnce_ && Holds(view_.Text(Control::DeviceLabel), "programming mode") &&
        now - startMs_ > kStrangerMs) {
        return "failed";
    }
    if (stopping && !underWay && !Holds(log, "programming mode")) {
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
    const auto ids =
        NormalModeIds(controller.State().profiles.value_or(std::vector<ZelkProfile>{}));
    bool operatorTicked = false;
    if (stopping_.load()) {
        return follow.Finish("stopped");  // asked to stop before the box was touched
    }
    for (;;) {
        const UpgradeState& state = controller.State();
        // A package that waits for the operator: the run ticks what it programs, once, for a box
        // without the package's version, as the window's operator presses "Start".
        if (!operatorTicked && state.upgradeMode == manual_upgrade && state.connected != 0 &&
            view.log.find("Version:") != std::string::npos &&
            view.log.find("No Upgrade Required") == std::string::npos) {
            operatorTicked = true;
            view.SetChecked(
                state.armImagePresent > 0 ? Control::CheckProgramArm : Control::CheckProgramFPGA,
                true);
        }
        controller.TimerCheck_Tick();
        follow.NoteConnection(device);
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
