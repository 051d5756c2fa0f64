#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
int OpenReadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = NotAFile(st.st_mode);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        err = NotAFile(st.st_mode);
    }
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

}  // namespace

bool CanOpenForReading(const std::string& path) {
    const int fd = OpenReadable(path);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::string> ReadHead(const std::string& path, std::size_t maxBytes,
                                    std::string* error) {
    const int fd = OpenReadable(path);
    if (fd < 0) {
        if (error != nullptr) {
            *error = std::strerror(errno);
        }
        return std::nullopt;
    }
    std::string bytes;
    char chunk[16 * 1024];
    while (bytes.size() < maxBytes) {
        const std::size_t want = std::min(sizeof chunk, maxBytes - bytes.size());
        const ssize_t n = ::read(fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            if (error != nullptr) {
                *error = std::strerror(err);
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
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
