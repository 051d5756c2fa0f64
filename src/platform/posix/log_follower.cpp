#include "platform/log_follower.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace ZELKUtil {

LogFollower::~LogFollower() {
    Close();
}

bool LogFollower::Start(const std::string& path, std::string* error) {
    Close();
    if (!UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)).Valid()) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    lines_ = LineBuffer();
    return true;
}

bool LogFollower::Fill(std::string* error) {
    // Only as much as the next line needs: a log of any size is held a piece at a time.
    char chunk[16 * 1024];
    while (!lines_.HasLine()) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            lines_.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::string> LogFollower::NextLine(bool rest, std::string* error) {
    if (fd_ < 0) {
        *error = std::strerror(EBADF);
        return std::nullopt;
    }
    if (!Fill(error)) {
        return std::nullopt;
    }
    return lines_.TakeLine(rest);
}

void LogFollower::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace ZELKUtil
