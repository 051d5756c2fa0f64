// The Win32 window as the system sees it: the child windows enumerated and read back through the
// system's own calls, and keys typed through the system's input queue (SendInput), so that the
// message loop's key preview, the dialog keys and the controls' own handling all take part.
#include "app/win32/update_form.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/win32/system_dpi.h"
#include "hid/windows/device_notifications.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "window_probe.h"

namespace ZELKUtil {
namespace {

using namespace Testing;

// The window class each kind of control is built as.
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

void SetClientSize(HWND hwnd, int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
    SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Runs the window's own message loop step until `done` holds or the time is up. A WM_QUIT that
// the loop meets is counted in *quits, not lost.
template <typename Done>
bool PumpUntil(UpdateForm& form, Done done, int ms = 10000, int* quits = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT && quits != nullptr) {
                ++*quits;
            } else {
                form.DispatchLoopMessage(msg);
            }
        }
        if (done()) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void Pump(UpdateForm& form, int ms) {
    PumpUntil(
        form, [] { return false; }, ms);
}

// A shown window in front, as the operator has it, so that typed keys reach it.
void Present(UpdateForm& form) {
    form.Show();
    SetForegroundWindow(form.Handle());
    Pump(form, 100);
}

using Seen = std::vector<std::pair<Key, bool>>;

UpdateForm::Handlers RecordingKeys(Seen& seen) {
    UpdateForm::Handlers handlers;
    handlers.keyDown = [&seen](Key key, bool control) {
        if (key != Key::Other) {
            seen.emplace_back(key, control);
        }
    };
    return handlers;
}

TEST(Win32Window, ChildWindowsMatchTheDesignAtTheDesignScale) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    ASSERT_TRUE(form.Created()) << form.Error();
    Present(form);
    HWND window = form.Handle();
    EXPECT_EQ(WindowText(window), L"Orvanta Upgrade");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 317);
    EXPECT_EQ(client.bottom, 355);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_STYLE) & WS_THICKFRAME);  // resizable

    const std::vector<HWND> children = Children(window);
    ASSERT_EQ(children.size(), std::size(kControlDesigns));
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ControlDesign& d = kControlDesigns[i];
        const std::wstring text = Utf8ToWide(d.text);
        HWND child = children[i];
        SCOPED_TRACE(d.name);
        EXPECT_EQ(ClassName(child), ClassOf(d.kind));
        EXPECT_EQ(WindowText(child), text);
        EXPECT_EQ(Visible(child), d.shown);
        const Rect r = RectIn(window, child);
        if (d.kind == ControlKind::Label && d.rect.width > 0) {
            // In its place, sized to its text.
            EXPECT_EQ(r.x, d.rect.x);
            EXPECT_EQ(r.y, d.rect.y);
            EXPECT_EQ(r.width, TextSize(child, text).cx);
            EXPECT_GE(r.height, TextSize(child, text).cy);
        } else if (d.kind == ControlKind::CheckBox) {
            // Wider than its text by the box; the places are checked below.
            EXPECT_EQ(r.y, d.rect.y);
            EXPECT_EQ(r.height, d.rect.height);
            EXPECT_GT(r.width, TextSize(child, text).cx + GetSystemMetrics(SM_CXMENUCHECK));
        } else {
            EXPECT_EQ(r, d.rect);
        }
    }
    // What each control is beyond its class.
    const auto style = [&](std::size_t i) {
        return static_cast<DWORD>(GetWindowLongPtrW(children[i], GWL_STYLE));
    };
    EXPECT_EQ(style(1) & (ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL),
              static_cast<DWORD>(ES_MULTILINE | ES_READONLY));
    EXPECT_EQ(style(3) & (BS_TYPEMASK | BS_LEFTTEXT),
              static_cast<DWORD>(BS_AUTOCHECKBOX | BS_LEFTTEXT));
    EXPECT_EQ(style(4) & (BS_TYPEMASK | BS_LEFTTEXT), static_cast<DWORD>(BS_AUTOCHECKBOX));
    EXPECT_EQ(style(7) & 3U, static_cast<DWORD>(CBS_DROPDOWN));
    EXPECT_EQ(SendMessageW(children[3], BM_GETCHECK, 0, 0), BST_CHECKED);  // ticked though hidden
    EXPECT_EQ(SendMessageW(children[4], BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(children[7], CB_GETCOUNT, 0, 0), 0);
    // "Program ARM" keeps the right edge of its design place, "Program FPGA" stays right of it.
    EXPECT_EQ(RectIn(window, children[3]).Right(), 155);
    EXPECT_GE(RectIn(window, children[4]).x, RectIn(window, children[3]).Right() + 6);
    EXPECT_TRUE(form.TimerRunning());
    EXPECT_TRUE(form.Opened().ok());
    // The log has the focus first.
    EXPECT_EQ(GetFocus(), children[1]);
}

