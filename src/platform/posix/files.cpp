#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || (!name.empty() && name.front() == '/')) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

}  // namespace ZELKUtil::Files
