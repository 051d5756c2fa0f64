#pragma once

#include <string>

namespace ZELKUtil {

// Whether the text holds the part anywhere: how the tools' readers match a tool's lines, and how
// the bench reads a box's log.
inline bool Holds(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace ZELKUtil