TEST(Win32Window, ScalesWithItsFontAndKeepsTheServiceRowBelowTheShortenedLog) {
    UpdateForm native;  // the system font against the design cell
    ASSERT_TRUE(native.Created()) << native.Error();
    const UpdateForm::Scale s = native.PixelScale();
    RECT client{};
    GetClientRect(native.Handle(), &client);
    const Rect size = Scaled({0, 0, 317, 355}, s.x, s.y);
    EXPECT_EQ(client.right, size.width);
    EXPECT_EQ(client.bottom, size.height);
    EXPECT_EQ(RectIn(native.Handle(), native.ControlHandle(Control::ButtonForce)),
              Scaled({245, 23, 60, 21}, s.x, s.y));

    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        UpdateForm form(UpdateForm::Scale{scale, scale});
        HWND window = form.Handle();
        EXPECT_EQ(RectIn(window, form.ControlHandle(Control::TextOutput)),
                  Scaled({15, 86, 290, 239}, scale, scale));
        EXPECT_EQ(RectIn(window, form.ControlHandle(Control::ComboZelkType)),
                  Scaled({93, 54, 134, 21}, scale, scale));
        EXPECT_EQ(form.LogHeight(), 239);
        form.SetLogHeight(form.LogHeight() - 21);
        EXPECT_EQ(form.LogHeight(), 218);
        EXPECT_LE(RectIn(window, form.ControlHandle(Control::TextOutput)).Bottom(),
                  RectIn(window, form.ControlHandle(Control::ButtonAutoRings)).y);
    }
}

TEST(Win32Window, MovedToAMonitorOfTwiceTheDpiEverythingScalesWithTheFont) {
    UpdateForm form;
    ASSERT_TRUE(form.Created()) << form.Error();
    HWND window = form.Handle();
    form.SetLogHeight(form.LogHeight() - 21);  // service mode's log
    form.SetText(Control::LabelMode, "Q750");
    const UpdateForm::Scale before = form.PixelScale();
    RECT outer{};
    GetWindowRect(window, &outer);
    const UINT dpi = Windows::DpiOfWindow(window) * 2;
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&outer));

    const UpdateForm::Scale after = form.PixelScale();
    EXPECT_GT(after.y, 1.5 * before.y);  // the system's font at the new DPI
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_NEAR(client.right, 317 * after.x, 2);
    EXPECT_NEAR(client.bottom, 355 * after.y, 2);
    const auto expectScaled = [&](Control c, const Rect& design) {
        SCOPED_TRACE(DesignOf(c).name);
        const Rect r = RectIn(window, form.ControlHandle(c));
        const Rect want = Scaled(design, after.x, after.y);
        EXPECT_NEAR(r.x, want.x, 2);
        EXPECT_NEAR(r.y, want.y, 2);
        EXPECT_NEAR(r.width, want.width, 2);
        EXPECT_NEAR(r.height, want.height, 2);
    };
    expectScaled(Control::ButtonForce, {245, 23, 60, 21});
    expectScaled(Control::ComboZelkType, {93, 54, 134, 21});
    expectScaled(Control::TextOutput, {15, 86, 290, 218});
    EXPECT_NEAR(form.LogHeight(), 218, 1);
    // Texts measured again in the new font.
    HWND mode = form.ControlHandle(Control::LabelMode);
    EXPECT_EQ(RectIn(window, mode).width, TextSize(mode, L"Q750").cx);
    EXPECT_EQ(SendMessageW(mode, WM_GETFONT, 0, 0), SendMessageW(window, WM_GETFONT, 0, 0));
}

