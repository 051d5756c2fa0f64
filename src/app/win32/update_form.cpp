#include "app/win32/update_form.h"

#include <chrono>
#include <cmath>

#include "app/win32/system_dpi.h"
#include "hid/windows/device_notifications.h"
#include "platform/utf8.h"
#include "platform/windows/message_param.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil {
namespace {

constexpr wchar_t kWindowClass[] = L"ZELKUtil.UpdateForm";
// Control IDs: the base plus the control's row in the design table.
constexpr int kFirstControlId = 1000;

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

const wchar_t* ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
            return L"Static";
        case ControlKind::Log:
            return L"Edit";
        case ControlKind::Combo:
            return L"ComboBox";
        case ControlKind::CheckBox:
        case ControlKind::Button:
            break;
    }
    return L"Button";
}

DWORD StyleOf(const ControlDesign& design) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (design.shown ? WS_VISIBLE : 0);
    switch (design.kind) {
        case ControlKind::Label:
            // Sized to its text, so never wrapped; "&" is a character, not a mnemonic.
            return style | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        case ControlKind::Log:
            // Read-only, no scroll bars, wrapped at the control's width.
            return style | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
        case ControlKind::Combo:
            // An editable text field with a drop-down list.
            return style | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        case ControlKind::Button:
            return style | WS_TABSTOP | BS_PUSHBUTTON;
        case ControlKind::CheckBox:
            break;
    }
    style |= WS_TABSTOP | BS_AUTOCHECKBOX | BS_VCENTER;
    if (design.control == Control::CheckProgramArm) {
        // The box right of its text, the text aligned to the right.
        style |= BS_LEFTTEXT | BS_RIGHT;
    }
    return style;
}

}  // namespace

UpdateForm::UpdateForm(std::optional<Scale> scale) : requestedScale_(scale) {
    if (!CreateWindowAndControls() && hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
}

UpdateForm::~UpdateForm() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

bool UpdateForm::CreateWindowAndControls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &UpdateForm::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kWindowClass;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        error_ = "cannot register the window class: " + Windows::SystemErrorText(GetLastError());
        return false;
    }
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    hwnd_ = CreateWindowExW(exStyle, kWindowClass, L"Orvanta Upgrade", style, CW_USEDEFAULT,
                            CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) {
        error_ = "cannot create the window: " + Windows::SystemErrorText(GetLastError());
        return false;
    }
    // Sized for the font of the monitor it is on.
    dpi_ = Windows::DpiOfWindow(hwnd_);
    font_ = Windows::CreateMessageFont(dpi_);
    MeasureFont();
    const int clientWidth = Round(kDesignWidth * scale_.x);
    const int clientHeight = Round(kDesignHeight * scale_.y);
    SetClientSize(clientWidth, clientHeight);
    for (std::size_t i = 0; i < kControls; ++i) {
        controls_[i] = CreateControl(kControlDesigns[i]);
        if (controls_[i] == nullptr) {
            error_ = std::string("cannot create ") + kControlDesigns[i].name + ": " +
                     Windows::SystemErrorText(GetLastError());
            return false;
        }
        placements_[i] = {Scaled(kControlDesigns[i].rect, scale_.x, scale_.y), clientWidth,
                          clientHeight};
        texts_[i] = kControlDesigns[i].text;
        Place(i, placements_[i].rect);
    }
    SendMessageW(ControlHandle(Control::CheckProgramArm), BM_SETCHECK, BST_CHECKED, 0);
    // The log holds as much as the run writes, not the control's default of 32767 characters.
    SendMessageW(ControlHandle(Control::TextOutput), EM_SETLIMITTEXT, 0, 0);
    FitComboHeight();
    // Labels and check boxes size themselves to their text from the start.
    for (Control label : {Control::DeviceLabel, Control::TextUpgradeVersion, Control::LabelEye}) {
        FitLabel(label);
    }
    FitCheckBoxes();
    // The system may have made the window another size than asked (a small screen).
    ApplyAnchors();
    RegisterDeviceNotifications();
    StartTimer();
    return true;
}

