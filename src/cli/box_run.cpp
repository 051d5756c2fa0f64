#include "cli/box_run.h"

#include <utility>

#include "cli/box_tools.h"
#include "cli/box_watch.h"
#include "controller/headless_view.h"
#include "controller/periods.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil::Cli {
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
    UpgradeController controller(
        {view, clock_, device, tools, settings_.packageFolder, settings_.nativeMachine});
    controller.TellDfuUtilThePort(settings_.dfuUtilPort);
    controller.InitializeApplication();
    BoxWatch follow({port_, clock_, settings_, report_, hooks_, *toolErrors}, view);
    follow.Skip();
    view.SetAppendListener([&follow] { follow.ReportLines(); });
    controller.ListenToRoad([&follow](const RoadEvent& event) { follow.Follow(event); });
    const auto ids = NormalModeIds(settings_.profiles);
    if (stopping_.load()) {
        // Asked to stop before the box was touched.
        return follow.Finish({BoxResult::Stopped, "Ctrl+C came before the box was touched"});
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
        if (const auto result = follow.Judge(present, stopping_.load())) {
            controller.Dispose();
            return follow.Finish(*result);
        }
        clock_.SleepMs(Periods::kPollMs);
    }
}

}  // namespace ZELKUtil::Cli
