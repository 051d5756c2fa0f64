#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ZELKUtil::Files {
namespace {

// Opens a regular file (or anything else but a folder) for reading; -1 with errno set otherwise.
int OpenReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
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
            // A FIFO or device opened non-blocking with nothing to give is an empty read, not a
            // hang.
            if (errno == EAGAIN) {
                break;
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
