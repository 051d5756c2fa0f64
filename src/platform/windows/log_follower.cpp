#include "platform/log_follower.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil {

struct LogFollower::File {
    UniqueHandle handle;
};

LogFollower::LogFollower() = default;

LogFollower::~LogFollower() {
    Close();
}

Result<void> LogFollower::Start(const std::string& path) {
    Close();
    const std::wstring name = Utf8ToWide(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    {
        const UniqueHandle created(::CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created.Valid()) {
            return Windows::ErrorFromSystemCode(path, ::GetLastError());
        }
    }
    // Shared with the tool, another process, which opens the log to write it.
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Windows::ErrorFromSystemCode(path, ::GetLastError());
    }
    file_ = std::make_unique<File>(File{UniqueHandle(file)});
    lines_ = LineBuffer();
    return {};
}

Result<void> LogFollower::Fill() {
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(file_->handle.Get(), chunk, sizeof chunk, &got, nullptr) == FALSE) {
            return Windows::ErrorFromSystemCode("read the log", ::GetLastError());
        }
        if (got == 0) {
            return {};
        }
        lines_.Append(std::string_view(chunk, got));
    }
}

Result<std::optional<std::string>> LogFollower::NextLine(bool rest) {
    if (!file_) {
        return Windows::ErrorFromSystemCode("read the log", ERROR_INVALID_HANDLE);
    }
    if (auto filled = Fill(); !filled) {
        return filled.error();
    }
    return lines_.TakeLine(rest);
}

void LogFollower::Close() {
    file_.reset();
}

}  // namespace ZELKUtil
