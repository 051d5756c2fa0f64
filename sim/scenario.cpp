#include "scenario.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

#include "console_view.h"

namespace ZELKSim {
namespace {

using ZELKUtil::Control;
using ZELKUtil::Key;
using ZELKUtil::UpgradeState;

// The longest run a scenario may ask for: a day of virtual time, so that a mistyped number cannot
// keep the runner busy for hours.
constexpr std::int64_t kMaxTimeMs = 24LL * 3600 * 1000;
constexpr std::int64_t kMaxTicks = kMaxTimeMs / ScenarioWorld::kTimerIntervalMs;

struct Token {
    std::string key;  // for key=value
    std::string value;
    bool keyed = false;
};

// Takes the escape at text[i] (a backslash) into out. Returns "" or what is wrong with it.
std::string TakeEscape(std::string_view text, std::size_t& i, std::string& out) {
    if (i + 1 >= text.size()) {
        return "a backslash ends the text";
    }
    const char c = text[i + 1];
    switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'x': {
            unsigned value = 0;
            const char* begin = text.data() + i + 2;
            const char* end = text.data() + std::min(text.size(), i + 4);
            const auto [ptr, ec] = std::from_chars(begin, end, value, 16);
            if (ec != std::errc() || ptr != end || end - begin != 2) {
                return "\\x needs two hex digits";
            }
            out += static_cast<char>(value);
            i += 4;
            return "";
        }
        default:
            return std::string("unknown escape \\") + c;
    }
    i += 2;
    return "";
}

std::string Unescape(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\\') {
            if (std::string error = TakeEscape(text, i, out); !error.empty()) {
                return error;
            }
        } else {
            out += text[i++];
        }
    }
    return "";
}

// Splits a line into words: blanks separate them, double quotes hold blanks and escapes, a "#"
// that starts a word starts a comment, and an unquoted "=" makes the word a key=value pair.
std::string Tokenize(std::string_view line, std::vector<Token>& tokens) {
    std::size_t i = 0;
    const auto blank = [&](std::size_t at) { return line[at] == ' ' || line[at] == '\t'; };
    while (true) {
        while (i < line.size() && blank(i)) {
            ++i;
        }
        if (i == line.size() || line[i] == '#') {
            return "";
        }
        Token token;
        std::string current;
        bool quoted = false;
        while (i < line.size() && !blank(i)) {
            const char c = line[i];
            if (c == '"') {
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    if (line[i] == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (line[i] == '\\') {
                        if (std::string error = TakeEscape(line, i, current); !error.empty()) {
                            return error;
                        }
                    } else {
                        current += line[i++];
                    }
                }
                if (!closed) {
                    return "a quoted text is not closed";
                }
                quoted = true;
            } else if (c == '=' && !token.keyed && !quoted) {
                token.keyed = true;
                token.key = std::move(current);
                current.clear();
                ++i;
            } else {
                current += c;
                ++i;
            }
        }
        token.value = std::move(current);
        tokens.push_back(std::move(token));
    }
}

std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t min, std::int64_t max) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::int64_t value = 0;
    const auto [ptr, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

std::optional<BoxMode> ModeByName(const std::string& name) {
    static const std::map<std::string, BoxMode> kModes = {
        {"normal", BoxMode::Normal},
        {"bootloader", BoxMode::Bootloader},
        {"fpga-programmer", BoxMode::FpgaProgrammer},
        {"absent", BoxMode::Absent},
    };
    const auto it = kModes.find(name);
    return it == kModes.end() ? std::nullopt : std::optional<BoxMode>(it->second);
}

std::string ModeName(BoxMode mode) {
    switch (mode) {
        case BoxMode::Normal:
            return "normal";
        case BoxMode::Bootloader:
            return "bootloader";
        case BoxMode::FpgaProgrammer:
            return "fpga-programmer";
        case BoxMode::Absent:
            return "absent";
    }
    return "?";
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

}  // namespace

std::string ToolCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
    const auto word = [](const std::string& text) {
        const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c > ' ' && c != '"' && c != '\\' && c != 0x7F;
        });
        return plain ? text : Quoted(text);
    };
    std::string line = word(program);
    for (const std::string& argument : arguments) {
        line += " " + word(argument);
    }
    return line;
}

namespace {

// Escapes a text for a block line: backslash and control characters, the double quote left alone.
std::string BlockEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"') {
            out += c;
        } else {
            const std::string quoted = Quoted(std::string(1, c));
            out += quoted.substr(1, quoted.size() - 2);
        }
    }
    return out;
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

