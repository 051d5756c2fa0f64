#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ZELKSim {

// One word of a scenario line: a plain word, or a key=value pair.
struct Token {
    std::string key;  // for key=value
    std::string value;
    bool keyed = false;
};

using Tokens = std::vector<Token>;

// Splits a line into words: blanks separate them, double quotes hold blanks and escapes, a "#"
// that starts a word starts a comment, and an unquoted "=" makes the word a key=value pair.
// Returns "" or what is wrong with the line.
std::string Tokenize(std::string_view line, Tokens& tokens);

// Appends `text` to `out` with its escapes (\r \n \t \\ \" \xHH) resolved. Returns "" or what is
// wrong with an escape.
std::string Unescape(std::string_view text, std::string& out);

// A decimal or 0x-hexadecimal number, optionally negative, from `min` to `max`; none otherwise.
std::optional<std::int64_t> ParseInt(const std::string& text, std::int64_t min, std::int64_t max);

}  // namespace ZELKSim
