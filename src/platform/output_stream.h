#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/line_buffer.h"

namespace ZELKUtil {

// The captured output of a child, read through the pipe each platform provides and split into
// lines and single characters by one LineBuffer: read by the caller, or handed once to a reader
// thread, after which it reads as ended. The pipe is read only when it has something and only while
// no line (or character) is waiting, so at most one piece of a line and one read's worth are ever
// held, whatever the child prints. One thread at a time uses it.
class OutputStream {
  public:
    // The read end of the child's pipe, as the platform reads it.
    class Pipe {
      public:
        virtual ~Pipe() = default;
        // Reads what the pipe holds now into buffer without waiting: the number of bytes read, 0
        // when nothing is there yet, nullopt at the end of output. A failed read counts as the
        // end, since nothing more can come from the pipe.
        virtual std::optional<std::size_t> ReadNow(char* buffer, std::size_t size) = 0;
        // Blocks until the pipe has something or has ended; false when waiting failed (taken as
        // the end).
        virtual bool Await() = 0;
    };

    // No pipe (output not captured) reads as ended from the start.
    explicit OutputStream(std::unique_ptr<Pipe> pipe);

    // Whether ReadLine (ReadChar) would answer without waiting.
    bool LineReady();
    bool CharReady();
    // The next line without its end (see LineBuffer); nullopt at the end of output. Blocks until
    // LineReady.
    std::optional<std::string> ReadLine();
    // The next character as the child wrote it (see LineBuffer); -1 at the end. Blocks until
    // CharReady.
    int ReadChar();

    // Hands each line still to come (those already split off first) to onLine on a reader thread
    // of its own, then calls onEnd there; from then on this stream reads as ended. A line that
    // onLine cannot take yet (it answers false) is offered again after a short pause, so the
    // reader holds one line at most. The thread owns what it reads and may outlive the child's
    // object. Without a thread the lines cannot be read without blocking the caller: the output is
    // then noted as ended at once, so that nobody waits for lines that never come. Only the first
    // call counts.
    void Deliver(std::function<bool(const std::string&)> onLine, std::function<void()> onEnd);

  private:
    // Takes what the pipe holds now, until a line (or a character) is waiting.
    void Pull(bool forLine);
    void Await();

    std::unique_ptr<Pipe> pipe_;
    LineBuffer lines_;
    bool ended_ = false;
    bool delivered_ = false;
};

}  // namespace ZELKUtil
