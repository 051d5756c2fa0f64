#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "controller/periods.h"

namespace ZELKUtil::Cli {

enum class Command { List, Check, Upgrade, History };

// What the command line asks for.
struct Options {
    Command command = Command::List;
    // The package folder; the working directory when not given.
    std::string package = ".";
    bool json = false;
    // The history file; "" means the per-user default.
    std::string history;
    // upgrade: the ports named with --port, in order, without repeats; or every box with --all.
    std::vector<std::string> ports;
    bool all = false;
    // upgrade: keep running and upgrade every box plugged in from now on; without a port named,
    // all is set too.
    bool watch = false;
    // upgrade: the longest one box's run may take before it ends "failed", in minutes: a box that
    // stops answering mid-road is never waited for without end.
    int timeoutMinutes = Periods::kRunLimitMinutes;
    // upgrade --as MODEL: the box in its bootloader or programmer mode on the one port named is
    // a box of this profile (its id), when nothing else tells who it is; "" when not given.
    std::string as = {};
    // -v: the window's own log lines too, marked as the window's, and the controller's decisions.
    bool verbose = false;
};

// Either the options, or what to print and the status to exit with (--help and --version print
// to standard output and exit 0; a usage error prints to the error stream and exits 64).
struct ParsedCommandLine {
    std::optional<Options> options;
    std::string output;
    int exitCode = kExitOk;
};

// Reads the command line (argv[0] is the program). Pure: nothing is printed or touched.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, const std::string& version);

}  // namespace ZELKUtil::Cli
