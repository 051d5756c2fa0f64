#include "cli/console_view.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ostream>

namespace ZELKUtil::Cli {

using ZELKUtil::Control;

namespace {

constexpr std::array<Control, 12> kControls = {
    Control::DeviceLabel,     Control::TextOutput,       Control::TextUpgradeVersion,
    Control::CheckProgramArm, Control::CheckProgramFPGA, Control::ButtonDiag,
    Control::buttonRestart,   Control::ComboZelkType,    Control::LabelMode,
    Control::ButtonForce,     Control::ButtonAutoRings,  Control::LabelEye,
};

}  // namespace

ConsoleView::ConsoleView(ConsoleEcho echo) : echo_(std::move(echo)) {
    // As the window is built: what shows and what is ticked before start-up runs.
    texts_[Control::DeviceLabel] = "No device found";
    texts_[Control::TextUpgradeVersion] = "Upgrade Version";
    texts_[Control::LabelMode] = "";
    texts_[Control::LabelEye] = "      ";
    for (Control c : {Control::DeviceLabel, Control::TextOutput, Control::TextUpgradeVersion,
                      Control::ButtonDiag, Control::buttonRestart, Control::LabelMode}) {
        shown_[c] = true;
    }
    for (Control c : {Control::CheckProgramArm, Control::CheckProgramFPGA, Control::ComboZelkType,
                      Control::ButtonForce, Control::ButtonAutoRings, Control::LabelEye}) {
        shown_[c] = false;
    }
    checked_[Control::CheckProgramArm] = true;
    checked_[Control::CheckProgramFPGA] = false;
    enabled_[Control::CheckProgramArm] = true;
    enabled_[Control::CheckProgramFPGA] = true;
}

void ConsoleView::AppendText(const std::string& text) {
    log += text;
    if (appended_) {
        appended_();
    }
    if (echo_.out == nullptr) {
        return;
    }
    if (echo_.now) {
        *echo_.out << TimeStamp(echo_.now()) << "log + " << Quoted(text) << '\n';
    } else if (!text.empty()) {
        *echo_.out << text;
        atLineStart_ = text.back() == '\n';
    }
    echo_.out->flush();
}

void ConsoleView::Clear() {
    log.clear();
    if (echo_.controls || echo_.now) {
        EchoEvent("log cleared");
    }
}

void ConsoleView::SetText(Control label, const std::string& text) {
    std::string& current = texts_[label];
    if (current == text) {
        return;
    }
    current = text;
    if (echo_.controls || echo_.now) {
        EchoEvent(std::string(ControlName(label)) + " = " + Quoted(text));
    }
}

std::string ConsoleView::Text(Control label) const {
    const auto it = texts_.find(label);
    return it == texts_.end() ? std::string() : it->second;
}

bool ConsoleView::Checked(Control box) const {
    const auto it = checked_.find(box);
    return it != checked_.end() && it->second;
}

void ConsoleView::SetChecked(Control box, bool checked) {
    bool& current = checked_[box];
    if (current == checked) {
        return;
    }
    current = checked;
    if (echo_.controls || echo_.now) {
        EchoEvent(std::string(ControlName(box)) + (checked ? " ticked" : " unticked"));
    }
}

bool ConsoleView::Enabled(Control box) const {
    const auto it = enabled_.find(box);
    return it != enabled_.end() && it->second;
}

bool ConsoleView::Shown(Control control) const {
    const auto it = shown_.find(control);
    return it != shown_.end() && it->second;
}

bool ConsoleView::AddComboItem(const std::optional<std::string>& text, std::string* error) {
    if (!text) {
        if (error != nullptr) {
            *error = "Value cannot be null.";
        }
        return false;
    }
    comboItems.push_back(*text);
    return true;
}

std::string ConsoleView::ComboSelectedItem() const {
    return selected_ < 0 || static_cast<std::size_t>(selected_) >= comboItems.size()
               ? std::string()
               : comboItems[static_cast<std::size_t>(selected_)];
}

void ConsoleView::SetComboSelectedIndex(int index) {
    if (index == selected_) {
        return;
    }
    selected_ = index;
    if (handler_) {
        handler_();
    }
}

int ConsoleView::ComboFindString(const std::string& text) const {
    const auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    const std::string wanted = lower(text);
    for (std::size_t i = 0; i < comboItems.size(); ++i) {
        if (lower(comboItems[i]).rfind(wanted, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int ConsoleView::ComboFindExact(const std::string& text) const {
    const auto it = std::find(comboItems.begin(), comboItems.end(), text);
    return it == comboItems.end() ? -1 : static_cast<int>(it - comboItems.begin());
}

void ConsoleView::StopTimer() {
    timerRunning = false;
    timerEvents.emplace_back("stop");
}

void ConsoleView::StartTimer() {
    timerRunning = true;
    timerEvents.emplace_back("start");
}

void ConsoleView::EchoEvent(const std::string& what) {
    if (echo_.out == nullptr) {
        return;
    }
    if (echo_.now) {
        *echo_.out << TimeStamp(echo_.now()) << what << '\n';
    } else {
        // The log's text may have left the terminal mid-line.
        *echo_.out << (atLineStart_ ? "" : "\n") << "[" << what << "]\n";
        atLineStart_ = true;
    }
    echo_.out->flush();
}

const char* ControlName(Control control) {
    switch (control) {
        case Control::DeviceLabel:
            return "DeviceLabel";
        case Control::TextOutput:
            return "TextOutput";
        case Control::TextUpgradeVersion:
            return "TextUpgradeVersion";
        case Control::CheckProgramArm:
            return "CheckProgramArm";
        case Control::CheckProgramFPGA:
            return "CheckProgramFPGA";
        case Control::ButtonDiag:
            return "ButtonDiag";
        case Control::buttonRestart:
            return "buttonRestart";
        case Control::ComboZelkType:
            return "ComboZelkType";
        case Control::LabelMode:
            return "LabelMode";
        case Control::ButtonForce:
            return "ButtonForce";
        case Control::ButtonAutoRings:
            return "ButtonAutoRings";
        case Control::LabelEye:
            return "LabelEye";
    }
    return "?";
}

std::optional<Control> ControlByName(const std::string& name) {
    for (Control c : kControls) {
        if (name == ControlName(c)) {
            return c;
        }
    }
    return std::nullopt;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        switch (ch) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(ch));
                    out += hex;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string TimeStamp(std::int64_t ms) {
    char text[48];
    std::snprintf(text, sizeof text, "[%6lld.%03lld] ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace ZELKUtil::Cli
