#pragma once

#include <memory>
#include <string>

#include "platform/process_service.h"

namespace ZELKUtil {

// Starts the package's programs as child processes on POSIX.
//
// A program is always executed directly from its path (never through a shell and never looked up
// in PATH); a relative program path or working directory is taken relative to the package folder,
// and the program path is made absolute before the child changes its working directory. Every
// child runs in its own session with SIGPIPE ignored and standard input from /dev/null, so that it
// outlives the utility, is not hit by the terminal's Ctrl+C and does not die when nobody reads its
// output any more. No descriptor but 0, 1 and 2 reaches a child.
//
// Standard output and standard error are inherited by Shell and Direct children. A
// DirectRedirected child's standard output is captured; its standard error stays inherited, so a
// tool's error messages reach the operator's terminal instead of mixing with the output that is
// parsed.
//
// Every child is reaped by a waiter thread of its own as soon as it ends, so none is left as a
// zombie; the waiter remembers the end for HasExited and WaitForExit and then runs the request's
// onExit.
class PosixProcessService final : public ProcessService {
  public:
    // A relative package folder is taken relative to the current directory at each start.
    explicit PosixProcessService(std::string packageFolder);

    Result<std::unique_ptr<ChildProcess>> Start(const StartRequest& request) override;

  private:
    std::string packageFolder_;
};

}  // namespace ZELKUtil
