#pragma once

#include <string>

namespace ZELKUtil {

// Appends one character in UTF-8. A value that is no character (a surrogate, or beyond U+10FFFF)
// is written as the replacement character U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace ZELKUtil
