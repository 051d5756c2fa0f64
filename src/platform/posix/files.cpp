#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/posix/unique_fd.h"

namespace ZELKUtil::Files {
namespace {

// The errno for something that is not a regular file: a folder, a FIFO, a device, a socket. None
// of them is a package file, and reading one could wait for ever or never end.
int NotAFile(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

// Opens a regular file for reading; -1 with errno set otherwise. Anything else is looked at
// before it is opened (opening a device may do something) and again after (it may have been
// replaced meanwhile).
UniqueFd OpenReadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        errno = NotAFile(st.st_mode);
        return UniqueFd();
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return fd;
    }
    int err = 0;
    if (::fstat(fd.Get(), &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        err = NotAFile(st.st_mode);
    }
    if (err != 0) {
        fd.Reset();
        errno = err;
    }
    return fd;
}

}  // namespace

bool CanOpenForReading(const std::string& path) {
    return OpenReadable(path).Valid();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::uint64_t> SizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

Result<std::string> ReadHead(const std::string& path, std::size_t maxBytes) {
    const UniqueFd fd = OpenReadable(path);
    if (!fd.Valid()) {
        return ErrorFromErrno("open " + path, errno);
    }
    std::string bytes;
    char chunk[16 * 1024];
    while (bytes.size() < maxBytes) {
        const std::size_t want = std::min(sizeof chunk, maxBytes - bytes.size());
        const ssize_t n = ::read(fd.Get(), chunk, want);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ErrorFromErrno("read " + path, errno);
        }
        if (n == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

Result<void> MakeFolders(const std::string& folder) {
    if (folder.empty()) {
        return ErrorFromErrno("make folder " + folder, ENOENT);
    }
    // Each level from the top down; the root and repeated slashes name nothing new to make.
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string level = folder.substr(0, end);
        if (!level.empty() && level.back() != '/' && ::mkdir(level.c_str(), 0777) != 0) {
            // A level that is already there fails with EEXIST, or on a read-only or forbidden
            // parent possibly with EROFS or EACCES first: only what is there now decides.
            const int err = errno;
            struct stat st {};
            if (::stat(level.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                return ErrorFromErrno("make folder " + level, err == EEXIST ? ENOTDIR : err);
            }
        }
        if (end == std::string::npos) {
            return {};
        }
    }
}

Result<void> AppendLine(const std::string& path, const std::string& line) {
    // Non-blocking: opening a FIFO for writing would otherwise wait for a reader for ever. The
    // mode is the usual one for a user's own file; the umask narrows it further.
    UniqueFd fd(::open(path.c_str(),
                       O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
    if (!fd.Valid()) {
        return ErrorFromErrno("open " + path, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        return ErrorFromErrno("stat " + path, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        Error error = ErrorFromErrno("open " + path, NotAFile(st.st_mode));
        error.kind = ErrorKind::NotAFile;
        return error;
    }
    std::string text = line + "\n";
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd.Get(), &last, 1, st.st_size - 1) == 1 && last != '\n') {
        text.insert(0, 1, '\n');
    }
    std::size_t done = 0;
    off_t start = -1;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            // A line cut short (the file size limit, a full disk) is taken back: the file keeps
            // whole records only. A line that never began has nothing to take back.
            if (start >= 0) {
                (void)!::ftruncate(fd.Get(), start);
            }
            return ErrorFromErrno("write " + path, err);
        }
        if (start < 0) {
            // Appending writes at the end, wherever another writer left it: where this one began.
            start = ::lseek(fd.Get(), 0, SEEK_CUR) - n;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.Get()) != 0) {
        return ErrorFromErrno("sync " + path, errno);
    }
    // On a network file system a failed write may only show at close.
    if (::close(fd.Release()) != 0) {
        return ErrorFromErrno("close " + path, errno);
    }
    return {};
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || (!name.empty() && name.front() == '/')) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

Result<std::string> Resolve(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(path.empty() ? "." : path.c_str(), nullptr), &std::free);
    if (!resolved) {
        return ErrorFromErrno("resolve " + path, errno);
    }
    return std::string(resolved.get());
}

Result<bool> IsInside(const std::string& folder, const std::string& path) {
    Result<std::string> outer = Resolve(folder);
    if (!outer) {
        return outer.error();
    }
    const Result<std::string> inner = Resolve(path);
    if (!inner) {
        return inner.error();
    }
    std::string& prefix = outer.value();
    if (inner.value() == prefix) {
        return true;
    }
    // "/pkg" holds "/pkg/a" but not "/pkg2/a"; the root ends in its separator already.
    if (prefix.back() != '/') {
        prefix += '/';
    }
    return inner.value().compare(0, prefix.size(), prefix) == 0;
}

}  // namespace ZELKUtil::Files
