#pragma once

#include <string>
#include <vector>

#include "package/zelk_profile.h"

namespace ZELKUtil {

struct ProfileFileResult {
    bool loaded = false;                // false: the file could not be loaded or parsed, see error
    std::string error;                  // the reader's message text when !loaded
    std::vector<ZelkProfile> profiles;  // one per "detail" element, read or not, in document order
};

// Reads the profile file: every element named "detail" (case as written) at any depth, in document
// order, each turned into a profile whatever its Read returned.
ProfileFileResult ReadProfileFile(const std::string& path);
// The same for the file's content; the path only names it in messages.
ProfileFileResult ParseProfileFile(const std::string& content, const std::string& path);

}  // namespace ZELKUtil
