// The "expect" commands: what the log, the window, the controller, the clock and the box must show
// at that point of the run.
#include <map>

#include "scenario/console_view.h"
#include "scenario/scenario_names.h"
#include "scenario/scenario_parser.h"

namespace ZELKSim {
namespace {

using ZELKUtil::UpgradeState;

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

// The controller's fields a scenario may state, by their names.
const std::map<std::string, std::function<std::int64_t(const UpgradeState&)>>& StateFields() {
    static const std::map<std::string, std::function<std::int64_t(const UpgradeState&)>> kFields = {
        {"connected", [](const UpgradeState& s) { return s.connected; }},
        {"operation_underway", [](const UpgradeState& s) { return s.operation_underway; }},
        {"arm_just_programmed", [](const UpgradeState& s) { return s.arm_just_programmed; }},
        {"force_bootloader", [](const UpgradeState& s) { return s.force_bootloader; }},
        {"checking_currently", [](const UpgradeState& s) { return s.checking_currently; }},
        {"startCountDown", [](const UpgradeState& s) { return s.startCountDown; }},
        {"fpgaImagePresent", [](const UpgradeState& s) { return s.fpgaImagePresent; }},
        {"armImagePresent", [](const UpgradeState& s) { return s.armImagePresent; }},
        {"error_occurred", [](const UpgradeState& s) { return s.error_occurred; }},
        {"currently_programming_fpga",
         [](const UpgradeState& s) { return s.currently_programming_fpga; }},
        {"fpga_erase_first", [](const UpgradeState& s) { return s.fpga_erase_first; }},
        {"driversInstalled", [](const UpgradeState& s) { return s.driversInstalled; }},
        {"fpga_usb_quick", [](const UpgradeState& s) { return s.fpga_usb_quick; }},
        {"upgradeMode", [](const UpgradeState& s) { return s.upgradeMode; }},
        {"useDfuUtil", [](const UpgradeState& s) { return s.useDfuUtil; }},
        {"diagOutput", [](const UpgradeState& s) { return s.diagOutput; }},
    };
    return kFields;
}

// Shows where two lists of block lines part and both in full.
std::string BlockDifference(const std::string& what, const std::vector<std::string>& expected,
                            const std::vector<std::string>& actual) {
    std::size_t first = 0;
    while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) {
        ++first;
    }
    const auto at = [](const std::vector<std::string>& lines, std::size_t i) {
        return i < lines.size() ? "|" + lines[i] : std::string("(no line)");
    };
    std::string text = what + " differs from its block line " + std::to_string(first + 1) +
                       " on\n  expected: " + at(expected, first) +
                       "\n  actual:   " + at(actual, first) + "\nexpected " + what + ":\n";
    for (const std::string& line : expected) {
        text += "|" + line + "\n";
    }
    text += "actual " + what + ":\n";
    for (const std::string& line : actual) {
        text += "|" + line + "\n";
    }
    return text;
}

// "expect log", then the log's lines: the whole log, its lines joined with CR LF.
void ExpectLog(ScenarioParser& p, const Tokens& /*t*/) {
    const auto block = p.Block("log");
    if (!block) {
        return;
    }
    std::string expected;
    for (std::size_t i = 0; i < block->size(); ++i) {
        expected += (i == 0 ? "" : "\r\n") + (*block)[i];
    }
    p.Add([line = p.Line(), expected](ScenarioRun& run) {
        if (run.world.view.log != expected) {
            run.failures.push_back(
                std::to_string(line) + ": " +
                BlockDifference("log", LogBlockLines(expected), LogBlockLines(run.world.view.log)));
        }
        return std::string();
    });
}

// "expect tools", then a line for each tool start so far.
void ExpectTools(ScenarioParser& p, const Tokens& /*t*/) {
    const auto block = p.Block("tools");
    if (!block) {
        return;
    }
    p.Add([line = p.Line(), expected = *block](ScenarioRun& run) {
        std::vector<std::string> actual;
        for (const ToolStart& start : run.world.tools.Starts()) {
            actual.push_back(ToolCommandLine(start.program, start.arguments));
        }
        if (actual != expected) {
            run.failures.push_back(std::to_string(line) + ": " +
                                   BlockDifference("tool starts", expected, actual));
        }
        return std::string();
    });
}

// "expect road", then a line for each road event so far: every decision and step of each box's
// road and its end, as the trace names them.
void ExpectRoad(ScenarioParser& p, const Tokens& /*t*/) {
    const auto block = p.Block("road");
    if (!block) {
        return;
    }
    p.Add([line = p.Line(), expected = *block](ScenarioRun& run) {
        if (run.road != expected) {
            run.failures.push_back(std::to_string(line) + ": " +
                                   BlockDifference("road events", expected, run.road));
        }
        return std::string();
    });
}

void ExpectLabel(ScenarioParser& p, const Tokens& t) {
    if (const auto label = p.ControlNamed(t[2])) {
        p.AddExpect(
            std::string(ControlName(*label)),
            [label = *label](ScenarioRun& run) { return Quoted(run.world.view.Text(label)); },
            Quoted(t[3].value));
    }
}

// "expect shown", "expect checked" and "expect enabled".
void ExpectControlFlag(ScenarioParser& p, const Tokens& t) {
    const std::string& what = t[1].value;
    const auto control = p.ControlNamed(t[2]);
    const auto value = control ? p.Flag(t[3]) : std::nullopt;
    if (value) {
        p.AddExpect(
            std::string(ControlName(*control)) + " " + what,
            [what, control = *control](ScenarioRun& run) {
                const ConsoleView& v = run.world.view;
                return YesNo(what == "shown"     ? v.Shown(control)
                             : what == "checked" ? v.Checked(control)
                                                 : v.Enabled(control));
            },
            YesNo(*value));
    }
}

// An expectation of a number from `min` to `max`, shown as the number.
void ExpectNumber(ScenarioParser& p, const Token& token, std::int64_t min, std::int64_t max,
                  std::string what, std::function<std::int64_t(ScenarioRun&)> actual) {
    if (const auto value = p.Number(token, min, max)) {
        p.AddExpect(
            std::move(what),
            [actual = std::move(actual)](ScenarioRun& run) { return std::to_string(actual(run)); },
            std::to_string(*value));
    }
}

void ExpectState(ScenarioParser& p, const Tokens& t) {
    const auto field = StateFields().find(t[2].value);
    if (field == StateFields().end()) {
        p.Fail("no controller field '" + t[2].value + "' can be stated");
        return;
    }
    ExpectNumber(p, t[3], -2147483648LL, 2147483647LL, t[2].value,
                 [get = field->second](ScenarioRun& run) { return get(run.world.State()); });
}

void ExpectWaits(ScenarioParser& p, const Tokens& t) {
    std::string expected;
    for (std::size_t i = 2; i < t.size(); ++i) {
        const auto ms = p.Number(t[i], 0, kMaxTimeMs);
        if (!ms) {
            return;
        }
        expected += (expected.empty() ? "" : " ") + std::to_string(*ms);
    }
    p.AddExpect(
        "waits",
        [](ScenarioRun& run) {
            std::string text;
            for (const std::int64_t ms : run.world.controllerClock.Waits()) {
                text += (text.empty() ? "" : " ") + std::to_string(ms);
            }
            return "[" + text + "]";
        },
        "[" + expected + "]");
}

void ExpectBoxMode(ScenarioParser& p, const Tokens& t) {
    const auto mode = ModeByName(t[2].value);
    if (!mode) {
        p.Fail("usage: expect box-mode normal|bootloader|fpga-programmer|absent");
        return;
    }
    p.AddExpect(
        "box mode", [](ScenarioRun& run) { return ModeName(run.Box().Mode()); }, ModeName(*mode));
}

constexpr Keyword kExpectations[] = {
    {"log", 1, "expect log, then \"|\" lines and \"end\"", ExpectLog},
    {"tools", 1, "expect tools, then \"|\" lines and \"end\"", ExpectTools},
    {"road", 1, "expect road, then \"|\" lines and \"end\"", ExpectRoad},
    {"label", 3, "expect label NAME TEXT", ExpectLabel},
    {"shown", 3, "expect shown NAME yes|no", ExpectControlFlag},
    {"checked", 3, "expect checked NAME yes|no", ExpectControlFlag},
    {"enabled", 3, "expect enabled NAME yes|no", ExpectControlFlag},
    {"log-height", 2, "expect log-height PIXELS",
     [](ScenarioParser& p, const Tokens& t) {
         ExpectNumber(p, t[2], -100000, 100000, "log height",
                      [](ScenarioRun& run) { return run.world.view.LogHeight(); });
     }},
    {"combo-index", 2, "expect combo-index INDEX",
     [](ScenarioParser& p, const Tokens& t) {
         ExpectNumber(p, t[2], -1, 1000000, "combo index",
                      [](ScenarioRun& run) { return run.world.view.ComboSelectedIndex(); });
     }},
    {"profile", 2, "expect profile ID|none",
     [](ScenarioParser& p, const Tokens& t) {
         p.AddExpect(
             "current profile",
             [](ScenarioRun& run) {
                 const auto& profile = run.world.State().current_profile;
                 return profile ? Quoted(profile->id) : std::string("none");
             },
             t[2].value == "none" ? "none" : Quoted(t[2].value));
     }},
    {"state", 3, "expect state FIELD NUMBER", ExpectState},
    {"time", 2, "expect time MS",
     [](ScenarioParser& p, const Tokens& t) {
         ExpectNumber(p, t[2], 0, kMaxTimeMs * 2, "time",
                      [](ScenarioRun& run) { return run.world.clock.NowMs(); });
     }},
    {"waits", Keyword::kOwnWords, "", ExpectWaits},
    {"box-mode", 2, "expect box-mode normal|bootloader|fpga-programmer|absent", ExpectBoxMode},
    {"rings", 2, "expect rings on|off",
     [](ScenarioParser& p, const Tokens& t) {
         if (const auto on = p.Flag(t[2])) {
             p.AddExpect(
                 "rings", [](ScenarioRun& run) { return YesNo(run.Box().RingsOn()); }, YesNo(*on));
         }
     }},
};

constexpr Keyword kExpectKeywords[] = {
    {"expect", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         p.Items(t, kExpectations, "expect WHAT ...", "unknown expectation");
     }},
};

}  // namespace

Keywords ExpectKeywords() {
    return kExpectKeywords;
}

}  // namespace ZELKSim
