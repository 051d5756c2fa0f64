#include "platform/line_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace ZELKUtil {
namespace {

// Feeds the pieces one by one, taking every line that is complete after each, then the rest.
std::vector<std::string> Lines(const std::vector<std::string>& pieces) {
    LineBuffer buffer;
    std::vector<std::string> lines;
    for (const std::string& piece : pieces) {
        buffer.Append(piece);
        while (auto line = buffer.TakeLine(false)) {
            lines.push_back(*line);
        }
    }
    while (auto line = buffer.TakeLine(true)) {
        lines.push_back(*line);
    }
    return lines;
}

TEST(LineBuffer, LinesEndAtCrLfOrCrLfAndLongLinesComeInPieces) {
    constexpr std::size_t kMax = LineBuffer::kMaxPiece;
    const std::string big(kMax, 'x');
    const struct {
        std::vector<std::string> pieces;
        std::vector<std::string> lines;
    } cases[] = {
        {{"one\ntwo\r\nthree\rfour\n\nx\r", "\nlast"},
         {"one", "two", "three", "four", "", "x", "last"}},
        // The CR and the LF of one line end in separate pieces, then an empty line.
        {{"a\r", "\n", "\nb"}, {"a", "", "b"}},
        {{"a\r", "\r", "\n", "b"}, {"a", "", "b"}},
        {{big + "y\n"}, {big, "y"}},
        // A line exactly one piece long ends with its line end, even one that comes later.
        {{big, "\r", "\n\nz"}, {big, "", "z"}},
        {{big + big + "\n"}, {big, big}},
        {{"", "\n"}, {""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Lines(c.pieces), c.lines) << c.pieces.front().substr(0, 20);
    }

    LineBuffer held;
    held.Append(std::string(kMax - 1, 'y'));
    EXPECT_FALSE(held.HasLine());
    held.Append("y");
    EXPECT_TRUE(held.HasLine());
}

}  // namespace
}  // namespace ZELKUtil
