#pragma once

#include <string>

namespace ZELKUtil {

// Whether a tool's line holds the text anywhere: the tools' readers match their lines so.
inline bool Holds(const std::string& line, const char* part) {
    return line.find(part) != std::string::npos;
}

}  // namespace ZELKUtil
