#include "platform/log_follower.h"

#include <windows.h>

#include "platform/windows/text_conversion.h"

namespace ZELKUtil {

LogFollower::~LogFollower() {
    Close();
}

Result<void> LogFollower::Start(const std::string& path) {
    Close();
    const std::wstring name = Windows::Widen(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE created = ::CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        return Windows::ErrorFromSystemCode(path, ::GetLastError());
    }
    ::CloseHandle(created);
    // Shared with the tool, another process, which opens the log to write it.
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Windows::ErrorFromSystemCode(path, ::GetLastError());
    }
    file_ = file;
    lines_ = LineBuffer();
    return {};
}

Result<void> LogFollower::Fill() {
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(static_cast<HANDLE>(file_), chunk, sizeof chunk, &got, nullptr) == FALSE) {
            return Windows::ErrorFromSystemCode("read the log", ::GetLastError());
        }
        if (got == 0) {
            return {};
        }
        lines_.Append(std::string_view(chunk, got));
    }
}

Result<std::optional<std::string>> LogFollower::NextLine(bool rest) {
    if (file_ == nullptr) {
        return Windows::ErrorFromSystemCode("read the log", ERROR_INVALID_HANDLE);
    }
    if (auto filled = Fill(); !filled) {
        return filled.error();
    }
    return lines_.TakeLine(rest);
}

void LogFollower::Close() {
    if (file_ != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(file_));
        file_ = nullptr;
    }
}

}  // namespace ZELKUtil
