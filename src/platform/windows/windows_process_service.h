#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/process_service.h"

namespace ZELKUtil {

// Starts the package's programs as child processes on Windows.
//
// The program is named by its full path (never looked up in PATH); a relative program or working
// directory is taken relative to the package folder. Direct starts use CreateProcessW, each in a
// process group of its own, standard input from NUL; a DirectRedirected child's standard output
// goes to a pipe and it gets no console window, its standard error stays the utility's. Only the
// handles meant for the child are inherited. Shell starts go through ShellExecuteExW, as the
// desktop starts a program: its own window, the elevation prompt of an installer that asks for
// one. Nothing ends a child with the utility: children outlive it.
//
// Each child is watched by a thread of its own that runs the request's onExit when it ends.
class WindowsProcessService final : public ProcessService {
  public:
    // A relative package folder is taken relative to the current directory at each start.
    explicit WindowsProcessService(std::string packageFolder);

    Result<std::unique_ptr<ChildProcess>> Start(const StartRequest& request) override;

  private:
    std::string packageFolder_;
};

// The command-line text of a program and its arguments, quoted so that the C runtime's parser
// (CommandLineToArgvW) gives back exactly these words: every file name is one argument, whatever
// blanks, quotes or backslashes it holds.
std::wstring CommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

}  // namespace ZELKUtil
