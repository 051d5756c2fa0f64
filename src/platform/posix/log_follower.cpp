#include "platform/log_follower.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "platform/posix/unique_fd.h"

namespace ZELKUtil {

struct LogFollower::File {
    UniqueFd fd;
};

LogFollower::LogFollower() = default;

LogFollower::~LogFollower() {
    Close();
}

Result<void> LogFollower::Start(const std::string& path) {
    Close();
    if (!UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)).Valid()) {
        return ErrorFromErrno(path, errno);
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return ErrorFromErrno(path, errno);
    }
    file_ = std::make_unique<File>(File{std::move(fd)});
    lines_ = LineBuffer();
    return {};
}

Result<void> LogFollower::Fill() {
    // Only as much as the next line needs: a log of any size is held a piece at a time.
    char chunk[16 * 1024];
    while (!lines_.HasLine()) {
        const ssize_t n = ::read(file_->fd.Get(), chunk, sizeof chunk);
        if (n > 0) {
            lines_.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0) {
            return {};
        }
        if (errno == EINTR) {
            continue;
        }
        return ErrorFromErrno("read the log", errno);
    }
    return {};
}

Result<std::optional<std::string>> LogFollower::NextLine(bool rest) {
    if (!file_) {
        return ErrorFromErrno("read the log", EBADF);
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
