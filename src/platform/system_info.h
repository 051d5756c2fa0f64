#pragma once

#include <string>

namespace ZELKUtil {

// The operating system's own machine name (uname), such as "x86_64"; "" when it cannot be had.
std::string NativeMachine();

}  // namespace ZELKUtil
