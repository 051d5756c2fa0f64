// zelk-upgrade.exe as shipped: started from the folder the Windows zip unpacks to, with the real
// backends on Wine's device tree (no box there), watched and typed into from outside as the
// operator would, and closed.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/form_layout.h"
#include "platform/windows/message_param.h"
#include "window_probe.h"

namespace ZELKUtil {
namespace {

using namespace Testing;

template <typename Done>
bool WaitFor(Done done, int ms = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct Found {
    DWORD process;
    HWND window;
};

HWND WindowOf(DWORD process) {
    Found found{process, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* f = Windows::FromParam<Found*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t title[64] = {};
            GetWindowTextW(hwnd, title, 64);
            if (owner == f->process && std::wstring(title) == L"Orvanta Upgrade") {
                f->window = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// The product, started on this test's desktop in the package folder; closed (or ended) at the end.
class Product {
  public:
    explicit Product(const std::wstring& folder) {
        wchar_t desktop[128] = {};
        GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop,
                                  sizeof(desktop), nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.lpDesktop = desktop;
        std::wstring commandLine = L"\"" + folder + L"\\zelk-upgrade.exe\"";
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.c_str(), &startup, &info_) != 0;
    }
    ~Product() {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 99);
            }
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    DWORD Thread() const { return info_.dwThreadId; }
    // The exit code once it has ended within the time, else nothing.
    std::optional<DWORD> ExitCode(DWORD ms) const {
        DWORD code = 0;
        if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(info_.hProcess, &code)) {
            return std::nullopt;
        }
        return code;
    }

  private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

std::size_t Row(Control control) {
    return static_cast<std::size_t>(&DesignOf(control) - kControlDesigns);
}

TEST(Win32Product, RunsFromThePackageFolderAndTakesTheOperatorsKeys) {
    const std::wstring folder = ZELK_PACKAGE_ROOT;
    ASSERT_NE(GetFileAttributesW((folder + L"\\zelk-upgrade.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "no unpacked Windows zip (the windows.package test makes it)";
    Product product(folder);
    ASSERT_TRUE(product.Started());
    HWND window = nullptr;
    // Shown once start-up has run.
    ASSERT_TRUE(WaitFor([&] {
        window = WindowOf(product.Id());
        return window != nullptr && IsWindowVisible(window);
    }));
    std::vector<HWND> controls = Children(window);
    ASSERT_EQ(controls.size(), std::size(kControlDesigns));
    const auto text = [&](Control c) { return WindowText(controls[Row(c)]); };
    HWND log = controls[Row(Control::TextOutput)];

    // Start-up read the package's Windows names: its version, its one usable profile and its
    // download tool (no "Damaged upgrade package").
    EXPECT_EQ(text(Control::TextUpgradeVersion), L"Upgrade Version: 2.04");
    EXPECT_EQ(text(Control::LabelMode), L"ZELK");
    // Polls on Wine's device tree find no box, and the log stays empty.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(text(Control::DeviceLabel), L"No device found");
    EXPECT_EQ(WindowText(log), L"");
    EXPECT_FALSE(product.ExitCode(0));

    // The operator's keys, with the log focused as at start.
    SetForegroundWindow(window);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(WaitFor([&] {
        return GetGUIThreadInfo(product.Thread(), &gui) && gui.hwndFocus == log &&
               GetForegroundWindow() == window;
    }));
    HWND force = controls[Row(Control::ButtonForce)];
    EXPECT_FALSE(Visible(force));
    PressWith(VK_CONTROL, 'M');
    // The window shows the service controls one after another: each is waited for.
    EXPECT_TRUE(WaitFor([&] { return Visible(force); })) << "service mode";
    EXPECT_TRUE(WaitFor([&] { return Visible(controls[Row(Control::ButtonAutoRings)]); }));
    EXPECT_TRUE(WaitFor([&] { return Visible(controls[Row(Control::LabelEye)]); }));
    PressWith(VK_CONTROL, 'S');
    EXPECT_TRUE(
        WaitFor([&] { return WindowText(log) == L"\r\nSetting Slow mode for FPGA programming"; }));
    Press(VK_BACK);
    EXPECT_TRUE(WaitFor([&] { return WindowText(log).empty(); })) << "cleared";

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(product.ExitCode(20000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace ZELKUtil