HWND UpdateForm::CreateControl(const ControlDesign& design) {
    const int id = kFirstControlId + static_cast<int>(&design - kControlDesigns);
    const DWORD exStyle = design.kind == ControlKind::Log ? WS_EX_CLIENTEDGE : 0;
    HWND control = CreateWindowExW(exStyle, ClassOf(design.kind), Utf8ToWide(design.text).c_str(),
                                   StyleOf(design), 0, 0, 0, 0, hwnd_, Windows::ChildId(id),
                                   GetModuleHandleW(nullptr), nullptr);
    if (control != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    return control;
}

void UpdateForm::RegisterDeviceNotifications() {
    notificationsRegistered_ = Hid::RegisterDeviceNotifications(hwnd_, &notifications_);
}

void UpdateForm::Inform(Hid::DeviceChangeJournal& journal) {
    journal_ = &journal;
    journal_->Listening(Opened() ? Hid::kDeviceNotifications : Hid::ChangeSource::None);
}

Result<void> UpdateForm::Opened() const {
    if (notifications_.size() == 2) {
        return {};
    }
    if (!notificationsRegistered_) {
        return notificationsRegistered_;  // the system's text of the registration that failed
    }
    return ZELKUtil::Error{ErrorKind::SystemFailure, "RegisterDeviceNotification",
                           "no window to register"};
}

void UpdateForm::Show() {
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    // The first control in tab order that takes the focus: the log.
    SetFocus(ControlHandle(Control::TextOutput));
}

LRESULT CALLBACK UpdateForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = Windows::FromParam<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<UpdateForm*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = Windows::FromParam<UpdateForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT UpdateForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND hwnd = hwnd_;
    switch (message) {
        case WM_COMMAND:
            OnCommand(wParam);
            return 0;
        case WM_TIMER:
            if (wParam == kTimerId && timerRunning_) {
                CallHandler(handlers_.timerTick);
            }
            return 0;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                ApplyAnchors();
            }
            return 0;
        case WM_DEVICECHANGE:
            if (journal_ != nullptr) {
                journal_->Changed();
            }
            CallHandler(handlers_.deviceChange);
            break;  // the system's handling still runs
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wParam), *Windows::FromParam<const RECT*>(lParam));
            return 0;
        case WM_NEXTDLGCTL:
            // A multi-line edit passes Tab on to its parent as a dialog would get it.
            if (lParam != 0) {
                SetFocus(Windows::FromParam<HWND>(wParam));
            } else {
                SetFocus(GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0));
            }
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_NCDESTROY:
            Hid::UnregisterDeviceNotifications(&notifications_);
            if (journal_ != nullptr) {
                journal_->Listening(Hid::ChangeSource::None);
            }
            KillTimer(hwnd, kTimerId);
            timerRunning_ = false;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            controls_.fill(nullptr);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void UpdateForm::OnCommand(WPARAM wParam) {
    const std::size_t row = static_cast<std::size_t>(LOWORD(wParam) - kFirstControlId);
    if (row >= kControls) {
        return;
    }
    const Control control = kControlDesigns[row].control;
    if (control == Control::ComboZelkType) {
        if (HIWORD(wParam) == CBN_SELCHANGE) {
            CallHandler(comboHandler_);
        }
        return;
    }
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    switch (control) {
        case Control::ButtonDiag:
            CallHandler(handlers_.diagClick);
            break;
        case Control::buttonRestart:
            CallHandler(handlers_.restartClick);
            break;
        case Control::ButtonForce:
            CallHandler(handlers_.forceClick);
            break;
        case Control::ButtonAutoRings:
            CallHandler(handlers_.autoRingsClick);
            break;
        default:
            break;
    }
}

void UpdateForm::OnClose() {
    if (waitDepth_ > 0) {
        // Closing mid-poll would close the box's handle under the running exchange.
        closeAfterWait_ = true;
        return;
    }
    StopTimer();
    CallHandler(handlers_.dispose);
    DestroyWindow(hwnd_);
    PostQuitMessage(0);
}

void UpdateForm::CallHandler(const std::function<void()>& handler) const {
    if (handler) {
        handler();
    }
}

int UpdateForm::Run() {
    MSG msg{};
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (got == -1) {
            return 1;
        }
        DispatchLoopMessage(msg);
    }
}

void UpdateForm::DispatchLoopMessage(MSG& msg) {
    if (hwnd_ != nullptr && (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd))) {
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
            PreviewKey(msg);
        }
        // Tab and the other dialog keys; everything else it translates and dispatches itself.
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg)) {
            return;
        }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void UpdateForm::PreviewKey(const MSG& msg) {
    if (!handlers_.keyDown) {
        return;
    }
    // By virtual-key code, the physical key: Shift and Caps Lock make no difference.
    Key key = Key::Other;
    switch (msg.wParam) {
        case 'M':
            key = Key::M;
            break;
        case 'S':
            key = Key::S;
            break;
        case VK_BACK:
            key = Key::Backspace;
            break;
        default:
            break;
    }
    // The modifier state as of this message, not as of now.
    handlers_.keyDown(key, GetKeyState(VK_CONTROL) < 0);
}

namespace {

bool IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_INPUT;
}

}  // namespace

void UpdateForm::WaitKeepingWindowAlive(std::int64_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    ++waitDepth_;
    // Input the system queues stays in its queue (the filter leaves it there); input that was
    // posted shares the queue of posted messages and is held here, then posted again.
    std::vector<MSG> heldInput;
    std::optional<int> quit;
    for (;;) {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0,
                            PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
            if (msg.message == WM_QUIT) {
                quit = static_cast<int>(msg.wParam);
            } else if (IsUserInput(msg.message)) {
                heldInput.push_back(msg);
            } else {
                DispatchMessageW(&msg);
            }
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left),
                                    QS_PAINT | QS_POSTMESSAGE | QS_TIMER | QS_SENDMESSAGE,
                                    MWMO_INPUTAVAILABLE);
    }
    for (const MSG& msg : heldInput) {
        PostMessageW(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    }
    if (quit) {
        PostQuitMessage(*quit);
    }
    --waitDepth_;
    if (waitDepth_ == 0 && closeAfterWait_ && hwnd_ != nullptr) {
        closeAfterWait_ = false;
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

}  // namespace ZELKUtil
