// The package folder's files on Windows: names in UTF-8, converted for the W calls; the system's
// message text in place of strerror's.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil::Files {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Opens a file on a disk for reading, sharing it with writers as a program's log needs. A folder,
// a pipe or a character device (NUL, CON) is no package file: reading one could wait for ever or
// never end.
UniqueHandle OpenReadable(const std::string& path) {
    UniqueHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid() && ::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        file.Reset();
        ::SetLastError(ERROR_NOT_SUPPORTED);
    }
    return file;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Where the levels that can be made begin: after a drive ("C:\") or a share ("\\server\share\"),
// which are there or not but never made.
std::size_t FirstMakeableLevel(const std::string& folder) {
    if (folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
        std::size_t separators = 0;
        for (std::size_t i = 2; i < folder.size(); ++i) {
            if (IsSeparator(folder[i]) && ++separators == 2) {
                return i + 1;
            }
        }
        return folder.size();
    }
    return folder.size() >= 2 && folder[1] == ':' ? 2 : 0;
}

// Writes the whole text; WriteFile takes at most a DWORD's worth at a time.
Result<void> WriteAll(HANDLE file, const std::string& path, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1U << 30));
        DWORD written = 0;
        if (::WriteFile(file, text.data() + done, want, &written, nullptr) == FALSE) {
            return Windows::ErrorFromSystemCode("write " + path, ::GetLastError());
        }
        done += written;
    }
    return {};
}

}  // namespace

bool CanOpenForReading(const std::string& path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened: it is no readable file.
    return OpenReadable(path).Valid();
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::uint64_t> SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data) == 0 ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32U) | data.nFileSizeLow;
}

Result<std::string> ReadHead(const std::string& path, std::size_t maxBytes) {
    const UniqueHandle file = OpenReadable(path);
    if (!file.Valid()) {
        return Windows::ErrorFromSystemCode("open " + path, ::GetLastError());
    }
    std::string bytes;
    char chunk[16 * 1024];
    while (bytes.size() < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, maxBytes - bytes.size()));
        DWORD got = 0;
        if (::ReadFile(file.Get(), chunk, want, &got, nullptr) == FALSE) {
            return Windows::ErrorFromSystemCode("read " + path, ::GetLastError());
        }
        if (got == 0) {
            break;
        }
        bytes.append(chunk, got);
    }
    return bytes;
}

Result<void> MakeFolders(const std::string& folder) {
    if (folder.empty()) {
        return Windows::ErrorFromSystemCode("make folder " + folder, ERROR_PATH_NOT_FOUND);
    }
    for (std::size_t end = FirstMakeableLevel(folder); end <= folder.size(); ++end) {
        if (end < folder.size() && !IsSeparator(folder[end])) {
            continue;
        }
        const std::string level = folder.substr(0, end);
        if (level.empty() || IsSeparator(level.back()) || (level.size() == 2 && level[1] == ':')) {
            continue;
        }
        const std::wstring wide = Utf8ToWide(level);
        if (::CreateDirectoryW(wide.c_str(), nullptr) == FALSE) {
            // A level that is already there is fine; only what is there now decides.
            const DWORD code = ::GetLastError();
            if (!IsFolder(wide)) {
                return Windows::ErrorFromSystemCode("make folder " + level, code);
            }
        }
    }
    return {};
}

Result<void> AppendLine(const std::string& path, const std::string& line) {
    // With FILE_APPEND_DATA every write goes to the file's end, whoever else writes to it; read
    // access only looks at the last byte.
    UniqueHandle file(::CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return Windows::ErrorFromSystemCode("open " + path, ::GetLastError());
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        Error error = Windows::ErrorFromSystemCode("open " + path, ERROR_NOT_SUPPORTED);
        error.kind = ErrorKind::NotAFile;
        return error;
    }
    std::string text = line + "\n";
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.Get(), &size) != FALSE && size.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size.QuadPart - 1);
        at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
        char last = '\n';
        DWORD read = 0;
        if (::ReadFile(file.Get(), &last, 1, &read, &at) != FALSE && read == 1 && last != '\n') {
            text.insert(0, 1, '\n');
        }
    }
    Result<void> written = WriteAll(file.Get(), path, text);
    if (written && ::FlushFileBuffers(file.Get()) == FALSE) {
        written = Windows::ErrorFromSystemCode("sync " + path, ::GetLastError());
    }
    // A close that fails may have lost what was written: told, unless the write failed first.
    if (!file.Close() && written.ok()) {
        return Windows::ErrorFromSystemCode("close " + path, ::GetLastError());
    }
    return written;
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

namespace {

// The absolute form of a name, relative to the working directory and its drive.
Result<std::wstring> FullPath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path.empty() ? "." : path);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length =
        needed == 0 ? 0 : ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return Windows::ErrorFromSystemCode("resolve " + path, ::GetLastError());
    }
    full.resize(length);
    return full;
}

// The final name of an open file or folder as a drive path ("C:\...") or a share ("\\host\...")
// without the "\\?\" prefix the system gives it.
std::wstring WithoutLongPrefix(std::wstring name) {
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring local = L"\\\\?\\";
    if (name.compare(0, unc.size(), unc) == 0) {
        return L"\\\\" + name.substr(unc.size());
    }
    if (name.compare(0, local.size(), local) == 0) {
        return name.substr(local.size());
    }
    return name;
}

Result<std::wstring> ResolveWide(const std::string& path) {
    const Result<std::wstring> full = FullPath(path);
    if (!full) {
        return full.error();
    }
    // No access asked: the handle only names the file. Backup semantics open a folder as well.
    const UniqueHandle file(::CreateFileW(
        full.value().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) {
        return Windows::ErrorFromSystemCode("resolve " + path, ::GetLastError());
    }
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = ::GetFinalPathNameByHandleW(file.Get(), nullptr, 0, kFlags);
    std::wstring name(needed, L'\0');
    const DWORD length =
        needed == 0 ? 0 : ::GetFinalPathNameByHandleW(file.Get(), name.data(), needed, kFlags);
    if (length == 0 || length >= needed) {
        return Windows::ErrorFromSystemCode("resolve " + path, ::GetLastError());
    }
    name.resize(length);
    return WithoutLongPrefix(std::move(name));
}

}  // namespace

Result<std::string> Resolve(const std::string& path) {
    const Result<std::wstring> resolved = ResolveWide(path);
    if (!resolved) {
        return resolved.error();
    }
    return WideToUtf8(resolved.value());
}

Result<bool> IsInside(const std::string& folder, const std::string& path) {
    Result<std::wstring> outer = ResolveWide(folder);
    if (!outer) {
        return outer.error();
    }
    const Result<std::wstring> inner = ResolveWide(path);
    if (!inner) {
        return inner.error();
    }
    std::wstring& prefix = outer.value();
    // "C:\pkg" holds "C:\pkg\a" but not "C:\pkg2\a"; a drive's root ends in its separator.
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    const std::wstring& name = inner.value();
    const auto same = [](const std::wstring& a, const std::wstring& b, std::size_t count) {
        return ::CompareStringOrdinal(a.data(), static_cast<int>(count), b.data(),
                                      static_cast<int>(count), TRUE) == CSTR_EQUAL;
    };
    if (name.size() + 1 == prefix.size() && same(name, prefix, name.size())) {
        return true;
    }
    return name.size() >= prefix.size() && same(name, prefix, prefix.size());
}

}  // namespace ZELKUtil::Files
