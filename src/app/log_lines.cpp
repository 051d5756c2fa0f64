#include "app/log_lines.h"

namespace ZELKUtil {

std::string LogLines::Shown(std::string_view text, std::string_view lineBreak) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                shown += lineBreak;
                lineLength_ = 0;
                continue;
            }
        }
        if (c == '\r') {
            pendingCr_ = true;
            continue;
        }
        if (c == '\n') {
            shown += lineBreak;
            lineLength_ = 0;
            continue;
        }
        // Never inside a UTF-8 sequence: a break goes before a character's first byte only.
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
        if (!continuation && lineLength_ >= kMaxShownLine) {
            shown += lineBreak;
            lineLength_ = 0;
        }
        shown += c;
        if (!continuation) {
            ++lineLength_;
        }
    }
    return shown;
}

}  // namespace ZELKUtil
