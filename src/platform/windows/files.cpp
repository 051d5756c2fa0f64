// The package folder's files on Windows: names in UTF-8, converted for the W calls; the system's
// message text in place of strerror's.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Files {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Opens a file on a disk for reading, sharing it with writers as a program's log needs. A folder,
// a pipe or a character device (NUL, CON) is no package file: reading one could wait for ever or
// never end.
HANDLE OpenReadable(const std::string& path) {
    const HANDLE file = ::CreateFileW(Windows::Widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

bool CanOpenForReading(const std::string& path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened: it is no readable file.
    const HANDLE file = OpenReadable(path);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(file);
    return true;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Windows::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<std::string> ReadHead(const std::string& path, std::size_t maxBytes) {
    const HANDLE file = OpenReadable(path);
    if (file == INVALID_HANDLE_VALUE) {
        return Windows::ErrorFromSystemCode("open " + path, ::GetLastError());
    }
    std::string bytes;
    char chunk[16 * 1024];
    while (bytes.size() < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, maxBytes - bytes.size()));
        DWORD got = 0;
        if (::ReadFile(file, chunk, want, &got, nullptr) == FALSE) {
            const DWORD code = ::GetLastError();
            ::CloseHandle(file);
            return Windows::ErrorFromSystemCode("read " + path, code);
        }
        if (got == 0) {
            break;
        }
        bytes.append(chunk, got);
    }
    ::CloseHandle(file);
    return bytes;
}

std::string Join(const std::string& folder, const std::string& name) {
    // Absolute: a drive ("C:..."), a root ("\..."), or a UNC name ("\\server\...").
    const bool absolute =
        (!name.empty() && IsSeparator(name.front())) || (name.size() >= 2 && name[1] == ':');
    if (folder.empty() || absolute) {
        return name;
    }
    if (IsSeparator(folder.back())) {
        return folder + name;
    }
    return folder + "\\" + name;
}

}  // namespace ZELKUtil::Files