class Parser {
  public:
    explicit Parser(std::string_view text) {
        std::size_t start = 0;
        // A last line end ends the last line; it does not begin an empty one.
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            std::string_view line = text.substr(start, end - start);
            // A scenario written with CR LF line ends reads like one written with LF.
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines_.emplace_back(line);
            start = end + 1;
        }
    }

    ScenarioParseResult Parse() {
        for (index_ = 0; index_ < lines_.size() && result_.errorLine == 0; ++index_) {
            line_ = static_cast<int>(index_) + 1;
            std::vector<Token> tokens;
            if (std::string error = Tokenize(lines_[index_], tokens); !error.empty()) {
                Fail(error);
                break;
            }
            if (tokens.empty()) {
                continue;
            }
            if (tokens[0].keyed) {
                Fail("a line begins with a command, not with " + tokens[0].key + "=");
                break;
            }
            Line(tokens);
        }
        return std::move(result_);
    }

  private:
    void Fail(const std::string& error) {
        if (result_.errorLine == 0) {
            result_.errorLine = line_;
            result_.error = error;
        }
    }

    void Add(StepAction action, bool needsController = true, bool stopsOnFailure = false) {
        if (needsController) {
            started_ = true;
        }
        std::string text = lines_[static_cast<std::size_t>(line_ - 1)];
        text.erase(0, text.find_first_not_of(" \t"));
        result_.scenario.steps.push_back(
            {line_, std::move(text), needsController, stopsOnFailure, std::move(action)});
    }

    // A check for an expectation step: adds a failure with this line when the texts differ.
    void AddExpect(std::string what, std::function<std::string(ScenarioRun&)> actual,
                   std::string expected) {
        const int line = line_;
        Add([line, what = std::move(what), actual = std::move(actual),
             expected = std::move(expected)](ScenarioRun& run) {
            const std::string got = actual(run);
            if (got != expected) {
                run.failures.push_back(std::to_string(line) + ": expected " + what + " " +
                                       expected + ", got " + got);
            }
            return std::string();
        });
    }

    // Checks the word count: the command and `count` more words (none of them key=value unless
    // `keyed`).
    bool Words(const std::vector<Token>& t, std::size_t count, const std::string& usage,
               bool keyed = false) {
        if (t.size() != count + 1) {
            Fail("usage: " + usage);
            return false;
        }
        for (std::size_t i = 1; i < t.size(); ++i) {
            if (t[i].keyed && !keyed) {
                Fail("usage: " + usage);
                return false;
            }
        }
        return true;
    }

    std::optional<std::int64_t> Number(const Token& token, std::int64_t min, std::int64_t max) {
        const auto value = ParseInt(token.value, min, max);
        if (!value) {
            Fail("'" + token.value + "' is not a number from " + std::to_string(min) + " to " +
                 std::to_string(max));
        }
        return value;
    }

    std::optional<bool> Flag(const Token& token) {
        if (token.value == "yes" || token.value == "on") {
            return true;
        }
        if (token.value == "no" || token.value == "off") {
            return false;
        }
        Fail("'" + token.value + "' is neither yes nor no");
        return std::nullopt;
    }

    std::optional<Control> ControlNamed(const Token& token) {
        const auto control = ControlByName(token.value);
        if (!control) {
            Fail("no control is named '" + token.value + "'");
        }
        return control;
    }

    void Line(const std::vector<Token>& t) {
        const std::string& command = t[0].value;
        if (command == "package") {
            Package(t);
        } else if (command == "machine") {
            if (Words(t, 1, "machine NAME") && NotStarted("machine")) {
                result_.scenario.machine = t[1].value;
            }
        } else if (command == "box") {
            Box(t);
        } else if (command == "tools") {
            Tools(t);
        } else if (command == "tick" || command == "at" || command == "after") {
            Time(t);
        } else if (command == "key" || command == "click" || command == "choose" ||
                   command == "choose-index" || command == "check" || command == "plug" ||
                   command == "unplug" || command == "devicechange") {
            Operator(t);
        } else if (command == "expect") {
            Expect(t);
        } else {
            Fail("unknown command '" + command + "'");
        }
    }

    bool NotStarted(const std::string& what) {
        if (started_) {
            Fail("'" + what + "' lines come before the first step of the run");
            return false;
        }
        return true;
    }

    void Package(const std::vector<Token>& t) {
        if (t.size() < 2 || !NotStarted("package")) {
            if (t.size() < 2) {
                Fail("usage: package version|profile|file|tool|no-drivers ...");
            }
            return;
        }
        PackageContents& package = result_.scenario.package;
        const std::string& what = t[1].value;
        if (what == "version" && Words(t, 2, "package version TEXT")) {
            package.version = t[2].value;
        } else if (what == "file" && Words(t, 2, "package file NAME")) {
            package.files.push_back(t[2].value);
        } else if (what == "tool" && Words(t, 2, "package tool NAME")) {
            package.tools.push_back(t[2].value);
        } else if (what == "no-drivers" && Words(t, 1, "package no-drivers")) {
            package.drivers = false;
        } else if (what == "profile") {
            Profile(t);
        } else if (what != "version" && what != "file" && what != "tool" && what != "no-drivers") {
            Fail("unknown package item '" + what + "'");
        }
    }

    void Profile(const std::vector<Token>& t) {
        static const std::vector<std::string> kAttributes = {
            "profile", "vid", "pid", "id", "name", "LPC3131", "A3P060", "A3PN060"};
        std::map<std::string, std::string> given;
        for (std::size_t i = 2; i < t.size(); ++i) {
            if (!t[i].keyed ||
                std::find(kAttributes.begin(), kAttributes.end(), t[i].key) == kAttributes.end()) {
                Fail(
                    "a profile's words are profile=, vid=, pid=, id=, name=, LPC3131=, A3P060= "
                    "and A3PN060=, not '" +
                    (t[i].keyed ? t[i].key + "=" : t[i].value) + "'");
                return;
            }
            given[t[i].key] = t[i].value;
        }
        // The IDs of the usual box and no images, unless stated; the names only when stated, so
        // that a profile can leave one out.
        for (const auto& [key, value] : std::map<std::string, std::string>{{"vid", "0x14E3"},
                                                                           {"pid", "0x0706"},
                                                                           {"LPC3131", ""},
                                                                           {"A3P060", ""},
                                                                           {"A3PN060", ""}}) {
            given.emplace(key, value);
        }
        std::string element = "<detail";
        for (const std::string& key : kAttributes) {
            if (const auto it = given.find(key); it != given.end()) {
                element += " " + key + "=\"" + XmlEscaped(it->second) + "\"";
            }
        }
        auto& details = result_.scenario.package.details;
        details = details.value_or("") + element + "/>";
    }

    void BoxStep(std::function<void(EmulatedBox&)> change) {
        Add(
            [change = std::move(change)](ScenarioRun& run) {
                change(run.world.box);
                return std::string();
            },
            false);
    }

    std::optional<AnswerBehaviour> Answer(const std::vector<Token>& t, const std::string& usage) {
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
            if (const auto ms = Number(t[3], 0, kMaxTimeMs)) {
                return AnswerBehaviour::Late(*ms);
            }
            return std::nullopt;
        }
        Fail("usage: " + usage);
        return std::nullopt;
    }

    void Box(const std::vector<Token>& t) {
        if (t.size() < 2) {
            Fail("usage: box WHAT ...");
            return;
        }
        const std::string& what = t[1].value;
        if (what == "product") {
            if (!Words(t, 2, "box product TEXT")) {
                return;
            }
            const std::string product = t[2].value;
            if (std::any_of(product.begin(), product.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
                Fail("the product string must be plain ASCII");
                return;
            }
            BoxStep([product](EmulatedBox& box) {
                BoxIdentity identity = box.Identity();
                identity.product = std::wstring(product.begin(), product.end());
                box.SetIdentity(identity);
            });
        } else if (what == "ids") {
            if (!Words(t, 3, "box ids VID PID")) {
                return;
            }
            const auto vid = Number(t[2], 0, 0xFFFF);
            const auto pid = vid ? Number(t[3], 0, 0xFFFF) : std::nullopt;
            if (pid) {
                BoxStep([vid = *vid, pid = *pid](EmulatedBox& box) {
                    BoxIdentity identity = box.Identity();
                    identity.vid = static_cast<std::uint16_t>(vid);
                    identity.pid = static_cast<std::uint16_t>(pid);
                    box.SetIdentity(identity);
                });
            }
        } else if (what == "version" && Words(t, 2, "box version TEXT")) {
            BoxStep([v = t[2].value](EmulatedBox& box) { box.SetFirmwareVersion(v); });
        } else if (what == "serial" && Words(t, 2, "box serial TEXT")) {
            BoxStep([v = t[2].value](EmulatedBox& box) { box.SetSerial(v); });
        } else if (what == "eye" || what == "eye-event") {
            if (!Words(t, 2, "box " + what + " left|right|NUMBER")) {
                return;
            }
            std::optional<std::int64_t> eye;
            if (t[2].value == "left") {
                eye = 0;
            } else if (t[2].value == "right") {
                eye = 1;
            } else {
                eye = Number(t[2], 0, 255);
            }
            if (eye) {
                const auto value = static_cast<std::uint8_t>(*eye);
                if (what == "eye") {
                    BoxStep([value](EmulatedBox& box) { box.SetEye(value); });
                } else {
                    BoxStep([value](EmulatedBox& box) { box.SendEyeChangedEvent(value); });
                }
            }
        } else if (what == "error-event" && Words(t, 2, "box error-event NUMBER")) {
            if (const auto code = Number(t[2], -128, 127)) {
                BoxStep([code = static_cast<std::int8_t>(*code)](EmulatedBox& box) {
                    box.SendErrorEvent(code);
                });
            }
        } else if (what == "diagnostics") {
            Diagnostics(t);
        } else if (what == "answers" || what == "next-answer") {
            const auto behaviour = Answer(t, "box " + what + " normal|silent|wrong-id|late MS");
            if (behaviour && what == "answers") {
                BoxStep([b = *behaviour](EmulatedBox& box) { box.SetAnswerBehaviour(b); });
            } else if (behaviour) {
                BoxStep([b = *behaviour](EmulatedBox& box) { box.QueueAnswerBehaviour(b); });
            }
        } else if (what == "control-pipe" &&
                   Words(t, 2, "box control-pipe works|fails|marker-78|zero")) {
            static const std::map<std::string, ControlPipe> kPipes = {
                {"works", ControlPipe::Works},
                {"fails", ControlPipe::Fails},
                {"marker-78", ControlPipe::AnswersMarker78},
                {"zero", ControlPipe::AnswersZero}};
            const auto it = kPipes.find(t[2].value);
            if (it == kPipes.end()) {
                Fail("usage: box control-pipe works|fails|marker-78|zero");
            } else {
                BoxStep([p = it->second](EmulatedBox& box) { box.SetControlPipe(p); });
            }
        } else if (what == "writes" && Words(t, 2, "box writes accepted|fails|times-out")) {
            static const std::map<std::string, WriteOutcome> kOutcomes = {
                {"accepted", WriteOutcome::Accepted},
                {"fails", WriteOutcome::Fails},
                {"times-out", WriteOutcome::TimesOut}};
            const auto it = kOutcomes.find(t[2].value);
            if (it == kOutcomes.end()) {
                Fail("usage: box writes accepted|fails|times-out");
            } else {
                BoxStep([o = it->second](EmulatedBox& box) { box.SetWriteOutcome(o); });
            }
        } else if (what == "unplug-on-next-request" && Words(t, 1, "box unplug-on-next-request")) {
            BoxStep([](EmulatedBox& box) { box.UnplugOnNextRequest(); });
        } else if (what == "hid-access" && Words(t, 2, "box hid-access allowed|denied")) {
            if (t[2].value != "allowed" && t[2].value != "denied") {
                Fail("usage: box hid-access allowed|denied");
            } else {
                BoxStep([a = t[2].value == "allowed"](EmulatedBox& box) { box.SetHidAccess(a); });
            }
        } else if (what == "driver" && Words(t, 2, "box driver -1|0|1|2|3")) {
            if (const auto code = Number(t[2], -1, 3)) {
                BoxStep([c = static_cast<int>(*code)](EmulatedBox& box) { box.SetDriverState(c); });
            }
        } else if (what == "restart-ms" && Words(t, 2, "box restart-ms MS")) {
            if (const auto ms = Number(t[2], 0, kMaxTimeMs)) {
                BoxStep([ms = *ms](EmulatedBox& box) { box.SetRestartMs(ms); });
            }
        } else if (what == "idcode" && Words(t, 2, "box idcode HEX")) {
            if (const auto id = Number(t[2], 0, 0xFFFFFFFF)) {
                BoxStep([id = static_cast<std::uint32_t>(*id)](EmulatedBox& box) {
                    box.SetFpgaIdcode(id);
                });
            }
        } else if (what == "checksum" && Words(t, 2, "box checksum HEX")) {
            if (const auto sum = Number(t[2], 0, 0xFFFF)) {
                BoxStep([sum = static_cast<std::uint16_t>(*sum)](EmulatedBox& box) {
                    box.SetFpgaChecksum(sum);
                });
            }
        } else if (what == "mode" &&
                   Words(t, 2, "box mode normal|bootloader|fpga-programmer|absent")) {
            const auto mode = ModeByName(t[2].value);
            if (!mode) {
                Fail("usage: box mode normal|bootloader|fpga-programmer|absent");
            } else if (*mode == BoxMode::Absent) {
                BoxStep([](EmulatedBox& box) { box.Unplug(); });
            } else {
                BoxStep([m = *mode](EmulatedBox& box) { box.Plug(m); });
            }
        } else if (result_.errorLine == 0 && std::find(std::begin(kBoxItems), std::end(kBoxItems),
                                                       what) == std::end(kBoxItems)) {
            Fail("unknown box item '" + what + "'");
        }
    }
    static constexpr const char* kBoxItems[] = {"product",
                                                "ids",
                                                "version",
                                                "serial",
                                                "eye",
                                                "eye-event",
                                                "error-event",
                                                "diagnostics",
                                                "answers",
                                                "next-answer",
                                                "control-pipe",
                                                "writes",
                                                "unplug-on-next-request",
                                                "hid-access",
                                                "driver",
                                                "restart-ms",
                                                "idcode",
                                                "checksum",
                                                "mode"};

    void Diagnostics(const std::vector<Token>& t) {
        DiagnosticsState d;
        struct Field {
            std::int64_t min, max;
            std::function<void(DiagnosticsState&, std::int64_t)> set;
        };
        const auto byte = [](std::int8_t DiagnosticsState::*field) {
            return Field{-128, 255, [field](DiagnosticsState& s, std::int64_t v) {
                             s.*field = static_cast<std::int8_t>(v);
                         }};
        };
        const auto word = [](std::int16_t DiagnosticsState::*field) {
            return Field{-32768, 65535, [field](DiagnosticsState& s, std::int64_t v) {
                             s.*field = static_cast<std::int16_t>(v);
                         }};
        };
        const std::map<std::string, Field> fields = {
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
        for (std::size_t i = 2; i < t.size(); ++i) {
            const auto it = t[i].keyed ? fields.find(t[i].key) : fields.end();
            if (it == fields.end()) {
                Fail("unknown diagnostics field '" + (t[i].keyed ? t[i].key : t[i].value) + "'");
                return;
            }
            std::optional<std::int64_t> value;
            if (it->first == "ring_state") {
                const auto flag = Flag(t[i]);
                value = flag ? std::optional<std::int64_t>(*flag ? 1 : 0) : std::nullopt;
            } else {
                value = Number(t[i], it->second.min, it->second.max);
            }
            if (!value) {
                return;
            }
            it->second.set(d, *value);
        }
        BoxStep([d](EmulatedBox& box) { box.SetDiagnostics(d); });
    }

    void ToolsStep(std::function<void(ToolSettings&)> change) {
        Add(
            [change = std::move(change)](ScenarioRun& run) {
                change(run.world.tools.Settings());
                return std::string();
            },
            false);
    }

    template <typename Enum>
    void ToolsChoice(const std::vector<Token>& t, const std::map<std::string, Enum>& choices,
                     Enum ToolSettings::*field) {
        std::string usage = "tools " + t[1].value + " ";
        for (const auto& [name, value] : choices) {
            usage += (usage.back() == ' ' ? "" : "|") + name;
        }
        if (!Words(t, 2, usage)) {
            return;
        }
        const auto it = choices.find(t[2].value);
        if (it == choices.end()) {
            Fail("usage: " + usage);
            return;
        }
        ToolsStep([field, v = it->second](ToolSettings& s) { s.*field = v; });
    }

    void ToolsNumber(const std::vector<Token>& t, std::int64_t max,
                     std::function<void(ToolSettings&, std::int64_t)> set) {
        if (!Words(t, 2, "tools " + t[1].value + " NUMBER")) {
            return;
        }
        if (const auto value = Number(t[2], 0, max)) {
            ToolsStep([set = std::move(set), v = *value](ToolSettings& s) { set(s, v); });
        }
    }

    void Tools(const std::vector<Token>& t) {
        if (t.size() < 2) {
            Fail("usage: tools WHAT ...");
            return;
        }
        const std::string& what = t[1].value;
        constexpr std::int64_t kMaxCount = 10000;
        if (what == "dfu-util") {
            ToolsChoice<DfuUtilBehaviour>(
                t,
                {{"works", DfuUtilBehaviour::Works},
                 {"works-current", DfuUtilBehaviour::WorksCurrent},
                 {"finished-missing", DfuUtilBehaviour::FinishedMissing},
                 {"only-opening", DfuUtilBehaviour::OnlyOpening},
                 {"no-device-current", DfuUtilBehaviour::NoDeviceCurrent}},
                &ToolSettings::dfuUtil);
        } else if (what == "dfuapp") {
            ToolsChoice<DfuAppBehaviour>(
                t, {{"works", DfuAppBehaviour::Works}, {"fails", DfuAppBehaviour::Fails}},
                &ToolSettings::dfuApp);
        } else if (what == "stapl") {
            ToolsChoice<StaplBehaviour>(t,
                                        {{"works", StaplBehaviour::Works},
                                         {"no-idcode", StaplBehaviour::NoIdcode},
                                         {"garbage-idcode", StaplBehaviour::GarbageIdcode},
                                         {"garbage-checksum", StaplBehaviour::GarbageChecksum},
                                         {"fails", StaplBehaviour::Fails},
                                         {"fails-silently", StaplBehaviour::FailsSilently},
                                         {"blank-line-first", StaplBehaviour::BlankLineFirst}},
                                        &ToolSettings::stapl);
        } else if (what == "programmer-firmware") {
            ToolsChoice<bool>(t, {{"works", true}, {"fails", false}},
                              &ToolSettings::programmerFirmwareWorks);
        } else if (what == "dfu-util-opening-passes") {
            ToolsNumber(t, kMaxCount, [](ToolSettings& s, std::int64_t v) {
                s.dfuUtilOpeningPasses = static_cast<int>(v);
            });
        } else if (what == "dfu-util-bar") {
            ToolsNumber(t, kMaxCount, [](ToolSettings& s, std::int64_t v) {
                s.dfuUtilBarLength = static_cast<int>(v);
            });
        } else if (what == "dfuapp-blocks") {
            ToolsNumber(t, kMaxCount, [](ToolSettings& s, std::int64_t v) {
                s.dfuAppBlocks = static_cast<int>(v);
            });
        } else if (what == "stapl-missed-idcodes") {
            ToolsNumber(t, kMaxCount, [](ToolSettings& s, std::int64_t v) {
                s.staplMissedIdcodes = static_cast<int>(v);
            });
        } else if (what == "stapl-percent-lines") {
            if (t.size() == 3 && t[2].value == "0") {
                Fail("a run prints at least one PERCENT_DONE line");
                return;
            }
            ToolsNumber(t, kMaxCount, [](ToolSettings& s, std::int64_t v) {
                s.staplPercentLines = static_cast<int>(v);
            });
        } else if (what == "programmed-checksum") {
            ToolsNumber(t, 0xFFFF, [](ToolSettings& s, std::int64_t v) {
                s.programmedChecksum = static_cast<std::uint16_t>(v);
            });
        } else if (what == "step-ms") {
            ToolsNumber(t, kMaxTimeMs, [](ToolSettings& s, std::int64_t v) { s.stepMs = v; });
        } else if (what == "installer-ms") {
            ToolsNumber(t, kMaxTimeMs, [](ToolSettings& s, std::int64_t v) { s.installerMs = v; });
        } else if (what == "new-version" && Words(t, 2, "tools new-version TEXT")) {
            ToolsStep([v = t[2].value](ToolSettings& s) { s.newVersion = v; });
        } else if ((what == "unstartable" || what == "startable") &&
                   Words(t, 2, "tools " + what + " PROGRAM")) {
            ToolsStep([v = t[2].value, add = what == "unstartable"](ToolSettings& s) {
                auto& list = s.unstartable;
                list.erase(std::remove(list.begin(), list.end(), v), list.end());
                if (add) {
                    list.push_back(v);
                }
            });
        } else if (result_.errorLine == 0 && what != "new-version" && what != "unstartable" &&
                   what != "startable") {
            Fail("unknown tools item '" + what + "'");
        }
    }

    void Time(const std::vector<Token>& t) {
        const std::string& command = t[0].value;
        if (command == "tick") {
            if (t.size() == 5 && t[1].value == "until" && t[3].value == "max" && !t[2].keyed) {
                const auto most = Number(t[4], 1, kMaxTicks);
                if (!most) {
                    return;
                }
                const int line = line_;
                Add(
                    [line, text = t[2].value, most = *most](ScenarioRun& run) {
                        for (std::int64_t i = 0; i < most; ++i) {
                            if (run.world.view.log.find(text) != std::string::npos) {
                                return std::string();
                            }
                            run.Tick();
                        }
                        if (run.world.view.log.find(text) == std::string::npos) {
                            run.failures.push_back(std::to_string(line) + ": " + Quoted(text) +
                                                   " did not come to the log in " +
                                                   std::to_string(most) + " ticks");
                        }
                        return std::string();
                    },
                    true, true);
                return;
            }
            if (t.size() > 2 || (t.size() == 2 && t[1].keyed)) {
                Fail("usage: tick [COUNT] or tick until TEXT max COUNT");
                return;
            }
            const auto count = t.size() == 2 ? Number(t[1], 1, kMaxTicks) : 1;
            if (count) {
                Add([count = *count](ScenarioRun& run) {
                    for (std::int64_t i = 0; i < count; ++i) {
                        run.Tick();
                    }
                    return std::string();
                });
            }
            return;
        }
        if (!Words(t, 1, command + " MS")) {
            return;
        }
        const auto ms = Number(t[1], 0, kMaxTimeMs);
        if (!ms) {
            return;
        }
        if (command == "at") {
            Add([at = *ms](ScenarioRun& run) {
                const std::int64_t now = run.world.clock.NowMs();
                if (at < now) {
                    return "the time " + std::to_string(at) + " is already past (it is " +
                           std::to_string(now) + ")";
                }
                run.AdvanceTo(at);
                return std::string();
            });
        } else {
            Add([ms = *ms](ScenarioRun& run) {
                run.AdvanceTo(run.world.clock.NowMs() + ms);
                return std::string();
            });
        }
    }

    void Operator(const std::vector<Token>& t) {
        const std::string& command = t[0].value;
        if (command == "key") {
            if (!Words(t, 1, "key [Ctrl+][Shift+]M|S|Backspace|OTHER")) {
                return;
            }
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
            Add([key, control](ScenarioRun& run) {
                run.world.controller->UpdateForm_KeyDown(key, control);
                return std::string();
            });
        } else if (command == "click") {
            if (!Words(t, 1, "click ButtonDiag|buttonRestart|ButtonForce|ButtonAutoRings")) {
                return;
            }
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
                Fail("no button is named '" + t[1].value + "'");
                return;
            }
            Add([handler = it->second](ScenarioRun& run) {
                (run.world.controller.get()->*handler)();
                return std::string();
            });
        } else if (command == "choose") {
            if (!Words(t, 1, "choose TEXT")) {
                return;
            }
            Add([text = t[1].value](ScenarioRun& run) {
                const int index = run.world.view.ComboFindExact(text);
                if (index < 0) {
                    return "the profile list holds no item " + Quoted(text);
                }
                run.world.view.SetComboSelectedIndex(index);
                return std::string();
            });
        } else if (command == "choose-index") {
            if (!Words(t, 1, "choose-index INDEX")) {
                return;
            }
            if (const auto index = Number(t[1], -1, 1000000)) {
                Add([index = static_cast<int>(*index)](ScenarioRun& run) {
                    if (index >= static_cast<int>(run.world.view.comboItems.size())) {
                        return "the profile list has no item " + std::to_string(index);
                    }
                    run.world.view.SetComboSelectedIndex(index);
                    return std::string();
                });
            }
        } else if (command == "check") {
            if (!Words(t, 2, "check CheckProgramArm|CheckProgramFPGA yes|no")) {
                return;
            }
            const auto box = ControlNamed(t[1]);
            const auto on = box ? Flag(t[2]) : std::nullopt;
            if (on && *box != Control::CheckProgramArm && *box != Control::CheckProgramFPGA) {
                Fail("only CheckProgramArm and CheckProgramFPGA can be ticked");
            } else if (on) {
                Add([box = *box, on = *on](ScenarioRun& run) {
                    run.world.view.SetChecked(box, on);
                    return std::string();
                });
            }
        } else if (command == "plug") {
            if (t.size() > 2) {
                Fail("usage: plug [normal|bootloader|fpga-programmer]");
                return;
            }
            const auto mode = t.size() == 2 ? ModeByName(t[1].value) : BoxMode::Normal;
            if (!mode || *mode == BoxMode::Absent) {
                Fail("usage: plug [normal|bootloader|fpga-programmer]");
                return;
            }
            Add([mode = *mode](ScenarioRun& run) {
                run.world.box.Plug(mode);
                return std::string();
            });
        } else if (command == "unplug") {
            if (Words(t, 0, "unplug")) {
                Add([](ScenarioRun& run) {
                    run.world.box.Unplug();
                    return std::string();
                });
            }
        } else if (Words(t, 0, "devicechange")) {
            Add([](ScenarioRun& run) {
                run.DeviceChange();
                return std::string();
            });
        }
    }

    // The "|" lines after an expect line, up to "end".
    std::optional<std::vector<std::string>> Block(const std::string& what) {
        const int opening = line_;
        std::vector<std::string> lines;
        for (++index_; index_ < lines_.size(); ++index_) {
            line_ = static_cast<int>(index_) + 1;
            const std::string& raw = lines_[index_];
            const std::size_t first = raw.find_first_not_of(" \t");
            if (first == std::string::npos) {
                Fail("an empty line inside the " + what + " block; write \"|\" for an empty line");
                return std::nullopt;
            }
            if (raw.compare(first, std::string::npos, "end") == 0) {
                line_ = opening;
                return lines;
            }
            if (raw[first] != '|') {
                Fail("a line of the " + what + " block begins with \"|\"; the block ends with " +
                     "\"end\"");
                return std::nullopt;
            }
            std::string line;
            if (std::string error = Unescape(std::string_view(raw).substr(first + 1), line);
                !error.empty()) {
                Fail(error);
                return std::nullopt;
            }
            lines.push_back(std::move(line));
        }
        line_ = opening;
        Fail("the " + what + " block has no \"end\"");
        return std::nullopt;
    }

    void Expect(const std::vector<Token>& t) {
        if (t.size() < 2) {
            Fail("usage: expect WHAT ...");
            return;
        }
        const std::string& what = t[1].value;
        const int line = line_;
        if (what == "log" && Words(t, 1, "expect log, then \"|\" lines and \"end\"")) {
            const auto block = Block("log");
            if (!block) {
                return;
            }
            std::string expected;
            for (std::size_t i = 0; i < block->size(); ++i) {
                expected += (i == 0 ? "" : "\r\n") + (*block)[i];
            }
            Add([line, expected](ScenarioRun& run) {
                if (run.world.view.log != expected) {
                    run.failures.push_back(std::to_string(line) + ": " +
                                           BlockDifference("log", LogBlockLines(expected),
                                                           LogBlockLines(run.world.view.log)));
                }
                return std::string();
            });
        } else if (what == "tools" && Words(t, 1, "expect tools, then \"|\" lines and \"end\"")) {
            const auto block = Block("tools");
            if (!block) {
                return;
            }
            Add([line, expected = *block](ScenarioRun& run) {
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
        } else if (what == "label" && Words(t, 3, "expect label NAME TEXT")) {
            if (const auto label = ControlNamed(t[2])) {
                AddExpect(
                    std::string(ControlName(*label)),
                    [label = *label](ScenarioRun& run) {
                        return Quoted(run.world.view.Text(label));
                    },
                    Quoted(t[3].value));
            }
        } else if ((what == "shown" || what == "checked" || what == "enabled") &&
                   Words(t, 3, "expect " + what + " NAME yes|no")) {
            const auto control = ControlNamed(t[2]);
            const auto value = control ? Flag(t[3]) : std::nullopt;
            if (value) {
                AddExpect(
                    std::string(ControlName(*control)) + " " + what,
                    [what, control = *control](ScenarioRun& run) {
                        const ConsoleView& v = run.world.view;
                        return YesNo(what == "shown"     ? v.Shown(control)
                                     : what == "checked" ? v.Checked(control)
                                                         : v.Enabled(control));
                    },
                    YesNo(*value));
            }
        } else if (what == "log-height" && Words(t, 2, "expect log-height PIXELS")) {
            if (const auto h = Number(t[2], -100000, 100000)) {
                AddExpect(
                    "log height",
                    [](ScenarioRun& run) { return std::to_string(run.world.view.LogHeight()); },
                    std::to_string(*h));
            }
        } else if (what == "combo-index" && Words(t, 2, "expect combo-index INDEX")) {
            if (const auto i = Number(t[2], -1, 1000000)) {
                AddExpect(
                    "combo index",
                    [](ScenarioRun& run) {
                        return std::to_string(run.world.view.ComboSelectedIndex());
                    },
                    std::to_string(*i));
            }
        } else if (what == "profile" && Words(t, 2, "expect profile ID|none")) {
            AddExpect(
                "current profile",
                [](ScenarioRun& run) {
                    const auto& profile = run.world.State().current_profile;
                    return profile ? Quoted(profile->id) : std::string("none");
                },
                t[2].value == "none" ? "none" : Quoted(t[2].value));
        } else if (what == "state" && Words(t, 3, "expect state FIELD NUMBER")) {
            const auto field = StateFields().find(t[2].value);
            if (field == StateFields().end()) {
                Fail("no controller field '" + t[2].value + "' can be stated");
            } else if (const auto value = Number(t[3], -2147483648LL, 2147483647LL)) {
                AddExpect(
                    t[2].value,
                    [get = field->second](ScenarioRun& run) {
                        return std::to_string(get(run.world.State()));
                    },
                    std::to_string(*value));
            }
        } else if (what == "time" && Words(t, 2, "expect time MS")) {
            if (const auto ms = Number(t[2], 0, kMaxTimeMs * 2)) {
                AddExpect(
                    "time",
                    [](ScenarioRun& run) { return std::to_string(run.world.clock.NowMs()); },
                    std::to_string(*ms));
            }
        } else if (what == "waits") {
            std::string expected;
            for (std::size_t i = 2; i < t.size(); ++i) {
                const auto ms = Number(t[i], 0, kMaxTimeMs);
                if (!ms) {
                    return;
                }
                expected += (expected.empty() ? "" : " ") + std::to_string(*ms);
            }
            AddExpect(
                "waits",
                [](ScenarioRun& run) {
                    std::string text;
                    for (const std::int64_t ms : run.world.controllerClock.Waits()) {
                        text += (text.empty() ? "" : " ") + std::to_string(ms);
                    }
                    return "[" + text + "]";
                },
                "[" + expected + "]");
        } else if (what == "box-mode" &&
                   Words(t, 2, "expect box-mode normal|bootloader|fpga-programmer|absent")) {
            const auto mode = ModeByName(t[2].value);
            if (!mode) {
                Fail("usage: expect box-mode normal|bootloader|fpga-programmer|absent");
                return;
            }
            AddExpect(
                "box mode", [](ScenarioRun& run) { return ModeName(run.world.box.Mode()); },
                ModeName(*mode));
        } else if (what == "rings" && Words(t, 2, "expect rings on|off")) {
            if (const auto on = Flag(t[2])) {
                AddExpect(
                    "rings", [](ScenarioRun& run) { return YesNo(run.world.box.RingsOn()); },
                    YesNo(*on));
            }
        } else if (result_.errorLine == 0) {
            Fail("unknown expectation '" + what + "'");
        }
    }

    std::vector<std::string> lines_;
    std::size_t index_ = 0;
    int line_ = 0;
    bool started_ = false;
    ScenarioParseResult result_;
};

}  // namespace

ScenarioParseResult ParseScenario(std::string_view text) {
    return Parser(text).Parse();
}

std::vector<std::string> LogBlockLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = log.find("\r\n", start);
        lines.push_back(BlockEscaped(
            log.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 2;
    }
}

}  // namespace ZELKSim
