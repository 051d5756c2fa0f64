#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/line_buffer.h"
#include "platform/result.h"

namespace ZELKUtil {

enum class StartMode {
    Shell,             // started as the desktop would start it: own window, nothing captured
    Direct,            // started directly, output not captured
    DirectRedirected,  // started directly, standard output captured for reading
};

struct StartRequest {
    // Relative to the package folder.
    std::string program;
    // The argument vector after the program name. Never passed through a shell.
    std::vector<std::string> arguments;
    // "" means the package folder.
    std::string workingDirectory;
    StartMode mode = StartMode::Direct;
    // Runs, on some thread, when the child has ended. Optional.
    std::function<void()> onExit;
    // When set, the child's error stream is captured and each of its lines is told here, on a
    // reader thread of its own, until the stream ends (the callee may outlive the child's object).
    // Unset, the child writes to this program's error stream. A program that the desktop starts
    // on Windows (StartMode::Shell) has a console of its own, and nothing of it is captured.
    std::function<void(const std::string&)> onErrorLine = {};
};

// A started child. Dropping the object neither stops the child nor waits for it: children outlive
// the utility.
//
// Output is read in lines (a line ends at CR, LF or CR LF and comes without its end; a line
// longer than kMaxLinePiece comes in pieces of that length) or in single characters, from one
// stream. LineReady and OutputReady never block: they take, without waiting, what the child has
// written so far, and hold no more of it than one piece needs, whatever the child prints. A caller
// that must not block (the window's thread) asks them first and waits in slices meanwhile.
class ChildProcess {
  public:
    static constexpr std::size_t kMaxLinePiece = LineBuffer::kMaxPiece;

    virtual ~ChildProcess() = default;
    // The next line of the captured output without its end; blocks until LineReady; nullopt at
    // the end of output.
    virtual std::optional<std::string> ReadLine() = 0;
    // The next single character of the captured output; blocks until OutputReady; -1 at the end
    // of output.
    virtual int ReadChar() = 0;
    // Whether ReadLine would answer at once: a whole line (or piece) is there, or the output has
    // ended.
    virtual bool LineReady() = 0;
    // Whether ReadChar would answer at once: a character is there, or the output has ended.
    virtual bool OutputReady() = 0;
    // Offers each further line to onLine on a reader thread, then calls onEnd there once the
    // output has ended and every line has been taken. onLine returns false when it cannot take the
    // line yet: the same line is offered again a little later, and meanwhile nothing more is read
    // from the child (which then waits when it writes more than a pipe holds). Call at most once,
    // instead of ReadLine/ReadChar.
    virtual void DeliverLines(std::function<bool(const std::string&)> onLine,
                              std::function<void()> onEnd) = 0;
    // Answers at once.
    virtual bool HasExited() = 0;
    // Blocks without a time limit.
    virtual void WaitForExit() = 0;
    // The child's exit code once it has exited (a POSIX child's exit status, 128 + the signal's
    // number for one that a signal ended); nullopt before, or when there is no process to ask (a
    // shell start that handed over none).
    virtual std::optional<std::uint32_t> ExitCode() = 0;
};

class ProcessService {
  public:
    virtual ~ProcessService() = default;
    // The started child, or why the program cannot be started.
    virtual Result<std::unique_ptr<ChildProcess>> Start(const StartRequest& request) = 0;
};

}  // namespace ZELKUtil
