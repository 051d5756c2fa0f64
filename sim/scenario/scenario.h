#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "scenario/scenario_world.h"

namespace ZELKSim {

// One scenario being played: the world, the timer and what went wrong so far.
struct ScenarioRun {
    explicit ScenarioRun(ScenarioWorld& w) : world(w) {}

    // Time passes to the timer's next tick, the poll runs, then the timer's interval passes.
    void Tick();
    // Time passes to `atMs`, with the timer's polls that fall due before it.
    void AdvanceTo(std::int64_t atMs);
    // A poll requested by a device change; the timer is not touched.
    void DeviceChange();
    // The device changes the box reported since the last delivery, delivered as the system
    // delivers them to the window: one notification each (the controller makes one poll of
    // several that come while it is busy).
    void DeliverDeviceChanges();
    // The timer's poll, now.
    void TimerTick();
    // A trace line, stamped with the time, when tracing.
    void Note(const std::string& what) const;

    // The box that box, plug, unplug and box-mode lines are about: the first unless "box at"
    // chose another.
    EmulatedBox& Box() { return selected != nullptr ? *selected : world.box; }

    ScenarioWorld& world;
    EmulatedBox* selected = nullptr;
    std::ostream* trace = nullptr;
    // When the timer's next tick is due. The first comes at once.
    std::int64_t nextTickMs = 0;
    // Expectations that did not hold, each with its line.
    std::vector<std::string> failures;
    // The road events so far (progress left out), as the trace names them, without their time.
    std::vector<std::string> road;
    // Whether the box's changes of presence reach the controller by themselves ("notifications
    // on"); off, only "devicechange" lines notify it.
    bool deliverDeviceChanges = false;
    // Changes the box reported that have not been delivered yet.
    int undeliveredChanges = 0;
};

// What one line of a scenario does, once the world exists. Returns "" or, for a scenario that
// cannot go on (a time already past, an item the list does not hold), the reason; an expectation
// that does not hold is noted in the run's failures instead.
using StepAction = std::function<std::string(ScenarioRun&)>;

struct ScenarioStep {
    int line = 0;
    // The line as written, for the trace.
    std::string text;
    // Whether the controller must have started before it: everything but box and tool settings.
    bool needsController = true;
    // The run cannot go on after a failure of this step (a text that never came to the log).
    bool stopsOnFailure = false;
    StepAction action;
};

struct Scenario {
    PackageContents package;
    std::string machine = "x86_64";
    std::vector<ScenarioStep> steps;
};

struct ScenarioParseResult {
    Scenario scenario;
    // 0 when the text parsed; else the line of the first error and its reason.
    int errorLine = 0;
    std::string error;
};

ScenarioParseResult ParseScenario(std::string_view text);

// A package program as scenario files name it, and back: "/" between folders and no ".exe" on
// every platform, so that one scenario file plays on Linux and on Windows ("Tools/dfu-util" is
// "Tools\dfu-util.exe" on Windows).
std::string ScenarioProgramName(std::string platformName);
std::string PlatformProgramName(std::string scenarioName);

// A tool's start as one line: the program (as scenario files name it) and its arguments, an
// argument that holds a blank or anything unusual in double quotes with escapes.
std::string ToolCommandLine(const std::string& program, const std::vector<std::string>& arguments);

// A log text as the lines of an expectation block: split at each CR LF, every other control
// character, and the backslash, escaped.
std::vector<std::string> LogBlockLines(const std::string& log);

}  // namespace ZELKSim
