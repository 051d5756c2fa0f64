#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ZELKUtil {

// What a window's log shows of appended text, which is kept exactly as appended elsewhere: a
// CR LF pair (also one split across two appends) or a lone LF becomes the toolkit's line break; a
// lone CR, such as a tool's redrawn progress line leaves, shows as nothing. A line that grows on
// and on (progress marks) is shown in lines of kMaxShownLine characters: laying out a line costs
// its whole length at every append, which would add up without end. The log wraps its lines
// anyway, so only where a row breaks changes.
class LogLines {
  public:
    static constexpr std::size_t kMaxShownLine = 1024;

    std::string Shown(std::string_view text, std::string_view lineBreak);
    void Reset() { *this = LogLines(); }

  private:
    // A CR at the end of the last append: the next append's first LF belongs to it.
    bool pendingCr_ = false;
    // Characters of the line shown last.
    std::size_t lineLength_ = 0;
};

}  // namespace ZELKUtil
