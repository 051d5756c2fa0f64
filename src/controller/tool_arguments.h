#pragma once

#include <string>

namespace ZELKUtil {

// A file name from the profile or the package as one argument of a tool: a name that begins with
// '-' gets "./" in front, so that a crafted name cannot pass itself off as an option.
inline std::string ToolFileArgument(const std::string& name) {
    return !name.empty() && name.front() == '-' ? "./" + name : name;
}

}  // namespace ZELKUtil
