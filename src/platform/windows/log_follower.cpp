#include "platform/log_follower.h"

#include <windows.h>

#include "platform/windows/text_conversion.h"

namespace ZELKUtil {

LogFollower::~LogFollower() {
    Close();
}

bool LogFollower::Start(const std::string& path, std::string* error) {
    Close();
    const std::wstring name = Windows::Widen(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE created = ::CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        *error = path + ": " + Windows::SystemErrorText(::GetLastError());
        return false;
    }
    ::CloseHandle(created);
    // Shared with the tool, another process, which opens the log to write it.
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": " + Windows::SystemErrorText(::GetLastError());
        return false;
    }
    file_ = file;
    lines_ = LineBuffer();
    return true;
}

bool LogFollower::Fill(std::string* error) {
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(static_cast<HANDLE>(file_), chunk, sizeof chunk, &got, nullptr) == FALSE) {
            *error = Windows::SystemErrorText(::GetLastError());
            return false;
        }
        if (got == 0) {
            return true;
        }
        lines_.Append(std::string_view(chunk, got));
    }
}

std::optional<std::string> LogFollower::NextLine(bool rest, std::string* error) {
    if (file_ == nullptr) {
        *error = Windows::SystemErrorText(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    if (!Fill(error)) {
        return std::nullopt;
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
