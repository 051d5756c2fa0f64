#pragma once

#include "platform/result.h"

namespace ZELKUtil {

// Applies the package-folder rule to this process at start-up (the program file from
// /proc/self/exe): changes the working directory when the rule says so. Windows' Explorer starts a
// program in its own folder, so only the Linux entry needs this.
Result<void> EnterPackageFolder();

}  // namespace ZELKUtil