TEST(Win32Window, AnchoringWhenResized) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    Present(form);
    HWND window = form.Handle();
    const auto at = [&](Control c) { return RectIn(window, form.ControlHandle(c)); };
    const Rect arm = at(Control::CheckProgramArm);
    const Rect fpga = at(Control::CheckProgramFPGA);
    const Rect eye = at(Control::LabelEye);
    form.SetLogHeight(form.LogHeight() - 21);
    SetClientSize(window, 317 + 100, 355 + 60);
    EXPECT_EQ(at(Control::TextOutput), (Rect{15, 86, 390, 278}));
    EXPECT_EQ(at(Control::buttonRestart), (Rect{345, 54, 60, 21}));
    EXPECT_EQ(at(Control::ButtonForce), (Rect{345, 23, 60, 21}));
    EXPECT_EQ(at(Control::ButtonDiag), (Rect{15, 54, 60, 21}));
    EXPECT_EQ(at(Control::ButtonAutoRings), (Rect{15, 364, 84, 21}));
    EXPECT_EQ(at(Control::ComboZelkType), (Rect{93, 54, 134, 21}));
    EXPECT_EQ(at(Control::LabelEye), (Rect{105, 368, eye.width, eye.height}));
    EXPECT_EQ(at(Control::CheckProgramArm), (Rect{arm.x + 50, arm.y + 60, arm.width, arm.height}));
    EXPECT_EQ(at(Control::CheckProgramFPGA),
              (Rect{fpga.x + 50, fpga.y + 60, fpga.width, fpga.height}));
    EXPECT_EQ(at(Control::DeviceLabel).y, 31);
    EXPECT_EQ(at(Control::LabelMode).y, 392);
    SetClientSize(window, 317, 355);
    EXPECT_EQ(at(Control::TextOutput), (Rect{15, 86, 290, 218}));
    EXPECT_EQ(at(Control::CheckProgramArm), arm);
}

TEST(Win32Window, LogAppendsExactlyAtTheEndAndTypingCannotEditIt) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    Present(form);
    HWND log = form.ControlHandle(Control::TextOutput);
    form.AppendText("\r\nStarting the upgrade in: 5..");
    form.AppendText("4..");
    form.AppendText("\r\nDownloading\r");
    form.AppendText("\n#");
    form.AppendText("#\nlone LF, lone CR\rgone");
    const std::wstring shown =
        L"\r\nStarting the upgrade in: 5..4..\r\nDownloading\r\n##\r\nlone LF, lone CRgone";
    EXPECT_EQ(WindowText(log), shown);
    EXPECT_EQ(form.LogText(),
              "\r\nStarting the upgrade in: 5..4..\r\nDownloading\r\n##\nlone LF, lone CR\rgone");

    SetFocus(log);
    Type({{'X', true},
          {'X', false},
          {VK_BACK, true},
          {VK_BACK, false},
          {VK_DELETE, true},
          {VK_DELETE, false}});
    Pump(form, 200);
    EXPECT_EQ(WindowText(log), shown);

    // More than the edit control holds by default, and the end in view.
    const std::string line = "\r\n" + std::string(98, '#');
    for (int i = 0; i < 400; ++i) {
        form.AppendText(line);
    }
    EXPECT_EQ(static_cast<std::size_t>(GetWindowTextLengthW(log)),
              shown.size() + std::size_t{400} * 100);
    const auto lines = SendMessageW(log, EM_GETLINECOUNT, 0, 0);
    const auto first = SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(first, 0);
    EXPECT_GT(first + 25, lines);

    form.Clear();
    EXPECT_EQ(WindowText(log), L"");
    EXPECT_EQ(form.LogText(), "");
}

