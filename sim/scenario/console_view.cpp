#include "scenario/console_view.h"

#include <array>
#include <cstdio>
#include <ostream>

namespace ZELKSim {

using ZELKUtil::Control;

namespace {

constexpr std::array<Control, 12> kControls = {
    Control::DeviceLabel,     Control::TextOutput,       Control::TextUpgradeVersion,
    Control::CheckProgramArm, Control::CheckProgramFPGA, Control::ButtonDiag,
    Control::buttonRestart,   Control::ComboZelkType,    Control::LabelMode,
    Control::ButtonForce,     Control::ButtonAutoRings,  Control::LabelEye,
};

}  // namespace

void ConsoleView::AppendText(const std::string& text) {
    HeadlessView::AppendText(text);
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
    HeadlessView::Clear();
    if (EchoesControls()) {
        EchoEvent("log cleared");
    }
}

void ConsoleView::SetText(Control label, const std::string& text) {
    if (Text(label) == text) {
        return;
    }
    HeadlessView::SetText(label, text);
    if (EchoesControls()) {
        EchoEvent(std::string(ControlName(label)) + " = " + Quoted(text));
    }
}

void ConsoleView::SetChecked(Control box, bool checked) {
    if (Checked(box) == checked) {
        return;
    }
    HeadlessView::SetChecked(box, checked);
    if (EchoesControls()) {
        EchoEvent(std::string(ControlName(box)) + (checked ? " ticked" : " unticked"));
    }
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

}  // namespace ZELKSim
