#include "controller/headless_view.h"

#include <algorithm>
#include <cctype>

namespace ZELKUtil {

HeadlessView::HeadlessView() {
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

void HeadlessView::AppendText(const std::string& text) {
    log += text;
    if (appended_) {
        appended_();
    }
}

void HeadlessView::Clear() {
    log.clear();
}

void HeadlessView::SetText(Control label, const std::string& text) {
    std::string& current = texts_[label];
    if (current == text) {
        return;
    }
    current = text;
}

std::string HeadlessView::Text(Control label) const {
    const auto it = texts_.find(label);
    return it == texts_.end() ? std::string() : it->second;
}

bool HeadlessView::Checked(Control box) const {
    const auto it = checked_.find(box);
    return it != checked_.end() && it->second;
}

void HeadlessView::SetChecked(Control box, bool checked) {
    bool& current = checked_[box];
    if (current == checked) {
        return;
    }
    current = checked;
}

bool HeadlessView::Enabled(Control box) const {
    const auto it = enabled_.find(box);
    return it != enabled_.end() && it->second;
}

bool HeadlessView::Shown(Control control) const {
    const auto it = shown_.find(control);
    return it != shown_.end() && it->second;
}

bool HeadlessView::AddComboItem(const std::optional<std::string>& text, std::string* error) {
    if (!text) {
        if (error != nullptr) {
            *error = "Value cannot be null.";
        }
        return false;
    }
    comboItems.push_back(*text);
    return true;
}

std::string HeadlessView::ComboSelectedItem() const {
    return selected_ < 0 || static_cast<std::size_t>(selected_) >= comboItems.size()
               ? std::string()
               : comboItems[static_cast<std::size_t>(selected_)];
}

void HeadlessView::SetComboSelectedIndex(int index) {
    if (index == selected_) {
        return;
    }
    selected_ = index;
    if (handler_) {
        handler_();
    }
}

int HeadlessView::ComboFindString(const std::string& text) const {
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

int HeadlessView::ComboFindExact(const std::string& text) const {
    const auto it = std::find(comboItems.begin(), comboItems.end(), text);
    return it == comboItems.end() ? -1 : static_cast<int>(it - comboItems.begin());
}

void HeadlessView::StopTimer() {
    timerRunning = false;
    timerEvents.emplace_back("stop");
}

void HeadlessView::StartTimer() {
    timerRunning = true;
    timerEvents.emplace_back("start");
}

}  // namespace ZELKUtil
