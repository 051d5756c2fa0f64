#include "platform/utf8.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ZELKUtil {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The characters that draw nothing themselves but change how the text around them shows: Unicode's
// format characters (general category Cf, as of Unicode 15) with the line and paragraph
// separators. A right-to-left override can make a version read backwards, a zero-width space can
// make two names that differ look the same. Ranges in order, first and last included.
constexpr std::array<std::pair<char32_t, char32_t>, 21> kFormatCharacters = {{
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
}};

bool IsFormatCharacter(char32_t c) {
    // The first range that ends at or after c holds c if it also begins at or before it.
    const auto range = std::lower_bound(
        kFormatCharacters.begin(), kFormatCharacters.end(), c,
        [](const std::pair<char32_t, char32_t>& r, char32_t v) { return r.second < v; });
    return range != kFormatCharacters.end() && range->first <= c;
}

// Decodes the sequence at text[pos]; advances pos past it (past one byte when malformed).
char32_t DecodeOne(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80U) {
        ++pos;
        return lead;
    }
    if ((lead & 0xE0U) == 0xC0U) {
        extra = 1;
        value = lead & 0x1FU;
        minimum = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
        extra = 2;
        value = lead & 0x0FU;
        minimum = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
        extra = 3;
        value = lead & 0x07U;
        minimum = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (text.size() - pos <= extra) {
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0U) != 0x80U) {
            ++pos;
            return kReplacement;
        }
        value = (value << 6U) | (next & 0x3FU);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += extra + 1;
    return value;
}

bool IsLeadSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

bool IsTrailSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

template <typename Unit>
std::string FromUtf16(std::basic_string_view<Unit> text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]) & 0xFFFFU;
        if (IsLeadSurrogate(c) && i + 1 < text.size()) {
            const char32_t next = static_cast<char32_t>(text[i + 1]) & 0xFFFFU;
            if (IsTrailSurrogate(next)) {
                c = 0x10000 + ((c - 0xD800) << 10U) + (next - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return FromUtf16(text);
}

std::string WideToUtf8(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) < 4) {
        return FromUtf16(text);
    } else {
        std::string out;
        for (const wchar_t c : text) {
            AppendUtf8(out, static_cast<char32_t>(c));
        }
        return out;
    }
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t c = DecodeOne(text, pos);
        // A 16-bit wchar_t holds characters past U+FFFF as surrogate pairs.
        if (sizeof(wchar_t) < 4 && c > 0xFFFF) {
            const char32_t v = c - 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (v >> 10U)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FFU)));
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}

std::size_t Utf16Units(std::string_view text) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        units += DecodeOne(text, pos) > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::string OneLineText(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t c = DecodeOne(text, pos);
        const bool malformed =
            c == kReplacement && text.substr(start, pos - start) != "\xEF\xBF\xBD";
        if (malformed || c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsFormatCharacter(c)) {
            line += '?';
        } else {
            line.append(text.substr(start, pos - start));
        }
    }
    return line;
}

}  // namespace ZELKUtil
