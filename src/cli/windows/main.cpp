// zelk-cli.exe: its entry over hid.dll, SetupDi and CreateProcess. Ctrl+C (or Ctrl+Break)
// asks the runner to stop starting new work; the runs under way go on to their end. A Windows
// port is a location path, which dfu-util's -p does not take: the boxes are upgraded one at a
// time, so that dfu-util only ever sees one bootloader.
// <windows.h> before the headers that build on it.
// clang-format off
#include <windows.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cli/cli_entry.h"
#include "cli/console_lines.h"
#include "cli/port_claim.h"
#include "cli/windows/device_change_window.h"
#include "hid/windows/win32_calls.h"
#include "hid/windows/windows_box_platform.h"
#include "platform/steady_clock.h"
#include "platform/system_info.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

namespace {

std::string Env(const std::string& name) {
    const std::wstring wide = ZELKUtil::Utf8ToWide(name);
    const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        return "";
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return ZELKUtil::WideToUtf8(value);
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) != 0 ? ZELKUtil::WideToUtf8(name) : "";
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = {};
    if (gmtime_s(&utc, &now) != 0 ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return "";
    }
    return text;
}

// The console's control handler is a plain function that the system calls on a thread of its
// own: it can reach nothing but these requests.
ZELKUtil::Cli::StopRequests& Requests() {
    static ZELKUtil::Cli::StopRequests requests;
    return requests;
}

// How long the handler keeps the process alive after the console's close: the system ends it
// some five seconds after the event, whatever the handler does.
constexpr DWORD kClosingGraceMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        const std::string line = Requests().Request(type == CTRL_BREAK_EVENT);
        std::fprintf(stderr, "%s\n", line.c_str());
        return TRUE;
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The process ends in a few seconds: nothing new starts, every box under way has its
        // record note where it was, and the runs go on for as long as the system lets them. The
        // tools run without a console of their own (their output is piped), so the close does
        // not reach them: a download under way runs to its end, and the next run finds the box
        // in normal mode or, from its record, in its bootloader.
        Requests().Closing(type == CTRL_CLOSE_EVENT ? "the console was closed"
                                                    : "the session ended");
        Sleep(kClosingGraceMs);
        return TRUE;
    }
    return FALSE;
}

// Whether standard output is a console that takes the cursor movements of the progress lines
// (Windows 10 and later, once asked to); a redirected output is no console.
bool ConsoleTakesCursorMoves() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || GetConsoleMode(out, &mode) == 0) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The backends of the runs. The hidden window that hears device changes is opened with the first
// of them (a --help needs none), and tells each run's journal of every change.
class WindowsBoxes {
  public:
    std::unique_ptr<ZELKUtil::BoxPlatform> Make(const std::string& package) {
        const std::lock_guard<std::mutex> lock(lock_);
        if (!changes_) {
            changes_.emplace();
            if (!changes_->Opened()) {
                std::fprintf(stderr,
                             "zelk-cli: device changes cannot be heard, so every poll reads the "
                             "device tree: %s\n",
                             changes_->Opened().error().Text().c_str());
            }
        }
        // Each platform is used on one thread, with a journal of its own.
        auto platform =
            std::make_unique<ZELKUtil::Hid::WindowsBoxPlatform>(calls_, package, nullptr);
        changes_->Follow(platform->Journal());
        return platform;
    }

  private:
    std::mutex lock_;
    const ZELKUtil::Hid::Win32Calls calls_ = ZELKUtil::Hid::SystemWin32Calls();
    std::optional<ZELKUtil::Cli::DeviceChangeWindow> changes_;
};

}  // namespace

int main(int argc, char** argv) {
    if (SetConsoleCtrlHandler(OnConsoleControl, TRUE) == 0) {
        std::fputs("zelk-cli: Ctrl+C cannot be caught; it ends the program at once\n", stderr);
    }
    // The table's arrow and a box's own text are UTF-8: a console left at its OEM code page
    // would show them as other characters. Redirected output is bytes and needs no code page.
    if (GetConsoleWindow() != nullptr && SetConsoleOutputCP(CP_UTF8) == 0) {
        std::fprintf(stderr,
                     "zelk-cli: the console cannot be set to UTF-8 (error %lu): arrows and "
                     "non-ASCII text may show wrong\n",
                     GetLastError());
    }
    WindowsBoxes boxes;
    ZELKUtil::SteadyClock clock;
    ZELKUtil::Cli::CliPlatform platform{
        ZELK_VERSION,
        std::cout,
        std::cerr,
        Env,
        ConsoleTakesCursorMoves,
        false,
        HostName(),
        ZELKUtil::NativeMachine(),
        UtcNow,
        clock,
        [&boxes](const std::string& package) { return boxes.Make(package); },
        // A Windows port is a location path, which dfu-util's -p does not take.
        false,
        true,
        ZELKUtil::Cli::ClaimPort,
        Requests(),
    };
    return ZELKUtil::Cli::RunCli(argc, argv, platform);
}
