#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace ZELKUtil::Hid {

// The whole content of a small sysfs or udev database file (at most 64 KiB), or nullopt when it
// cannot be opened or read; errno tells why then. A relative path is taken relative to the open
// folder dirFd: a walk over many devices opens the folder once instead of resolving its whole
// path again for every file.
std::optional<std::string> ReadSmallFile(const std::string& path, int dirFd = AT_FDCWD);

// Whether the folder's file system never gives a new entry the inode number of one that went
// (sysfs, tmpfs): only there may what was read of an entry be remembered by its inode number.
bool InodesStayUnique(int dirFd);

// The inode number of an entry of the open folder dirFd (a link is not followed), as a listing of
// the folder gives it; nullopt (errno set) when there is no such entry.
std::optional<ino_t> EntryInode(int dirFd, const std::string& name);

// A sysfs attribute: the file's first line without its line end, or nullopt.
std::optional<std::string> ReadAttribute(const std::string& directory, const std::string& name,
                                         int dirFd = AT_FDCWD);

}  // namespace ZELKUtil::Hid
