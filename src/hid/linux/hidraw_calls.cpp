#include "hid/linux/hidraw_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/result.h"

namespace ZELKUtil::Hid::HidrawCalls {

UniqueFd OpenLocked(const char* path, int lockOperation, const char** operation) {
    UniqueFd fd(::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) {
        if (operation != nullptr) {
            *operation = "open";
        }
        return fd;
    }
    int locked = 0;
    do {
        locked = ::flock(fd.Get(), lockOperation | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int err = errno;
        fd.Reset();
        errno = err;
        if (operation != nullptr) {
            *operation = "flock";
        }
    }
    return fd;
}

void NoteFailure(std::vector<HidOpenFailure>* failures, const std::string& path,
                 const char* operation, int error) {
    if (failures != nullptr) {
        failures->push_back({path, ZELKUtil::ErrorFromErrno(operation, error)});
    }
}

std::optional<Clock::time_point> DeadlineFor(std::uint32_t timeoutMs) {
    if (timeoutMs == kHidNoTimeout) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

int PollTimeout(const std::optional<Clock::time_point>& deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    // Rounded up, so that poll() never returns before the deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

char* CopyString(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

int StripReportId(unsigned char* data, int count) {
    if (count > 0 && data[0] == 0) {
        std::memmove(data, data + 1, static_cast<std::size_t>(count - 1));
        return count - 1;
    }
    return count;
}

std::optional<dev_t> CharacterDeviceOf(int fd) {
    struct stat node {};
    if (::fstat(fd, &node) != 0) {
        return std::nullopt;
    }
    if (!S_ISCHR(node.st_mode)) {
        errno = ENOTTY;
        return std::nullopt;
    }
    return node.st_rdev;
}

}  // namespace ZELKUtil::Hid::HidrawCalls
