#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ZELKUtil {

// Turns text that arrives in pieces into lines. A line ends at CR, LF or CR LF and is handed out
// without its end; a CR that ends a piece ends its line at once (a progress line redrawn with CR
// does not wait for more), and an LF that follows it, even in a later piece, belongs to that line
// end. A line longer than kMaxPiece is handed out in pieces of kMaxPiece characters, so that a
// reader never has to hold more than that to make progress.
//
// Lines and single characters are taken from the same text, so the two kinds of reading can be
// mixed: characters come as written, except the LF of a CR LF whose CR already ended a line; a CR
// taken as a character still ends the line for TakeLine, so its LF makes no empty line.
//
// Every operation costs time in proportion to what it hands out, not to what is buffered.
class LineBuffer {
  public:
    static constexpr std::size_t kMaxPiece = std::size_t{64} * 1024;

    void Append(std::string_view text);
    // The next complete line (or piece); with atEnd (nothing more will come) also a last line
    // without an end.
    std::optional<std::string> TakeLine(bool atEnd);
    // Whether TakeLine would give a line without being told that the text has ended.
    bool HasLine() const;
    // Whether TakeChar would give a character.
    bool HasText() const { return LineStart(false) < buffer_.size(); }
    // The next character, or -1 when none is waiting.
    int TakeChar();
    // The characters held and not handed out yet.
    std::size_t Size() const { return buffer_.size() - next_; }

  private:
    // What the text handed out last ended with, for the line end that may follow it.
    enum class After {
        Nothing,
        LineCr,  // a CR that ended a line: an LF right after it belongs to it
        CharCr,  // a CR handed out as a character: an LF right after it ends no line of its own
        Piece,   // a piece of a long line: a line end right after it ends that line
    };

    // Where the next line (forLine) or character begins once the line end that belongs to what
    // was handed out before is passed over, and what is then left of that state.
    std::size_t LineStart(bool forLine, After* after = nullptr) const;
    // The length of the line at `start` when it is complete (or a whole piece), else npos.
    std::size_t LineLength(std::size_t start) const;
    void Consume(std::size_t upTo);

    std::string buffer_;
    std::size_t next_ = 0;
    // From wherever the next line begins up to here, the text holds no line end.
    mutable std::size_t searched_ = 0;
    After after_ = After::Nothing;
};

}  // namespace ZELKUtil
