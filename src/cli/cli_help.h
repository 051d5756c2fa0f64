#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace ZELKUtil::Cli {

// One option as the help tells it: its spellings, the word for its value ("" for a flag), and
// what it does in plain words.
struct OptionHelp {
    std::vector<std::string> spellings;
    std::string value;
    std::string text;
};

// The options of a command (the program's own with none), without the ones every command takes.
const std::vector<OptionHelp>& CommandOptionsHelp(std::optional<Command> command);
// The options every command takes.
const std::vector<OptionHelp>& GlobalOptionsHelp();

// The whole help of a command (of the program with none): what it does, how it is called, every
// option it takes in plain words (the global ones included), its exit statuses and an example.
std::string HelpText(std::optional<Command> command);

// The command's name on the command line.
const char* CommandName(Command command);

}  // namespace ZELKUtil::Cli
