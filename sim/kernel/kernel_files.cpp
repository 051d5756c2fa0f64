#include "kernel/kernel_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/result.h"

namespace ZELKSim {

bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "open " + path + ": " + ZELKUtil::ErrnoText(errno);
        return false;
    }
    // Attributes take one write; a short write is an error there.
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    const int writeErrno = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(bytes.size())) {
        *error = "write " + path + ": " +
                 (written < 0 ? ZELKUtil::ErrnoText(writeErrno) : std::string("short write"));
        return false;
    }
    return true;
}

bool WaitFor(const std::function<bool()>& ready, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return ready();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace ZELKSim
