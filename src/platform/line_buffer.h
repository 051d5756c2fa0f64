#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ZELKUtil {

// Turns text that arrives in pieces into lines. A line ends at CR, LF or CR LF and is handed out
// without its end; a CR that ends a piece ends its line at once (a progress line redrawn with CR
// does not wait for more), and an LF that follows it in the next piece belongs to that line end.
class LineBuffer {
  public:
    void Append(std::string_view text) { buffer_ += text; }
    // The next complete line; with atEnd (nothing more will come) also a last line without an end.
    std::optional<std::string> TakeLine(bool atEnd);
    // Whether TakeLine would give a line without being told that the text has ended.
    bool HasLine() const;
    // Whether any character is waiting.
    bool HasText() const { return buffer_.size() > Skip(); }
    // The next character, or -1 when none is waiting.
    int TakeChar();

  private:
    // An LF right after a CR that ended the previous line belongs to that line end.
    std::size_t Skip() const { return afterCr_ && !buffer_.empty() && buffer_[0] == '\n' ? 1 : 0; }
    void DropSkipped();

    std::string buffer_;
    bool afterCr_ = false;
};

}  // namespace ZELKUtil
