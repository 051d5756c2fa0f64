// The demo's window on Windows: the Win32 window and a Win32 side panel.
// <windows.h> before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/form_wiring.h"
#include "app/win32/update_form.h"
#include "demo/demo_world.h"
#include "platform/steady_clock.h"
#include "platform/utf8.h"
#include "platform/windows/message_param.h"
#include "platform/windows/text_conversion.h"

namespace ZELKSim {
namespace {

constexpr wchar_t kPanelClass[] = L"ZELKSim.SidePanel";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kFirstButtonId = 100;

// The side panel of the demo, not part of the utility's window: the box's state and buttons that
// unplug and plug it and make it send events.
class SidePanel {
  public:
    SidePanel(DemoWorld& world, HWND form) : world_(world), form_(form) {}
    SidePanel(const SidePanel&) = delete;
    SidePanel& operator=(const SidePanel&) = delete;
    ~SidePanel() {
        if (hwnd_ != nullptr) {
            DestroyWindow(hwnd_);
        }
    }

    bool Create() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &SidePanel::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = kPanelClass;
        if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return false;
        }
        // The box tells the utility of each change itself (see RunDemoWindow).
        actions_ = {
            {L"Unplug", [this] { world_.box.Unplug(); }},
            {L"Plug in", [this] { world_.box.Plug(); }},
            {L"Eye event: left", [this] { world_.box.SendEyeChangedEvent(0); }},
            {L"Eye event: right", [this] { world_.box.SendEyeChangedEvent(1); }},
            {L"Error event", [this] { world_.box.SendErrorEvent(-3); }},
        };
        RECT form{};
        GetWindowRect(form_, &form);
        const int rowHeight = 28;
        const int height = rowHeight * static_cast<int>(actions_.size() + 1) + 48;
        hwnd_ = CreateWindowExW(0, kPanelClass, L"Emulated ZELK box",
                                WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, form.right + 12, form.top,
                                240, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
        if (hwnd_ == nullptr) {
            return false;
        }
        HFONT font = ZELKUtil::Windows::FromParam<HFONT>(SendMessageW(form_, WM_GETFONT, 0, 0));
        const auto add = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int row,
                             int id) {
            HWND child =
                CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 8, 8 + row * rowHeight,
                                216, rowHeight - 4, hwnd_, ZELKUtil::Windows::ChildId(id),
                                GetModuleHandleW(nullptr), nullptr);
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            return child;
        };
        state_ = add(L"Static", L"", SS_LEFT, 0, 0);
        for (std::size_t i = 0; i < actions_.size(); ++i) {
            add(L"Button", actions_[i].first, BS_PUSHBUTTON, static_cast<int>(i) + 1,
                kFirstButtonId + static_cast<int>(i));
        }
        SetTimer(hwnd_, kRefreshTimer, 200, nullptr);
        Refresh();
        return true;
    }

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = ZELKUtil::Windows::FromParam<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self =
            ZELKUtil::Windows::FromParam<SidePanel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            if (message == WM_TIMER && wParam == kRefreshTimer) {
                self->Refresh();
                return 0;
            }
            const std::size_t action = LOWORD(wParam) - static_cast<std::size_t>(kFirstButtonId);
            if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
                action < self->actions_.size()) {
                self->actions_[action].second();
                return 0;
            }
            if (message == WM_NCDESTROY) {
                self->hwnd_ = nullptr;
            }
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void Refresh() {
        const std::string text = std::string("Box: ") + ModeText(world_.box.Mode()) +
                                 ", firmware " + world_.box.FirmwareVersion();
        SetWindowTextW(state_, ZELKUtil::Utf8ToWide(text).c_str());
    }

    DemoWorld& world_;
    HWND form_;
    HWND hwnd_ = nullptr;
    HWND state_ = nullptr;
    std::vector<std::pair<const wchar_t*, std::function<void()>>> actions_;
};

}  // namespace

std::string DefaultDemoPackage() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return ".";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return ZELKUtil::WideToUtf8(path.substr(0, path.find_last_of(L"\\/")));
}

std::optional<int> RunDemoWindow(int /*argc*/, char** /*argv*/, const std::string& package) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // Without a desktop to show it on (Wine without an X display) the window cannot be made.
    ZELKUtil::UpdateForm form;
    if (!form.Created()) {
        std::fprintf(stderr, "zelk-sim demo: %s; the demo runs in the console\n",
                     form.Error().c_str());
        return std::nullopt;
    }
    DemoWorld world(package);
    ZELKUtil::SteadyClock clock;
    clock.SetWaiter([&form](std::int64_t ms) { form.WaitKeepingWindowAlive(ms); });
    ZELK device(world.hid, world.probe, clock, world.modes);
    ZELKUtil::UpgradeController controller({form, clock, device, world.tools, package, "x86_64"});
    ZELKUtil::ConnectForm(form, controller);
    // Every change of the box's presence reaches the window as WM_DEVICECHANGE, as the system's
    // notification does, from whichever thread the box changed on; during a wait the controller
    // remembers it.
    HWND formHandle = form.Handle();
    world.box.SetPresenceListener([formHandle](BoxMode /*mode*/) {
        PostMessageW(formHandle, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    });
    controller.InitializeApplication();
    form.Show();
    SidePanel panel(world, form.Handle());
    if (!panel.Create()) {
        std::fprintf(stderr, "zelk-sim demo: the side panel could not be shown\n");
    }
    const int rc = form.Run();
    world.box.SetPresenceListener({});
    return rc;
}

}  // namespace ZELKSim
