// The run's steps: time passing, what the operator does and the box's plug.
#include <map>

#include "scenario/console_view.h"
#include "scenario/scenario_names.h"
#include "scenario/scenario_parser.h"

namespace ZELKSim {
namespace {

using ZELKUtil::Control;
using ZELKUtil::Key;

// "tick until TEXT max COUNT": ticks until the text comes to the log; the run stops when it does
// not.
void TickUntil(ScenarioParser& p, const Tokens& t) {
    const auto most = p.Number(t[4], 1, kMaxTicks);
    if (!most) {
        return;
    }
    p.Add(
        [line = p.Line(), text = t[2].value, most = *most](ScenarioRun& run) {
            for (std::int64_t i = 0; i < most; ++i) {
                if (run.world.view.log.find(text) != std::string::npos) {
                    return std::string();
                }
                run.Tick();
            }
            if (run.world.view.log.find(text) == std::string::npos) {
                run.failures.push_back(std::to_string(line) + ": " + Quoted(text) +
                                       " did not come to the log in " + std::to_string(most) +
                                       " ticks");
            }
            return std::string();
        },
        true, true);
}

void Tick(ScenarioParser& p, const Tokens& t) {
    if (t.size() == 5 && t[1].value == "until" && t[3].value == "max" && !t[2].keyed) {
        TickUntil(p, t);
        return;
    }
    if (t.size() > 2 || (t.size() == 2 && t[1].keyed)) {
        p.Fail("usage: tick [COUNT] or tick until TEXT max COUNT");
        return;
    }
    const auto count = t.size() == 2 ? p.Number(t[1], 1, kMaxTicks) : 1;
    if (count) {
        p.Add([count = *count](ScenarioRun& run) {
            for (std::int64_t i = 0; i < count; ++i) {
                run.Tick();
            }
            return std::string();
        });
    }
}

void At(ScenarioParser& p, const Tokens& t) {
    if (const auto ms = p.Number(t[1], 0, kMaxTimeMs)) {
        p.Add([at = *ms](ScenarioRun& run) {
            const std::int64_t now = run.world.clock.NowMs();
            if (at < now) {
                return "the time " + std::to_string(at) + " is already past (it is " +
                       std::to_string(now) + ")";
            }
            run.AdvanceTo(at);
            return std::string();
        });
    }
}

void After(ScenarioParser& p, const Tokens& t) {
    if (const auto ms = p.Number(t[1], 0, kMaxTimeMs)) {
        p.Add([ms = *ms](ScenarioRun& run) {
            run.AdvanceTo(run.world.clock.NowMs() + ms);
            return std::string();
        });
    }
}

void PressKey(ScenarioParser& p, const Tokens& t) {
    std::string rest = t[1].value;
    bool control = false;
    for (bool more = true; more;) {
        more = false;
        for (const std::string prefix : {"Ctrl+", "Shift+"}) {
            if (rest.rfind(prefix, 0) == 0 && rest.size() > prefix.size()) {
                control = control || prefix == "Ctrl+";
                rest.erase(0, prefix.size());
                more = true;
            }
        }
    }
    Key key = Key::Other;
    if (rest == "M" || rest == "m") {
        key = Key::M;
    } else if (rest == "S" || rest == "s") {
        key = Key::S;
    } else if (rest == "Backspace") {
        key = Key::Backspace;
    }
    p.Add([key, control](ScenarioRun& run) {
        run.world.controller->UpdateForm_KeyDown(key, control);
        return std::string();
    });
}

void Click(ScenarioParser& p, const Tokens& t) {
    using Handler = void (ZELKUtil::UpgradeController::*)();
    static const std::map<std::string, Handler> kButtons = {
        {"ButtonDiag", &ZELKUtil::UpgradeController::ButtonDiag_Click},
        {"Get Stats", &ZELKUtil::UpgradeController::ButtonDiag_Click},
        {"buttonRestart", &ZELKUtil::UpgradeController::buttonRestart_Click},
        {"Start", &ZELKUtil::UpgradeController::buttonRestart_Click},
        {"ButtonForce", &ZELKUtil::UpgradeController::ButtonForce_Click},
        {"Boot", &ZELKUtil::UpgradeController::ButtonForce_Click},
        {"ButtonAutoRings", &ZELKUtil::UpgradeController::ButtonAutoRings_Click},
        {"Enable Rings", &ZELKUtil::UpgradeController::ButtonAutoRings_Click},
    };
    const auto it = kButtons.find(t[1].value);
    if (it == kButtons.end()) {
        p.Fail("no button is named '" + t[1].value + "'");
        return;
    }
    p.Add([handler = it->second](ScenarioRun& run) {
        (run.world.controller.get()->*handler)();
        return std::string();
    });
}

void Choose(ScenarioParser& p, const Tokens& t) {
    p.Add([text = t[1].value](ScenarioRun& run) {
        const int index = run.world.view.ComboFindExact(text);
        if (index < 0) {
            return "the profile list holds no item " + Quoted(text);
        }
        run.world.view.SetComboSelectedIndex(index);
        return std::string();
    });
}

void ChooseIndex(ScenarioParser& p, const Tokens& t) {
    if (const auto index = p.Number(t[1], -1, 1000000)) {
        p.Add([index = static_cast<int>(*index)](ScenarioRun& run) {
            if (index >= static_cast<int>(run.world.view.comboItems.size())) {
                return "the profile list has no item " + std::to_string(index);
            }
            run.world.view.SetComboSelectedIndex(index);
            return std::string();
        });
    }
}

void Check(ScenarioParser& p, const Tokens& t) {
    const auto box = p.ControlNamed(t[1]);
    const auto on = box ? p.Flag(t[2]) : std::nullopt;
    if (on && *box != Control::CheckProgramArm && *box != Control::CheckProgramFPGA) {
        p.Fail("only CheckProgramArm and CheckProgramFPGA can be ticked");
    } else if (on) {
        p.Add([box = *box, on = *on](ScenarioRun& run) {
            run.world.view.SetChecked(box, on);
            return std::string();
        });
    }
}

void Plug(ScenarioParser& p, const Tokens& t) {
    const auto mode = t.size() == 2 ? ModeByName(t[1].value) : BoxMode::Normal;
    if (t.size() > 2 || !mode || *mode == BoxMode::Absent) {
        p.Fail("usage: plug [normal|bootloader|fpga-programmer]");
        return;
    }
    p.Add([mode = *mode](ScenarioRun& run) {
        run.Box().Plug(mode);
        return std::string();
    });
}

// "during PROGRAM [every|times N] at TEXT|after MS unplug|hang|plug [MODE]|restart [MODE]": what
// the box (the one the line is about) does while the program runs, at the first step of a run's
// output that holds the text, or that long into the run; at the program's next run, at its next N
// runs, or at every run.
void During(ScenarioParser& p, const Tokens& t) {
    static const char* const kUsage =
        "usage: during PROGRAM [every|times N] at TEXT|after MS "
        "unplug|hang|plug [MODE]|restart [MODE]";
    ToolMoment moment;
    std::size_t at = 2;
    if (t.size() > at && t[at].value == "every") {
        moment.runs = 0;
        at += 1;
    } else if (t.size() > at + 1 && t[at].value == "times") {
        const auto runs = p.Number(t[at + 1], 1, kMaxTicks);
        if (!runs) {
            return;
        }
        moment.runs = static_cast<int>(*runs);
        at += 2;
    }
    if (t.size() < at + 3 || t.size() > at + 4 || (t[at].value != "at" && t[at].value != "after")) {
        p.Fail(kUsage);
        return;
    }
    moment.program = PlatformProgramName(t[1].value);
    if (t[at].value == "at") {
        moment.text = t[at + 1].value;
    } else if (const auto ms = p.Number(t[at + 1], 0, kMaxTimeMs)) {
        moment.afterMs = *ms;
    } else {
        return;
    }
    const std::string& action = t[at + 2].value;
    const bool moves = action == "plug" || action == "restart";
    const auto mode = t.size() == at + 4 ? ModeByName(t[at + 3].value) : BoxMode::Normal;
    if (t[at].value == "at" && moment.text.empty()) {
        p.Fail("during: the text to wait for is empty");
    } else if (moves ? (!mode || *mode == BoxMode::Absent)
                     : ((action != "unplug" && action != "hang") || t.size() != at + 3)) {
        p.Fail(kUsage);
    } else {
        p.Add(
            [moment, action, mode = *mode,
             line = t[0].value + " " + t[1].value](ScenarioRun& run) mutable {
                EmulatedBox& box = run.Box();
                moment.action = [&run, &box, action, mode, line] {
                    run.Note(line + ": " + action);
                    if (action == "unplug") {
                        box.Unplug();
                    } else if (action == "hang") {
                        box.Hang();
                    } else if (action == "restart") {
                        box.Restart(mode, box.RestartMs());
                    } else {
                        box.Plug(mode);
                    }
                };
                run.world.tools.AddMoment(std::move(moment));
                return std::string();
            },
            false);
    }
}

void Notifications(ScenarioParser& p, const Tokens& t) {
    if (const auto on = p.Flag(t[1])) {
        p.Add(
            [on = *on](ScenarioRun& run) {
                run.deliverDeviceChanges = on;
                return std::string();
            },
            false);
    }
}

constexpr Keyword kStepKeywords[] = {
    {"tick", Keyword::kOwnWords, "", Tick},
    {"at", 1, "at MS", At},
    {"after", 1, "after MS", After},
    {"notifications", 1, "notifications on|off", Notifications},
    {"key", 1, "key [Ctrl+][Shift+]M|S|Backspace|OTHER", PressKey},
    {"click", 1, "click ButtonDiag|buttonRestart|ButtonForce|ButtonAutoRings", Click},
    {"choose", 1, "choose TEXT", Choose},
    {"choose-index", 1, "choose-index INDEX", ChooseIndex},
    {"check", 2, "check CheckProgramArm|CheckProgramFPGA yes|no", Check},
    {"plug", Keyword::kOwnWords, "", Plug},
    {"during", Keyword::kOwnWords, "", During},
    {"unplug", 0, "unplug",
     [](ScenarioParser& p, const Tokens& /*t*/) {
         p.Add([](ScenarioRun& run) {
             run.Box().Unplug();
             return std::string();
         });
     }},
    {"devicechange", 0, "devicechange",
     [](ScenarioParser& p, const Tokens& /*t*/) {
         p.Add([](ScenarioRun& run) {
             run.DeviceChange();
             return std::string();
         });
     }},
};

}  // namespace

Keywords StepKeywords() {
    return kStepKeywords;
}

}  // namespace ZELKSim
