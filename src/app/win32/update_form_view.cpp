// The View operations of the Win32 window: what the controller does to the controls.
#include <cmath>

#include "app/win32/update_form.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil {
namespace {

bool IsLabel(Control control) {
    return DesignOf(control).kind == ControlKind::Label;
}

bool IsCheckBox(Control control) {
    return DesignOf(control).kind == ControlKind::CheckBox;
}

}  // namespace

void UpdateForm::AppendText(const std::string& text) {
    log_ += text;
    // The edit control breaks lines at CR LF only.
    const std::string shown = logLines_.Shown(text, "\r\n");
    HWND log = ControlHandle(Control::TextOutput);
    const std::wstring wide = Utf8ToWide(shown);
    const LRESULT end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
}

void UpdateForm::Clear() {
    log_.clear();
    logLines_.Reset();
    SetWindowTextW(ControlHandle(Control::TextOutput), L"");
}

void UpdateForm::Refresh() {
    RedrawWindow(ControlHandle(Control::TextOutput), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
}

int UpdateForm::LogHeight() const {
    return static_cast<int>(
        std::lround(ClientRect(ControlHandle(Control::TextOutput)).height / scale_.y));
}

void UpdateForm::SetLogHeight(int designPixels) {
    const std::size_t index = IndexOf(Control::TextOutput);
    Rect r = ClientRect(controls_[index]);
    r.height = static_cast<int>(std::lround(designPixels * scale_.y));
    Place(index, r);
    Rebase(index);
}

void UpdateForm::SetText(Control label, const std::string& text) {
    if (!IsLabel(label)) {
        return;
    }
    texts_[IndexOf(label)] = text;
    SetWindowTextW(ControlHandle(label), Utf8ToWide(text).c_str());
    FitLabel(label);
}

std::string UpdateForm::Text(Control label) const {
    // The text as it was set, line breaks as given.
    return IsLabel(label) ? texts_[IndexOf(label)] : std::string();
}

bool UpdateForm::Checked(Control box) const {
    return IsCheckBox(box) && SendMessageW(ControlHandle(box), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void UpdateForm::SetChecked(Control box, bool checked) {
    if (IsCheckBox(box)) {
        // BM_SETCHECK sends no click: the controller handles nothing for it.
        SendMessageW(ControlHandle(box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

bool UpdateForm::Enabled(Control box) const {
    return IsCheckBox(box) && IsWindowEnabled(ControlHandle(box)) != 0;
}

void UpdateForm::SetEnabled(Control box, bool enabled) {
    if (IsCheckBox(box)) {
        EnableWindow(ControlHandle(box), enabled ? TRUE : FALSE);
    }
}

bool UpdateForm::Shown(Control control) const {
    // The control's own flag, whether or not the window is on screen yet.
    HWND handle = ControlHandle(control);
    return handle != nullptr && (GetWindowLongPtrW(handle, GWL_STYLE) & WS_VISIBLE) != 0;
}

void UpdateForm::SetShown(Control control, bool shown) {
    ShowWindow(ControlHandle(control), shown ? SW_SHOWNA : SW_HIDE);
}

bool UpdateForm::AddComboItem(const std::optional<std::string>& text, std::string* error) {
    if (!text) {
        if (error != nullptr) {
            *error = "Value cannot be null.";
        }
        return false;
    }
    const std::wstring item = Utf8ToWide(*text);
    const LRESULT added = SendMessageW(ControlHandle(Control::ComboZelkType), CB_ADDSTRING, 0,
                                       reinterpret_cast<LPARAM>(item.c_str()));
    if (added == CB_ERR || added == CB_ERRSPACE) {
        if (error != nullptr) {
            *error = "the list cannot take another item";
        }
        return false;
    }
    comboItems_.push_back(item);
    return true;
}

std::string UpdateForm::ComboSelectedItem() const {
    const int index = ComboSelectedIndex();
    return index < 0 || static_cast<std::size_t>(index) >= comboItems_.size()
               ? std::string()
               : WideToUtf8(comboItems_[static_cast<std::size_t>(index)]);
}

int UpdateForm::ComboSelectedIndex() const {
    const LRESULT index = SendMessageW(ControlHandle(Control::ComboZelkType), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void UpdateForm::SetComboSelectedIndex(int index) {
    const int before = ComboSelectedIndex();
    if (index == before) {
        return;
    }
    // CB_SETCURSEL notifies nobody; the operator's choice does, so the change is passed on here.
    SendMessageW(ControlHandle(Control::ComboZelkType), CB_SETCURSEL, static_cast<WPARAM>(index),
                 0);
    if (ComboSelectedIndex() != before && comboHandler_) {
        comboHandler_();
    }
}

int UpdateForm::ComboFindString(const std::string& text) const {
    const std::wstring wanted = Utf8ToWide(text);
    for (std::size_t i = 0; i < comboItems_.size(); ++i) {
        const std::wstring& item = comboItems_[i];
        if (item.size() >= wanted.size() &&
            CompareStringOrdinal(item.c_str(), static_cast<int>(wanted.size()), wanted.c_str(),
                                 static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int UpdateForm::ComboFindExact(const std::string& text) const {
    const std::wstring wanted = Utf8ToWide(text);
    for (std::size_t i = 0; i < comboItems_.size(); ++i) {
        if (comboItems_[i] == wanted) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void UpdateForm::SetComboSelectionHandler(std::function<void()> handler) {
    comboHandler_ = std::move(handler);
}

void UpdateForm::StopTimer() {
    if (hwnd_ != nullptr) {
        KillTimer(hwnd_, kTimerId);
    }
    timerRunning_ = false;
}

void UpdateForm::StartTimer() {
    // Setting the timer again restarts its interval: the next tick comes one interval from now.
    if (hwnd_ != nullptr && SetTimer(hwnd_, kTimerId, kTimerIntervalMs, nullptr) != 0) {
        timerRunning_ = true;
    }
}

}  // namespace ZELKUtil
