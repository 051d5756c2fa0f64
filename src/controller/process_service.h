#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
};

// A started child. Dropping the object neither stops the child nor waits for it: children outlive
// the utility.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    // The next line of the captured output without its end (CR, LF or CR LF); blocks; nullopt at
    // the end of output.
    virtual std::optional<std::string> ReadLine() = 0;
    // The next single character of the captured output; -1 at the end of output.
    virtual int ReadChar() = 0;
    // Hands each further line to onLine on a reader thread, then calls onEnd there once the output
    // has ended. Call at most once, instead of ReadLine/ReadChar.
    virtual void DeliverLines(std::function<void(const std::string&)> onLine,
                              std::function<void()> onEnd) = 0;
    // Whether ReadLine or ReadChar would answer at once: output is waiting or has ended. Lets a
    // caller wait in slices that keep the window alive instead of blocking in a read.
    virtual bool OutputReady() = 0;
    // Answers at once.
    virtual bool HasExited() = 0;
    // Blocks without a time limit.
    virtual void WaitForExit() = 0;
};

class ProcessService {
  public:
    virtual ~ProcessService() = default;
    // Null and the reason in *error when the program cannot be started.
    virtual std::unique_ptr<ChildProcess> Start(const StartRequest& request,
                                                std::string* error) = 0;
};

}  // namespace ZELKUtil
