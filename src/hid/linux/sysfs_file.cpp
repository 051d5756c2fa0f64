#include "hid/linux/sysfs_file.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace ZELKUtil::Hid {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{64} * 1024;
constexpr std::size_t kChunkBytes = 4096;

UniqueFd OpenForReading(const std::string& path, int dirFd) {
    return UniqueFd(::openat(dirFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
}

// Appends what is left of the open file to content, up to the size bound. False (errno set) when a
// read fails.
bool ReadRest(int fd, std::string& content) {
    std::array<char, kChunkBytes> chunk{};
    while (content.size() < kMaxFileBytes) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        content.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, int dirFd) {
    const UniqueFd fd = OpenForReading(path, dirFd);
    if (!fd.Valid()) {
        return std::nullopt;
    }
    std::string content;
    if (!ReadRest(fd.Get(), content)) {
        return std::nullopt;
    }
    return content;
}

bool InodesStayUnique(int dirFd) {
    struct statfs about {};
    return ::fstatfs(dirFd, &about) == 0 &&
           (about.f_type == SYSFS_MAGIC || about.f_type == TMPFS_MAGIC);
}

std::optional<ino_t> EntryInode(int dirFd, const std::string& name) {
    struct stat entry {};
    if (::fstatat(dirFd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return entry.st_ino;
}

std::optional<std::string> ReadAttribute(const std::string& directory, const std::string& name,
                                         int dirFd) {
    const UniqueFd fd = OpenForReading(directory.empty() ? name : directory + "/" + name, dirFd);
    if (!fd.Valid()) {
        return std::nullopt;
    }
    // Only the first line counts: once the first read holds a line end, the rest is never needed.
    // Most attributes are one short line, so this saves the read that would only find the end.
    std::array<char, kChunkBytes> first{};
    ssize_t got = 0;
    do {
        got = ::read(fd.Get(), first.data(), first.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(got);
    if (const void* end = std::memchr(first.data(), '\n', size)) {
        return std::string(first.data(),
                           static_cast<std::size_t>(static_cast<const char*>(end) - first.data()));
    }
    std::string content(first.data(), size);
    if (got != 0 && !ReadRest(fd.Get(), content)) {
        return std::nullopt;
    }
    const std::size_t end = content.find('\n');
    if (end != std::string::npos) {
        content.resize(end);
    }
    return content;
}

}  // namespace ZELKUtil::Hid
