#include "scenario/scenario_runner.h"

#include <algorithm>
#include <ostream>
#include <variant>

#include "platform/files.h"
#include "scenario/scenario.h"

namespace ZELKSim {

using ZELKUtil::Control;

void ScenarioRun::Note(const std::string& what) const {
    if (trace != nullptr) {
        *trace << TimeStamp(world.clock.NowMs()) << what << '\n';
    }
}

void ScenarioRun::Tick() {
    AdvanceTo(nextTickMs);
    TimerTick();
    AdvanceTo(nextTickMs);
}

void ScenarioRun::TimerTick() {
    Note("poll (timer tick)");
    world.controller->TimerCheck_Tick();
    nextTickMs = world.clock.NowMs() + ScenarioWorld::kTimerIntervalMs;
    DeliverDeviceChanges();
}

void ScenarioRun::AdvanceTo(std::int64_t atMs) {
    // Every tick moves the next one a whole interval on, so this ends.
    for (;;) {
        const std::int64_t until = std::min(nextTickMs, atMs);
        // An idle window gets a device change at once: time stops there for its poll.
        while (world.clock.NowMs() < until || undeliveredChanges > 0) {
            world.clock.WaitUntil(until, [this] { return undeliveredChanges > 0; });
            DeliverDeviceChanges();
        }
        if (nextTickMs >= atMs) {
            return;
        }
        TimerTick();
    }
}

void ScenarioRun::DeviceChange() {
    Note("poll (device change)");
    world.controller->Main_OnDeviceChange();
}

void ScenarioRun::DeliverDeviceChanges() {
    while (undeliveredChanges > 0) {
        --undeliveredChanges;
        Note("device change");
        world.controller->Main_OnDeviceChange();
    }
}

namespace {

// Starts the tools through the emulated process service and traces each command line.
class TracingProcessService final : public ZELKUtil::ProcessService {
  public:
    ZELKUtil::Result<std::unique_ptr<ZELKUtil::ChildProcess>> Start(
        const ZELKUtil::StartRequest& request) override {
        std::string where = request.workingDirectory;
        // The package folder is a fresh temporary one each run; the trace names it alike.
        if (where.rfind(packageRoot, 0) == 0) {
            where.replace(0, packageRoot.size(), "<package>");
        }
        run->Note("tool " + ToolCommandLine(request.program, request.arguments) +
                  (where.empty() ? "" : " in " + Quoted(where)));
        auto child = inner->Start(request);
        if (!child) {
            run->Note("tool not started: " + child.error().Text());
        }
        return child;
    }

