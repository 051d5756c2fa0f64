#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ZELKUtil::Files {

// Whether the file can be opened for reading. Only a regular file (or a link to one) can: a folder
// is not a file that can be read, as on the platform the package format comes from, and a FIFO or
// a device is no package file either (it could give nothing, or never end).
bool CanOpenForReading(const std::string& path);

// Whether anything (file or folder) exists under the name.
bool Exists(const std::string& path);

// Up to maxBytes from the start of a regular file; nullopt when it cannot be opened or read.
// The error text (strerror) is stored in *error when given.
std::optional<std::string> ReadHead(const std::string& path, std::size_t maxBytes,
                                    std::string* error = nullptr);

// Joins a relative name to a folder; an absolute name or an empty folder leaves the name as it is.
std::string Join(const std::string& folder, const std::string& name);

}  // namespace ZELKUtil::Files
