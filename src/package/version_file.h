#pragma once

#include <optional>
#include <string>

namespace ZELKUtil {

// The first line of a text file without its line end, decoded as UTF-8 unless a byte-order mark
// says UTF-16 (either order); a UTF-8 byte-order mark is dropped. nullopt when the file cannot be
// opened or read.
std::optional<std::string> ReadFirstLine(const std::string& path);
// The same for the file's first bytes.
std::string FirstLineOf(std::string bytes);

}  // namespace ZELKUtil
