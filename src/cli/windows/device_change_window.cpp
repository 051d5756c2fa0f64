#include "cli/windows/device_change_window.h"

#include "hid/windows/device_notifications.h"
#include "platform/windows/message_param.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Cli {
namespace {

constexpr wchar_t kWindowClass[] = L"ZELKUtil.Cli.DeviceChanges";

}  // namespace

DeviceChangeWindow::DeviceChangeWindow() {
    std::promise<void> ready;
    std::future<void> opened = ready.get_future();
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    thread_ = std::thread([this, desktop, &ready] { Run(desktop, &ready); });
    opened.wait();
}

DeviceChangeWindow::~DeviceChangeWindow() {
    if (hwnd_ != nullptr) {
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
    thread_.join();
}

void DeviceChangeWindow::Follow(Hid::DeviceChangeJournal& journal) const {
    if (!opened_) {
        journal.Listening(Hid::ChangeSource::None);
        return;
    }
    // Asked on the journal's own thread before it trusts anything it keeps.
    journal.Listening(Hid::kDeviceNotifications, [this, &journal, seen = Changes()]() mutable {
        const std::uint64_t now = Changes();
        if (now != seen) {
            seen = now;
            journal.Changed();
        }
        return true;
    });
}

Result<void> DeviceChangeWindow::Open() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return Windows::ErrorFromSystemCode("RegisterClassEx", GetLastError());
    }
    // Never shown: WS_OVERLAPPED without WS_VISIBLE.
    hwnd_ = CreateWindowExW(0, kWindowClass, L"zelk-cli device changes", WS_OVERLAPPED, 0, 0, 0, 0,
                            nullptr, nullptr, windowClass.hInstance, this);
    if (hwnd_ == nullptr) {
        return Windows::ErrorFromSystemCode("CreateWindowEx", GetLastError());
    }
    return Hid::RegisterDeviceNotifications(hwnd_, &notifications_);
}

void DeviceChangeWindow::Run(HDESK desktop, std::promise<void>* ready) {
    // A new thread starts on the process's first desktop, which need not be the maker's.
    if (desktop != nullptr && SetThreadDesktop(desktop) == 0) {
        opened_ = Windows::ErrorFromSystemCode("SetThreadDesktop", GetLastError());
    } else {
        opened_ = Open();
    }
    const bool loop = hwnd_ != nullptr;
    ready->set_value();  // the constructor's frame, and `ready`, may be gone from here on
    MSG message{};
    while (loop && GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK DeviceChangeWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = Windows::FromParam<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = Windows::FromParam<DeviceChangeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_DEVICECHANGE:
            if (self != nullptr) {
                self->changes_.fetch_add(1);
            }
            break;  // the system's handling still runs
        case WM_DESTROY:
            if (self != nullptr) {
                Hid::UnregisterDeviceNotifications(&self->notifications_);
            }
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace ZELKUtil::Cli
