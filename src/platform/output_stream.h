#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace ZELKUtil {

// The captured standard output of a child, read through a reader that each platform provides:
// the text read but not handed out yet, given out as lines or single characters from the same
// buffer, so the two kinds of reading can be mixed freely. One thread at a time uses it.
class OutputStream {
  public:
    // Reads the next piece of output into buffer: the number of bytes read, 0 at the end of the
    // output. A failed read counts as the end, since nothing more can come from the pipe.
    using Reader = std::function<std::size_t(char* buffer, std::size_t size)>;

    explicit OutputStream(Reader reader) : reader_(std::move(reader)) {}

    // The next line without its end; nullopt at the end of output. A line ends at CR, LF or
    // CR LF. A line end is returned as soon as its CR is seen (a progress line redrawn with CR
    // must not wait for more output); the LF of a CR LF is dropped when it comes, even in a later
    // read.
    std::optional<std::string> ReadLine();
    // The characters as the child wrote them, except the LF of a CR LF whose CR already ended a
    // line; -1 at the end. A CR handed out here still ends the line for ReadLine, so a following
    // LF does not make an empty line.
    int ReadChar();
    // Whether a read would answer from what is buffered: text is waiting or the end was seen.
    bool Buffered() const { return next_ < buffer_.size() || ended_; }

  private:
    enum class AfterCr { Nothing, LineEnded, CharGiven };

    // Called when everything read has been handed out. False at the end of output.
    bool Fill();

    Reader reader_;
    std::string buffer_;
    std::size_t next_ = 0;
    bool ended_ = false;
    AfterCr afterCr_ = AfterCr::Nothing;
};

}  // namespace ZELKUtil
