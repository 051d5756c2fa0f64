#include "hid/sysfs_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ZELKUtil::Hid {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{64} * 1024;

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string content;
    std::array<char, 4096> chunk{};
    while (content.size() < kMaxFileBytes) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        content.append(chunk.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return content;
}

std::optional<std::string> ReadAttribute(const std::string& directory, const std::string& name) {
    auto content = ReadSmallFile(directory + "/" + name);
    if (!content) {
        return std::nullopt;
    }
    const std::size_t end = content->find('\n');
    if (end != std::string::npos) {
        content->resize(end);
    }
    return content;
}

}  // namespace ZELKUtil::Hid
