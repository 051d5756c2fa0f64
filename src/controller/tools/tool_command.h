#pragma once

#include <string>
#include <vector>

#include "platform/process_service.h"

namespace ZELKUtil {

// One start of a package tool. Its arguments are listed once; the argument vector that starts the
// tool and the argument text that service mode shows are both made from that list, so the two
// never disagree.
class ToolCommand {
  public:
    ToolCommand(std::string program, StartMode mode);

    // Fixed options: passed and shown as they stand.
    ToolCommand& Options(const std::vector<std::string>& options);
    // A file name from the profile or the package: always exactly one argument, and one that
    // begins with '-' gets "./" in front, so that a crafted name cannot pass itself off as an
    // option. An empty name is shown but not passed.
    ToolCommand& File(const std::string& name);
    // "" means the package folder.
    ToolCommand& WorkingDirectory(std::string folder);
    // What the shown text begins with (DFUAPP's download text begins with a blank).
    ToolCommand& TextLead(std::string lead);

    const std::string& Program() const { return program_; }
    // The arguments joined by blanks, file names as the profile gives them.
    std::string ArgumentText() const;
    StartRequest Request() const;

  private:
    struct Argument {
        std::string text;
        bool file;
    };

    std::string program_;
    StartMode mode_;
    std::string workingDirectory_;
    std::string lead_;
    std::vector<Argument> arguments_;
};

}  // namespace ZELKUtil
