#include "hid/wide_text.h"

#include <algorithm>
#include <cstdint>

namespace ZELKUtil::Hid {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

}  // namespace

std::wstring DecodeUtf8(std::string_view text) {
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

bool CopyTerminated(const std::wstring& text, wchar_t* buffer, std::size_t maxlen) {
    if (maxlen == 0) {
        return false;
    }
    const std::size_t count = std::min(text.size(), maxlen - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = L'\0';
    return true;
}

}  // namespace ZELKUtil::Hid
