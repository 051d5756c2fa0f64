#pragma once

#include <string>
#include <string_view>

namespace ZELKUtil {

// What a window's log shows of appended text, which is kept exactly as appended elsewhere: a
// CR LF pair (also one split across two appends: a CR at the end stays pending in *pendingCr until
// the next append) or a lone LF becomes the toolkit's line break; a lone CR, such as a tool's
// redrawn progress line leaves, shows as nothing.
std::string LogLines(std::string_view text, bool& pendingCr, std::string_view lineBreak);

}  // namespace ZELKUtil
