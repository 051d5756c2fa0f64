#pragma once

#include <string>

namespace ZELKUtil {

// UTF-8, the program's own text, to and from the UTF-16 of the Windows calls. A malformed sequence
// becomes U+FFFD rather than losing the rest of the text.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace ZELKUtil