TEST(Win32Window, LabelsKeepTheirTextAndSizeToIt) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    HWND window = form.Handle();
    form.SetText(Control::DeviceLabel, "\r\nWaiting for response...");
    EXPECT_EQ(form.Text(Control::DeviceLabel), "\r\nWaiting for response...");
    const Rect device = RectIn(window, form.ControlHandle(Control::DeviceLabel));
    EXPECT_GE(device.height, 2 * TextSize(form.ControlHandle(Control::DeviceLabel), L"W").cy);
    form.SetText(Control::LabelMode, "Q750");
    const Rect mode = RectIn(window, form.ControlHandle(Control::LabelMode));
    EXPECT_EQ(mode.x, 15);
    EXPECT_EQ(mode.y, 332);
    EXPECT_EQ(mode.width, TextSize(form.ControlHandle(Control::LabelMode), L"Q750").cx);
    EXPECT_EQ(WindowText(form.ControlHandle(Control::LabelMode)), L"Q750");
}

TEST(Win32Window, ComboSelectsThroughTheHandlerForTheControllerAndTheOperator) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    int handled = 0;
    form.SetComboSelectionHandler([&] { ++handled; });
    std::string error;
    EXPECT_TRUE(form.AddComboItem(std::string("ZELK"), &error));
    EXPECT_TRUE(form.AddComboItem(std::string("ZELK Q750"), &error));
    EXPECT_FALSE(form.AddComboItem(std::nullopt, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(form.ComboSelectedIndex(), -1);
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(form.ComboFindString("zelk q"), 1);
    EXPECT_EQ(form.ComboFindString("ZELK"), 0);
    EXPECT_EQ(form.ComboFindString("Q750"), -1);
    EXPECT_EQ(form.ComboFindExact("zelk"), -1);
    EXPECT_EQ(form.ComboFindExact("ZELK Q750"), 1);

    form.SetComboSelectedIndex(1);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(form.ComboSelectedItem(), "ZELK Q750");
    form.SetComboSelectedIndex(1);
    EXPECT_EQ(handled, 1);  // the same index raises nothing
    form.SetComboSelectedIndex(-1);
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(form.ComboSelectedItem(), "");

    // The operator's choice: the arrow key in the field selects the first item.
    form.SetShown(Control::ComboZelkType, true);
    Present(form);
    SetFocus(form.ControlHandle(Control::ComboZelkType));
    Press(VK_DOWN);
    EXPECT_TRUE(PumpUntil(form, [&] { return handled == 3; }));
    EXPECT_NE(form.ComboSelectedIndex(), -1);
    EXPECT_EQ(Utf8ToWide(form.ComboSelectedItem()),
              WindowText(form.ControlHandle(Control::ComboZelkType)));
}

TEST(Win32Window, KeyPreviewSeesTheShortcutsWhateverHasTheFocusAndLetsThemThrough) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    Seen seen;
    form.SetHandlers(RecordingKeys(seen));
    Present(form);
    ASSERT_EQ(GetFocus(), form.ControlHandle(Control::TextOutput));
    // In the log, which takes no typing itself.
    PressWith(VK_CONTROL, 'M');
    PressWith(VK_CONTROL, 'S');
    Press(VK_BACK);
    Press('M');
    Type({{VK_CONTROL, true},
          {VK_SHIFT, true},
          {'M', true},
          {'M', false},
          {VK_SHIFT, false},
          {VK_CONTROL, false}});
    const Seen inLog = {
        {Key::M, true}, {Key::S, true}, {Key::Backspace, false}, {Key::M, false}, {Key::M, true}};
    EXPECT_TRUE(PumpUntil(form, [&] { return seen.size() >= inLog.size(); }));
    EXPECT_EQ(seen, inLog);

    // In the combo box's text field, which still gets its keys after the preview.
    seen.clear();
    form.SetShown(Control::ComboZelkType, true);
    HWND combo = form.ControlHandle(Control::ComboZelkType);
    SetFocus(combo);
    Pump(form, 50);
    Type({{'A', true}, {'A', false}, {'B', true}, {'B', false}});
    Press(VK_BACK);
    PressWith(VK_CONTROL, 'S');
    EXPECT_TRUE(PumpUntil(form, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (Seen{{Key::Backspace, false}, {Key::S, true}}));
    EXPECT_EQ(WindowText(combo), L"a");

    // On a button, and on the window itself with no control focused.
    seen.clear();
    SetFocus(form.ControlHandle(Control::buttonRestart));
    PressWith(VK_CONTROL, 'M');
    EXPECT_TRUE(PumpUntil(form, [&] { return seen.size() >= 1; }));
    SetFocus(form.Handle());
    Press(VK_BACK);
    EXPECT_TRUE(PumpUntil(form, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (Seen{{Key::M, true}, {Key::Backspace, false}}));
}

TEST(Win32Window, TabWalksTheControlsInTabOrder) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    for (const ControlDesign& d : kControlDesigns) {
        form.SetShown(d.control, true);
    }
    Present(form);
    ASSERT_EQ(GetFocus(), form.ControlHandle(Control::TextOutput));
    const Control order[] = {Control::CheckProgramArm, Control::CheckProgramFPGA,
                             Control::ButtonDiag,      Control::buttonRestart,
                             Control::ComboZelkType,   Control::ButtonForce,
                             Control::ButtonAutoRings, Control::TextOutput};
    for (Control next : order) {
        HWND wanted = form.ControlHandle(next);
        Press(VK_TAB);
        // The combo box's focus is in its text field, a child of the combo box.
        const auto focused = [&] {
            HWND f = GetFocus();
            return f == wanted || (f != nullptr && GetParent(f) == wanted);
        };
        EXPECT_TRUE(PumpUntil(form, focused)) << DesignOf(next).name;
    }
}

TEST(Win32Window, WaitsPaintAndTickButLeaveInputForLater) {
    UpdateForm form(UpdateForm::Scale{1.0, 1.0});
    Seen seen;
    UpdateForm::Handlers handlers = RecordingKeys(seen);
    int ticks = 0;
    int deviceChanges = 0;
    int disposed = 0;
    // The device-change journal hears of the change before the poll it starts.
    Hid::DeviceChangeJournal journal;
    form.Inform(journal);
    const auto stamp = journal.Current(Hid::kDeviceNotifications);
    ASSERT_TRUE(stamp) << "listening: both device-interface classes are registered";
    handlers.timerTick = [&] { ++ticks; };
    handlers.deviceChange = [&] {
        ++deviceChanges;
        EXPECT_FALSE(journal.StillTrue(*stamp, Hid::kDeviceNotifications));
    };
    handlers.dispose = [&] { ++disposed; };
    form.SetHandlers(handlers);
    Present(form);
    HWND window = form.Handle();
    HWND log = form.ControlHandle(Control::TextOutput);
    form.StartTimer();
    InvalidateRect(log, nullptr, TRUE);
    // Meanwhile: a device change sent from another thread (as the system sends it), a key typed
    // and a key posted to the log.
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    std::thread other([window, desktop] {
        SetThreadDesktop(desktop);  // typed keys go to the desktop the window is on
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SendMessageW(window, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = VK_BACK;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
    });
    PostMessageW(log, WM_KEYDOWN, 'S', 0);
    const auto start = std::chrono::steady_clock::now();
    form.WaitKeepingWindowAlive(2200);
    const auto waited = std::chrono::steady_clock::now() - start;
    other.join();
    EXPECT_GE(waited, std::chrono::milliseconds(2200));
    EXPECT_EQ(deviceChanges, 1);
    EXPECT_GE(ticks, 1);  // the 1000 ms timer, however busy the machine
    RECT dirty{};
    EXPECT_FALSE(GetUpdateRect(log, &dirty, FALSE));  // painted during the wait
    EXPECT_TRUE(seen.empty());
    // Back in the loop, the keys arrive.
    EXPECT_TRUE(PumpUntil(form, [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (Seen{{Key::S, false}, {Key::Backspace, false}}));

    // A close asked for during a wait is carried out once the wait is over.
    PostMessageW(window, WM_CLOSE, 0, 0);
    form.WaitKeepingWindowAlive(50);
    EXPECT_EQ(disposed, 0);
    EXPECT_TRUE(IsWindow(window));
    int quits = 0;
    EXPECT_TRUE(PumpUntil(
        form, [&] { return quits == 1; }, 3000, &quits));
    EXPECT_EQ(disposed, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(form.Created());
    EXPECT_FALSE(journal.Current(Hid::kDeviceNotifications)) << "no window: nothing kept";
}

}  // namespace
}  // namespace ZELKUtil