    ZELKUtil::ProcessService* inner = nullptr;
    const ScenarioRun* run = nullptr;
    std::string packageRoot;
};

void WriteTranscript(const ConsoleView& view, std::ostream& out) {
    out << "--- log ---\n" << view.log << "\n--- end of log ---\n";
    for (Control label : {Control::DeviceLabel, Control::LabelMode, Control::LabelEye,
                          Control::TextUpgradeVersion}) {
        out << ControlName(label) << ' ' << Quoted(view.Text(label)) << '\n';
    }
    out.flush();
}

// The scenario in the file; none, after telling `err` why, when it cannot be read or parsed.
std::optional<Scenario> ReadScenario(const std::string& path, std::ostream& err) {
    constexpr std::size_t kMaxScenarioBytes = std::size_t{4} * 1024 * 1024;
    const ZELKUtil::Result<std::string> read = ZELKUtil::Files::ReadHead(path, kMaxScenarioBytes);
    if (!read) {
        err << path << ": cannot read: " << read.error().reason << '\n';
        return std::nullopt;
    }
    const std::string& text = read.value();
    if (text.size() == kMaxScenarioBytes) {
        err << path << ": longer than any scenario should be\n";
        return std::nullopt;
    }
    ScenarioParseResult parsed = ParseScenario(text);
    if (parsed.errorLine != 0) {
        err << path << ':' << parsed.errorLine << ": " << parsed.error << '\n';
        return std::nullopt;
    }
    return std::move(parsed.scenario);
}

// Connects the run to its world: the box's changes of presence, the controller's waits and, when
// tracing, the window's echo.
void Connect(ScenarioRun& run, bool trace, std::ostream& out) {
    ScenarioWorld& world = run.world;
    // The box tells of each change of its presence; the window hears of it as soon as its thread
    // runs the event loop: at once when idle, at the end of a wait inside a poll or a tool run.
    world.SetPresenceListener([&run](BoxMode /*mode*/) {
        if (run.deliverDeviceChanges) {
            ++run.undeliveredChanges;
        }
    });
    world.controllerClock.afterWait = [&run] {
        if (run.world.controller) {
            run.DeliverDeviceChanges();
        }
    };
    if (trace) {
        run.trace = &out;
        world.view.SetEcho({&out, true, [&world] { return world.clock.NowMs(); }});
        world.controllerClock.onWait = [&run](std::int64_t ms) {
            run.Note("wait " + std::to_string(ms) + " ms");
        };
    }
}

// Plays the steps, the controller started before the first that needs it (or at the end). Returns
// kScenarioPassed, or kScenarioUnplayable for a step after which the run cannot go on.
int PlaySteps(const std::vector<ScenarioStep>& steps, ScenarioRun& run,
              ZELKUtil::ProcessService* processes, const std::string& path, std::ostream& err) {
    int status = kScenarioPassed;
    bool started = false;
    const auto start = [&] {
        run.Note("start-up");
        run.world.Start(processes);
        // Every step of each box's road, every decision made for it and why, and its end.
        run.world.controller->ListenToRoad([&run](const ZELKUtil::RoadEvent& event) {
            if (!std::holds_alternative<ZELKUtil::RoadEvents::DownloadProgress>(event)) {
                run.road.push_back(ZELKUtil::DescribeRoadEvent(event));
                run.Note(run.road.back());
            }
        });
        started = true;
    };
    for (const ScenarioStep& step : steps) {
        if (step.needsController && !started) {
            start();
        }
        run.Note("line " + std::to_string(step.line) + ": " + step.text);
        const std::size_t failures = run.failures.size();
        if (std::string error = step.action(run); !error.empty()) {
            err << path << ':' << step.line << ": " << error << '\n';
            status = kScenarioUnplayable;
            break;
        }
        if (started) {
            run.DeliverDeviceChanges();
        }
        if (step.stopsOnFailure && run.failures.size() != failures) {
            break;
        }
    }
    if (!started) {
        start();
    }
    return status;
}

}  // namespace

int RunScenarioFile(const std::string& path, bool trace, std::ostream& out, std::ostream& err) {
    const std::optional<Scenario> scenario = ReadScenario(path, err);
    if (!scenario) {
        return kScenarioUnplayable;
    }
    ScratchFolder folder;
    if (const auto created = folder.Create(); !created) {
        err << path << ": " << created.error().Text() << '\n';
        return kScenarioUnplayable;
    }
    if (const auto written = WritePackage(folder.Root(), scenario->package); !written) {
        err << path << ": " << written.error().Text() << '\n';
        return kScenarioUnplayable;
    }

    // Declared before the world, so that it outlives the controller that uses it.
    TracingProcessService tracer;
    ScenarioWorld world(folder.Root());
    world.machine = scenario->machine;
    ScenarioRun run(world);
    Connect(run, trace, out);
    tracer.inner = &world.tools;
    tracer.run = &run;
    tracer.packageRoot = folder.Root();

    int status = PlaySteps(scenario->steps, run, &tracer, path, err);
    WriteTranscript(world.view, out);
    for (const std::string& failure : run.failures) {
        err << path << ':' << failure << '\n';
    }
    if (status == kScenarioPassed && !run.failures.empty()) {
        status = kScenarioFailed;
    }
    return status;
}

}  // namespace ZELKSim
