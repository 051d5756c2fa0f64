#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ZELKUtil::Hid {

// Decodes UTF-8 into wide characters. Each malformed sequence (a stray byte, a truncated or
// over-long sequence, a surrogate, a value past U+10FFFF) becomes one U+FFFD, so text that a
// device or driver wrote badly still reads, and no byte is read past the end.
std::wstring DecodeUtf8(std::string_view text);

// UTF-16 code units that the text needs (malformed sequences counted as U+FFFD, one unit each).
std::size_t Utf16Units(std::string_view text);

// Copies text into buffer, cut to maxlen - 1 characters and terminated. False when maxlen is 0
// (there is no room for the terminator); the buffer is untouched then.
bool CopyTerminated(const std::wstring& text, wchar_t* buffer, std::size_t maxlen);

}  // namespace ZELKUtil::Hid
