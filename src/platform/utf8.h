#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program keeps text in UTF-8. These are its only conversions to and from the wide and UTF-16
// forms the system and devices use; a malformed sequence or a lone surrogate always becomes one
// U+FFFD, so text written badly still reads, and nothing is read past the end.
namespace ZELKUtil {

// Appends one character in UTF-8. A value that is no character (a surrogate, or beyond U+10FFFF)
// is written as the replacement character U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// UTF-16 to UTF-8, a surrogate pair as the one character it stands for.
std::string Utf16ToUtf8(std::u16string_view text);
// Wide text to UTF-8: UTF-16 where wchar_t has 16 bits (Windows), UTF-32 elsewhere.
std::string WideToUtf8(std::wstring_view text);

// UTF-8 to wide text; characters past U+FFFF as surrogate pairs where wchar_t has 16 bits.
std::wstring Utf8ToWide(std::string_view text);
// UTF-16 code units that the text needs.
std::size_t Utf16Units(std::string_view text);

// The text as one line that shows on a terminal as it is, whatever bytes it came with: every
// control character (C0 with tab, CR and LF, DEL, and C1, whether as bytes or as UTF-8), every
// Unicode format character (the bidirectional controls and marks, the zero-width characters, the
// soft hyphen, the tags and the other characters of category Cf), the line and paragraph
// separators U+2028/U+2029, and every byte that is no UTF-8 becomes "?". Nothing in it can move a
// cursor, start a line, reorder what follows it or hide itself between the characters around it.
std::string OneLineText(std::string_view text);

}  // namespace ZELKUtil
