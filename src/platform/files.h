#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/result.h"

namespace ZELKUtil::Files {

// Whether the file can be opened for reading. Only a regular file (or a link to one) can: a folder
// is not a file that can be read, as on the platform the package format comes from, and a FIFO or
// a device is no package file either (it could give nothing, or never end).
bool CanOpenForReading(const std::string& path);

// Whether anything (file or folder) exists under the name.
bool Exists(const std::string& path);

// The size in bytes of a regular file; nullopt when there is none under the name.
std::optional<std::uint64_t> SizeOf(const std::string& path);

// Up to maxBytes from the start of a regular file, or why it cannot be opened or read (the
// reason is the system's text).
Result<std::string> ReadHead(const std::string& path, std::size_t maxBytes);

// Makes the folder and every folder above it that is missing, as `mkdir -p` does; a folder that
// is already there is fine, a file in its place is not.
Result<void> MakeFolders(const std::string& folder);

// Appends the line and a line end to a record file, creating it when missing, and returns only once
// it is on the disk (synced). The file is opened for appending, so every write lands at its end
// even with other writers, in one write call where the system allows it. A file whose last line
// has no end (a write cut short by a crash or a full disk) gets one first, so that the torn line
// never swallows the new one. Only a regular file is written: a FIFO, a device or a folder is
// refused at once (ErrorKind::NotAFile), never waited on.
Result<void> AppendLine(const std::string& path, const std::string& line);

// The full name of what is under the path, with every link followed (on Windows junctions,
// mount points, "subst" drives and mapped shares too) and every "." and ".." taken out; the
// error when nothing is there or the path cannot be followed.
Result<std::string> Resolve(const std::string& path);

// Whether the path, resolved, is the folder, resolved, or lies anywhere below it; the comparison
// is the file system's (without case on Windows). The error when either cannot be resolved, for
// the caller to tell a missing file from one elsewhere.
Result<bool> IsInside(const std::string& folder, const std::string& path);

// Joins a relative name to a folder; an absolute name or an empty folder leaves the name as it is.
std::string Join(const std::string& folder, const std::string& name);

}  // namespace ZELKUtil::Files
