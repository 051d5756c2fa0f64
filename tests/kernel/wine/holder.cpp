#include "holder.h"

#include <string>

namespace ZELKWineTest {
namespace {

std::wstring EventName(const char* what, DWORD pid) {
    return L"zelk-" + std::wstring(what, what + std::char_traits<char>::length(what)) + L"-" +
           std::to_wstring(pid);
}

std::string Failed(const char* call) {
    return std::string(call) + " failed: error " + std::to_string(::GetLastError());
}

}  // namespace

Holder::Holder(const std::string& path, bool shared) {
    std::wstring program(MAX_PATH, L'\0');
    program.resize(::GetModuleFileNameW(nullptr, program.data(), MAX_PATH));
    std::wstring command = L"\"" + program + L"\" --hold \"" +
                           std::wstring(path.begin(), path.end()) + L"\" " +
                           (shared ? L"shared" : L"exclusive");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                         nullptr, nullptr, &startup, &info) == FALSE) {
        failure_ = Failed("CreateProcessW");
        return;
    }
    process_ = info.hProcess;
    // The events exist before the holder runs: it only opens them.
    heldEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, EventName("held", info.dwProcessId).c_str());
    releaseEvent_ =
        ::CreateEventW(nullptr, TRUE, FALSE, EventName("release", info.dwProcessId).c_str());
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    if (heldEvent_ == nullptr || releaseEvent_ == nullptr) {
        failure_ = Failed("CreateEventW");
        return;
    }
    const HANDLE either[2] = {heldEvent_, process_};
    const DWORD woke = ::WaitForMultipleObjects(2, either, FALSE, 60000);
    held_ = woke == WAIT_OBJECT_0;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    if (!held_) {
        failure_ = "the holder did not open " + path + " (wait " + std::to_string(woke) +
                   ", exit code " + std::to_string(code) + ")";
    }
}

Holder::~Holder() {
    if (releaseEvent_ != nullptr) {
        ::SetEvent(releaseEvent_);
        ::CloseHandle(releaseEvent_);
    }
    if (process_ != nullptr) {
        ::WaitForSingleObject(process_, 60000);
        ::CloseHandle(process_);
    }
    if (heldEvent_ != nullptr) {
        ::CloseHandle(heldEvent_);
    }
}

int HoldInterface(const std::string& path, bool shared) {
    const DWORD self = ::GetCurrentProcessId();
    const HANDLE held = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName("held", self).c_str());
    const HANDLE release = ::OpenEventW(SYNCHRONIZE, FALSE, EventName("release", self).c_str());
    if (held == nullptr || release == nullptr) {
        return 2;
    }
    const HANDLE device = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return 1;
    }
    ::SetEvent(held);
    ::WaitForSingleObject(release, 120000);
    ::CloseHandle(device);
    return 0;
}

}  // namespace ZELKWineTest
