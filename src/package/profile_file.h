#pragma once

#include <string>
#include <vector>

#include "package/zelk_profile.h"
#include "platform/result.h"

namespace ZELKUtil {

// Reads the profile file: one profile per element named "detail" (case as written) at any depth, in
// document order, each turned into a profile whatever its Read returned. The error of a file that
// cannot be loaded or parsed names the file; its Text() is the message the log shows.
Result<std::vector<ZelkProfile>> ReadProfileFile(const std::string& path);
// The same for the file's content; the path only names it in messages.
Result<std::vector<ZelkProfile>> ParseProfileFile(const std::string& content,
                                                  const std::string& path);

}  // namespace ZELKUtil
