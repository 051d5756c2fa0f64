#pragma once

#include <cstddef>
#include <string>

#include "platform/result.h"

namespace ZELKUtil::Files {

// Whether the file can be opened for reading. Only a regular file (or a link to one) can: a folder
// is not a file that can be read, as on the platform the package format comes from, and a FIFO or
// a device is no package file either (it could give nothing, or never end).
bool CanOpenForReading(const std::string& path);

// Whether anything (file or folder) exists under the name.
bool Exists(const std::string& path);

// Up to maxBytes from the start of a regular file, or why it cannot be opened or read (the
// reason is the system's text).
Result<std::string> ReadHead(const std::string& path, std::size_t maxBytes);

// Joins a relative name to a folder; an absolute name or an empty folder leaves the name as it is.
std::string Join(const std::string& folder, const std::string& name);

}  // namespace ZELKUtil::Files
