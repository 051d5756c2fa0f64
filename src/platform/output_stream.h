#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/line_buffer.h"

namespace ZELKUtil {

// The captured standard output of a child, read through the pipe calls that each platform
// provides, split into lines and single characters by one LineBuffer. The pipe is read only when
// it has something and only while no line (or character) is waiting, so at most one piece of a
// line and one read's worth are ever held, whatever the child prints. One thread at a time uses
// it.
class OutputStream {
  public:
    struct Pipe {
        // Reads what the pipe holds now into buffer without waiting: the number of bytes read, 0
        // when nothing is there yet, nullopt at the end of output. A failed read counts as the
        // end, since nothing more can come from the pipe.
        std::function<std::optional<std::size_t>(char* buffer, std::size_t size)> readNow;
        // Blocks until the pipe has something or has ended; false when waiting failed (taken as
        // the end).
        std::function<bool()> await;
    };

    explicit OutputStream(Pipe pipe) : pipe_(std::move(pipe)) {}

    // Whether ReadLine (ReadChar) would answer without waiting.
    bool LineReady();
    bool CharReady();
    // The next line without its end (see LineBuffer); nullopt at the end of output. Blocks until
    // LineReady.
    std::optional<std::string> ReadLine();
    // The next character as the child wrote it (see LineBuffer); -1 at the end. Blocks until
    // CharReady.
    int ReadChar();

  private:
    // Takes what the pipe holds now, until a line (or a character) is waiting.
    void Pull(bool forLine);
    void Await();

    Pipe pipe_;
    LineBuffer lines_;
    bool ended_ = false;
};

}  // namespace ZELKUtil
