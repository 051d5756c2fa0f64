#include "app/log_lines.h"

namespace ZELKUtil {

std::string LogLines(std::string_view text, bool& pendingCr, std::string_view lineBreak) {
    std::string shown;
    for (char c : text) {
        if (pendingCr) {
            pendingCr = false;
            if (c == '\n') {
                shown += lineBreak;
                continue;
            }
        }
        if (c == '\r') {
            pendingCr = true;
        } else if (c == '\n') {
            shown += lineBreak;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace ZELKUtil
