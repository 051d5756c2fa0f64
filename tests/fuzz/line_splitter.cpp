// The line splitter against a plain reference that splits the whole text at once. The input is the
// text in pieces as reads would bring it: 0xFF ends a piece, and 0xFE with a count byte stands for
// that many KiB of 'x' (up to 136 KiB in all), so that lines longer than one piece are within
// reach.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/line_buffer.h"

namespace {

using ZELKUtil::LineBuffer;

void AddLine(std::vector<std::string>& lines, const std::string& line) {
    if (line.empty()) {
        lines.emplace_back();
    }
    for (std::size_t at = 0; at < line.size(); at += LineBuffer::kMaxPiece) {
        lines.push_back(line.substr(at, LineBuffer::kMaxPiece));
    }
}

std::vector<std::string> ReferenceLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) {
            AddLine(lines, text.substr(at));
            break;
        }
        AddLine(lines, text.substr(at, end - at));
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces(1);
    std::size_t expanded = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) {
            pieces.emplace_back();
        } else if (data[i] == 0xFE && i + 1 < size) {
            const std::size_t kib = data[++i];
            if (expanded + kib <= 136) {
                expanded += kib;
                pieces.back().append(kib * 1024, 'x');
            }
        } else {
            pieces.back() += static_cast<char>(data[i]);
        }
    }
    std::string text;
    LineBuffer lines;
    LineBuffer chars;
    std::vector<std::string> got;
    // Characters alone come exactly as written.
    std::size_t charsGot = 0;
    for (const std::string& piece : pieces) {
        text += piece;
        lines.Append(piece);
        while (auto line = lines.TakeLine(false)) {
            got.push_back(std::move(*line));
        }
        chars.Append(piece);
        for (int c = chars.TakeChar(); c >= 0; c = chars.TakeChar()) {
            if (charsGot >= text.size() || static_cast<char>(c) != text[charsGot++]) {
                std::abort();
            }
        }
    }
    while (auto line = lines.TakeLine(true)) {
        got.push_back(std::move(*line));
    }
    // Lines as the reference splits them.
    if (got != ReferenceLines(text) || charsGot != text.size() || lines.Size() != 0) {
        std::abort();
    }
    return 0;
}
