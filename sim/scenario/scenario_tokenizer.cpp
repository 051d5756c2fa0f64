#include "scenario/scenario_tokenizer.h"

#include <algorithm>
#include <charconv>

namespace ZELKSim {
namespace {

// Takes the escape at text[i] (a backslash) into out. Returns "" or what is wrong with it.
std::string TakeEscape(std::string_view text, std::size_t& i, std::string& out) {
    if (i + 1 >= text.size()) {
        return "a backslash ends the text";
    }
    const char c = text[i + 1];
    switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'x': {
            unsigned value = 0;
            const char* begin = text.data() + i + 2;
            const char* end = text.data() + std::min(text.size(), i + 4);
            const auto [ptr, ec] = std::from_chars(begin, end, value, 16);
            if (ec != std::errc() || ptr != end || end - begin != 2) {
                return "\\x needs two hex digits";
            }
            out += static_cast<char>(value);
            i += 4;
            return "";
        }
        default:
            return std::string("unknown escape \\") + c;
    }
    i += 2;
    return "";
}

// Takes text[i...] into out, escapes resolved, up to the end of the text or, when `quoted`, up to
// and past the closing double quote. Returns "" or what is wrong with it.
std::string TakeText(std::string_view text, std::size_t& i, std::string& out, bool quoted) {
    while (i < text.size()) {
        if (quoted && text[i] == '"') {
            ++i;
            return "";
        }
        if (text[i] == '\\') {
            if (std::string error = TakeEscape(text, i, out); !error.empty()) {
                return error;
            }
        } else {
            out += text[i++];
        }
    }
    return quoted ? "a quoted text is not closed" : "";
}

}  // namespace

std::string Unescape(std::string_view text, std::string& out) {
    std::size_t i = 0;
    return TakeText(text, i, out, false);
}

std::string Tokenize(std::string_view line, Tokens& tokens) {
    std::size_t i = 0;
    const auto blank = [&](std::size_t at) { return line[at] == ' ' || line[at] == '\t'; };
    while (true) {
        while (i < line.size() && blank(i)) {
            ++i;
        }
        if (i == line.size() || line[i] == '#') {
            return "";
        }
        Token token;
        std::string current;
        bool quoted = false;
        while (i < line.size() && !blank(i)) {
            const char c = line[i];
            if (c == '"') {
                ++i;
                if (std::string error = TakeText(line, i, current, true); !error.empty()) {
                    return error;
                }
                quoted = true;
            } else if (c == '=' && !token.keyed && !quoted) {
                token.keyed = true;
                token.key = std::move(current);
                current.clear();
                ++i;
            } else {
                current += c;
                ++i;
            }
        }
        token.value = std::move(current);
        tokens.push_back(std::move(token));
    }
}

std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t min, std::int64_t max) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::int64_t value = 0;
    const auto [ptr, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace ZELKSim
