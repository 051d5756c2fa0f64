#pragma once

#include <optional>
#include <string>

namespace ZELKUtil::Hid {

// The whole content of a small sysfs or udev database file (at most 64 KiB), or nullopt when it
// cannot be opened or read; errno tells why then.
std::optional<std::string> ReadSmallFile(const std::string& path);

// A sysfs attribute: the file's first line without its line end, or nullopt.
std::optional<std::string> ReadAttribute(const std::string& directory, const std::string& name);

}  // namespace ZELKUtil::Hid
