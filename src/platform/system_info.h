#pragma once

#include <string>

namespace ZELKUtil {

// The operating system's own machine name, such as "x86_64": uname's on Linux; on Windows the
// native architecture, named alike (code 9, x64, is "x86_64"). "" when it cannot be had.
std::string NativeMachine();

}  // namespace ZELKUtil
