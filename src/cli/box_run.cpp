#include "cli/box_run.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "cli/box_tools.h"
#include "cli/box_watch.h"
#include "cli/programmer_turn.h"
#include "controller/headless_view.h"
#include "controller/periods.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil::Cli {
namespace {

// The controller's clock, which tells the run as its waits go by: the controller blocks in its
// waits (the driver installer's run and the wait after it, the countdown's first second, a
// bootloader's start), and the box's progress must move with the time meanwhile, not stand still
// and then leap.
class TickingClock final : public Clock {
  public:
    TickingClock(Clock& inner, std::function<void()> tick)
        : inner_(inner), tick_(std::move(tick)) {}
    std::int64_t NowMs() override { return inner_.NowMs(); }
    void SleepMs(std::int64_t ms) override {
        for (; ms > 0; ms -= kTickMs) {
            inner_.SleepMs(std::min(ms, kTickMs));
            tick_();
        }
    }
    void SliceMs(std::int64_t ms) override {
        inner_.SliceMs(ms);
        tick_();
    }

  private:
    // A step of the bar on a road of half a minute or so.
    static constexpr std::int64_t kTickMs = 250;
    Clock& inner_;
    std::function<void()> tick_;
};

}  // namespace

BoxRun::BoxRun(BoxPlatform& platform, Clock& clock, std::string port, BoxRunSettings settings,
               BoxReport report, BoxRunHooks hooks, const std::atomic<bool>& stopping)
    : platform_(platform),
      clock_(clock),
      port_(std::move(port)),
      settings_(std::move(settings)),
      report_(std::move(report)),
      hooks_(std::move(hooks)),
      stopping_(stopping) {}

BoxOutcome BoxRun::Run() {
    platform_.Transport().hid_confine_to_port(Confinement(port_));
    platform_.Probe().ConfineToPort(Confinement(port_));
    ReadPathModes modes;
    ZELK device(platform_.Transport(), platform_.Probe(), clock_, modes);
    HeadlessView view;
    auto toolErrors = std::make_shared<ToolErrors>();
    BoxTools tools(platform_.Processes(), toolErrors, settings_.installerGate, [this] {
        report_(Events::State{port_, BoxState::WaitingForInstaller});
    });
    BoxWatch* watching = nullptr;
    TickingClock ticking(clock_, [&watching] {
        if (watching != nullptr) {
            watching->ReportLines();
        }
    });
    UpgradeController controller(
        {view, ticking, device, tools, settings_.packageFolder, settings_.nativeMachine});
    controller.TellDfuUtilThePort(settings_.dfuUtilPort);
    controller.InitializeApplication();
    BoxWatch follow({port_, clock_, settings_, report_, hooks_, *toolErrors}, view);
    follow.Skip();
    watching = &follow;
    view.SetAppendListener([&follow] { follow.ReportLines(); });
    // Declared after the controller, so left before the controller is gone, however the run ends.
    ProgrammerHold programmer(settings_.programmerTurn, port_);
    tools.OnProgrammerTool([this, &programmer, &follow, &ticking, &device] {
        return TakeProgrammer(programmer, follow, ticking, device);
    });
    controller.ListenToRoad([&follow, &programmer](const RoadEvent& event) {
        follow.Follow(event);
        programmer.Follow(event);
    });
    const auto ids = NormalModeIds(settings_.profiles);
    if (stopping_.load()) {
        // Asked to stop before the box was touched.
        return follow.Finish({BoxResult::Stopped, "Ctrl+C came before the box was touched"});
    }
    for (const auto& [serial, bounds] : settings_.knownBounds) {
        controller.KeepBounds(serial, bounds);
    }
    if (const std::optional<ResumeFrom>& resume = settings_.resume) {
        controller.KnowBox(port_, resume->profile, resume->serial, resume->version);
        follow.Resume(*resume, settings_.resumeAgeSeconds);
    }
    for (;;) {
        if (const std::optional<Control> tick = follow.TickWanted()) {
            view.SetChecked(*tick, true);
        }
        follow.NotePoll();
        controller.TimerCheck_Tick();
        follow.ReportLines();
        const bool present = !device.BoxPorts(ids).empty();
        programmer.Present(present);
        if (const auto result = follow.Judge(present, stopping_.load())) {
            controller.Dispose();
            BoxOutcome outcome = follow.Finish(*result);
            if (hooks_.bounds) {
                hooks_.bounds(controller.KnownBounds());
            }
            return outcome;
        }
        ticking.SleepMs(Periods::kPollMs);
    }
}

bool BoxRun::TakeProgrammer(ProgrammerHold& hold, BoxWatch& follow, Clock& ticking, ZELK& device) {
    std::optional<std::string> other = hold.TryTake();
    if (!other) {
        return true;
    }
    follow.WaitsForProgrammer();
    if (hooks_.waitsForProgrammer) {
        hooks_.waitsForProgrammer(*other);
    }
    const auto ids = NormalModeIds(settings_.profiles);
    for (;;) {
        ticking.SleepMs(Periods::kPollMs);
        if (!hold.TryTake()) {
            follow.GotProgrammer();
            return true;
        }
        // The box waits in its bootloader (or as the programmer): the run's own bounds still
        // hold, as between polls.
        if (const auto verdict = follow.Judge(!device.BoxPorts(ids).empty(), stopping_.load())) {
            hold.Leave();
            follow.EndWith(*verdict);
            return false;
        }
    }
}

}  // namespace ZELKUtil::Cli
