// The "box" commands: what the emulated box is and how it behaves.
#include <algorithm>
#include <map>

#include "scenario/scenario_names.h"
#include "scenario/scenario_parser.h"

namespace ZELKSim {
namespace {

void BoxStep(ScenarioParser& p, std::function<void(EmulatedBox&)> change) {
    p.Add(
        [change = std::move(change)](ScenarioRun& run) {
            change(run.Box());
            return std::string();
        },
        false);
}

void Product(ScenarioParser& p, const Tokens& t) {
    const std::string product = t[2].value;
    if (std::any_of(product.begin(), product.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        p.Fail("the product string must be plain ASCII");
        return;
    }
    BoxStep(p, [product](EmulatedBox& box) {
        BoxIdentity identity = box.Identity();
        identity.product = std::wstring(product.begin(), product.end());
        box.SetIdentity(identity);
    });
}

void Ids(ScenarioParser& p, const Tokens& t) {
    const auto vid = p.Number(t[2], 0, 0xFFFF);
    const auto pid = vid ? p.Number(t[3], 0, 0xFFFF) : std::nullopt;
    if (pid) {
        BoxStep(p, [vid = *vid, pid = *pid](EmulatedBox& box) {
            BoxIdentity identity = box.Identity();
            identity.vid = static_cast<std::uint16_t>(vid);
            identity.pid = static_cast<std::uint16_t>(pid);
            box.SetIdentity(identity);
        });
    }
}

// "box eye" and "box eye-event": left, right or the eye's number.
void Eye(ScenarioParser& p, const Tokens& t) {
    std::optional<std::int64_t> eye;
    if (t[2].value == "left") {
        eye = 0;
    } else if (t[2].value == "right") {
        eye = 1;
    } else {
        eye = p.Number(t[2], 0, 255);
    }
    if (!eye) {
        return;
    }
    const auto value = static_cast<std::uint8_t>(*eye);
    if (t[1].value == "eye") {
        BoxStep(p, [value](EmulatedBox& box) { box.SetEye(value); });
    } else {
        BoxStep(p, [value](EmulatedBox& box) { box.SendEyeChangedEvent(value); });
    }
}

// A field of the diagnostics answer: its range and where it goes.
struct DiagnosticsField {
    std::int64_t min, max;
    std::function<void(DiagnosticsState&, std::int64_t)> set;
};

const std::map<std::string, DiagnosticsField>& DiagnosticsFields() {
    const auto byte = [](std::int8_t DiagnosticsState::*field) {
        return DiagnosticsField{-128, 255, [field](DiagnosticsState& s, std::int64_t v) {
                                    s.*field = static_cast<std::int8_t>(v);
                                }};
    };
    const auto word = [](std::int16_t DiagnosticsState::*field) {
        return DiagnosticsField{-32768, 65535, [field](DiagnosticsState& s, std::int64_t v) {
                                    s.*field = static_cast<std::int16_t>(v);
                                }};
    };
    static const std::map<std::string, DiagnosticsField> kFields = {
        {"hardware", byte(&DiagnosticsState::hardware)},
        {"mains_power", byte(&DiagnosticsState::mains_power)},
        {"frontend_flags",
         {0, 255,
          [](DiagnosticsState& s, std::int64_t v) {
              s.frontend_flags = static_cast<std::uint8_t>(v);
          }}},
        {"video_in", byte(&DiagnosticsState::video_in)},
        {"video_stream", byte(&DiagnosticsState::video_stream)},
        {"tasker_error", byte(&DiagnosticsState::tasker_error)},
        {"i2c_errors", byte(&DiagnosticsState::i2c_errors)},
        {"usb_errors", byte(&DiagnosticsState::usb_errors)},
        {"fpga_version", word(&DiagnosticsState::fpga_version)},
        {"fpga_vid_width", word(&DiagnosticsState::fpga_vid_width)},
        {"fpga_vid_height", word(&DiagnosticsState::fpga_vid_height)},
        {"ring_state",
         {0, 1, [](DiagnosticsState& s, std::int64_t v) { s.sendsRingState = v != 0; }}},
    };
    return kFields;
}

void Diagnostics(ScenarioParser& p, const Tokens& t) {
    const auto& fields = DiagnosticsFields();
    DiagnosticsState d;
    for (std::size_t i = 2; i < t.size(); ++i) {
        const auto it = t[i].keyed ? fields.find(t[i].key) : fields.end();
        if (it == fields.end()) {
            p.Fail("unknown diagnostics field '" + (t[i].keyed ? t[i].key : t[i].value) + "'");
            return;
        }
        std::optional<std::int64_t> value;
        if (it->first == "ring_state") {
            const auto flag = p.Flag(t[i]);
            value = flag ? std::optional<std::int64_t>(*flag ? 1 : 0) : std::nullopt;
        } else {
            value = p.Number(t[i], it->second.min, it->second.max);
        }
        if (!value) {
            return;
        }
        it->second.set(d, *value);
    }
    BoxStep(p, [d](EmulatedBox& box) { box.SetDiagnostics(d); });
}

std::optional<AnswerBehaviour> Answer(ScenarioParser& p, const Tokens& t) {
    if (t.size() == 3 && !t[2].keyed) {
        if (t[2].value == "normal") {
            return AnswerBehaviour::Normal();
        }
        if (t[2].value == "silent") {
            return AnswerBehaviour::Silent();
        }
        if (t[2].value == "wrong-id") {
            return AnswerBehaviour::WrongId();
        }
    } else if (t.size() == 4 && t[2].value == "late") {
        if (const auto ms = p.Number(t[3], 0, kMaxTimeMs)) {
            return AnswerBehaviour::Late(*ms);
        }
        return std::nullopt;
    }
    p.Fail("usage: box " + t[1].value + " normal|silent|wrong-id|late MS");
    return std::nullopt;
}

// "box answers" (from now on) and "box next-answer" (the next one only).
void Answers(ScenarioParser& p, const Tokens& t) {
    const auto behaviour = Answer(p, t);
    if (behaviour && t[1].value == "answers") {
        BoxStep(p, [b = *behaviour](EmulatedBox& box) { box.SetAnswerBehaviour(b); });
    } else if (behaviour) {
        BoxStep(p, [b = *behaviour](EmulatedBox& box) { box.QueueAnswerBehaviour(b); });
    }
}

void Mode(ScenarioParser& p, const Tokens& t) {
    const auto mode = ModeByName(t[2].value);
    if (!mode) {
        p.Fail("usage: box mode normal|bootloader|fpga-programmer|absent");
    } else if (*mode == BoxMode::Absent) {
        BoxStep(p, [](EmulatedBox& box) { box.Unplug(); });
    } else {
        BoxStep(p, [m = *mode](EmulatedBox& box) { box.Plug(m); });
    }
}

// A box setting that is a number from `min` to `max`.
template <typename Value>
void BoxNumber(ScenarioParser& p, const Token& token, std::int64_t min, std::int64_t max,
               void (EmulatedBox::*set)(Value)) {
    if (const auto value = p.Number(token, min, max)) {
        BoxStep(p, [set, v = static_cast<Value>(*value)](EmulatedBox& box) { (box.*set)(v); });
    }
}

// A box setting that is one of the names in `choices`.
template <typename Value>
void BoxChoice(ScenarioParser& p, const Tokens& t,
               std::initializer_list<std::pair<std::string_view, Value>> choices,
               void (EmulatedBox::*set)(Value)) {
    if (const auto value = p.Choice(t, choices)) {
        BoxStep(p, [set, v = *value](EmulatedBox& box) { (box.*set)(v); });
    }
}

constexpr Keyword kBoxItems[] = {
    {"product", 2, "box product TEXT", Product},
    {"ids", 3, "box ids VID PID", Ids},
    {"version", 2, "box version TEXT",
     [](ScenarioParser& p, const Tokens& t) {
         BoxStep(p, [v = t[2].value](EmulatedBox& box) { box.SetFirmwareVersion(v); });
     }},
    {"serial", 2, "box serial TEXT",
     [](ScenarioParser& p, const Tokens& t) {
         BoxStep(p, [v = t[2].value](EmulatedBox& box) { box.SetSerial(v); });
     }},
    {"eye", 2, "box eye left|right|NUMBER", Eye},
    {"eye-event", 2, "box eye-event left|right|NUMBER", Eye},
    {"error-event", 2, "box error-event NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         BoxNumber<std::int8_t>(p, t[2], -128, 127, &EmulatedBox::SendErrorEvent);
     }},
    {"diagnostics", Keyword::kOwnWords, "", Diagnostics},
    {"answers", Keyword::kOwnWords, "", Answers},
    {"next-answer", Keyword::kOwnWords, "", Answers},
    {"control-pipe", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         BoxChoice<ControlPipe>(p, t,
                                {{"works", ControlPipe::Works},
                                 {"fails", ControlPipe::Fails},
                                 {"marker-78", ControlPipe::AnswersMarker78},
                                 {"zero", ControlPipe::AnswersZero}},
                                &EmulatedBox::SetControlPipe);
     }},
    {"writes", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         BoxChoice<WriteOutcome>(p, t,
                                 {{"accepted", WriteOutcome::Accepted},
                                  {"fails", WriteOutcome::Fails},
                                  {"times-out", WriteOutcome::TimesOut}},
                                 &EmulatedBox::SetWriteOutcome);
     }},
    {"unplug-on-next-request", 1, "box unplug-on-next-request",
     [](ScenarioParser& p, const Tokens& /*t*/) {
         BoxStep(p, [](EmulatedBox& box) { box.UnplugOnNextRequest(); });
     }},
    {"hid-access", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         BoxChoice<bool>(p, t, {{"allowed", true}, {"denied", false}}, &EmulatedBox::SetHidAccess);
     }},
    {"driver", 2, "box driver -1|0|1|2|3",
     [](ScenarioParser& p, const Tokens& t) {
         BoxNumber<int>(p, t[2], -1, 3, &EmulatedBox::SetDriverState);
     }},
    {"restart-ms", 2, "box restart-ms MS",
     [](ScenarioParser& p, const Tokens& t) {
         BoxNumber<std::int64_t>(p, t[2], 0, kMaxTimeMs, &EmulatedBox::SetRestartMs);
     }},
    {"idcode", 2, "box idcode HEX",
     [](ScenarioParser& p, const Tokens& t) {
         BoxNumber<std::uint32_t>(p, t[2], 0, 0xFFFFFFFF, &EmulatedBox::SetFpgaIdcode);
     }},
    {"checksum", 2, "box checksum HEX",
     [](ScenarioParser& p, const Tokens& t) {
         BoxNumber<std::uint16_t>(p, t[2], 0, 0xFFFF, &EmulatedBox::SetFpgaChecksum);
     }},
    {"mode", 2, "box mode normal|bootloader|fpga-programmer|absent", Mode},
    // A box on another port: made (plugged in, in normal mode) when none is there yet, and the
    // one that the box, plug, unplug and box-mode lines after it are about.
    {"at", 2, "box at PORT",
     [](ScenarioParser& p, const Tokens& t) {
         p.Add(
             [port = t[2].value](ScenarioRun& run) {
                 run.selected = &run.world.AddBox(port);
                 return std::string();
             },
             false);
     }},
};

constexpr Keyword kBoxKeywords[] = {
    {"box", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         p.Items(t, kBoxItems, "box WHAT ...", "unknown box item");
     }},
};

}  // namespace

Keywords BoxKeywords() {
    return kBoxKeywords;
}

}  // namespace ZELKSim
