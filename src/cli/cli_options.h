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
    // Whether --package named it: list then uses no package at all rather than a folder that is
    // none.
    bool packageGiven = false;
    bool json = false;
    // The history file; "" means the per-user default.
    std::string history = {};
    // The boxes named: those on the ports named with --port and those whose serial --serial
    // names (the union), each in order, without repeats; none named means every box (list,
    // check, history) or, for upgrade, --all.
    std::vector<std::string> ports = {};
    std::vector<std::string> serials = {};
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
    // -q: only how each box ended (and the table), none of the steps of its road.
    bool quiet = false;
    // upgrade: who works, and where, as the history's records keep it; the station defaults to
    // the host name ("" here), the operator is left out when not named.
    std::string station = {};
    std::string operatorName = {};
    // history: the history files to read together (none: --history's or the per-user one), and
    // the records to show: by result, from a time on; as CSV rather than a table.
    std::vector<std::string> historyFiles = {};
    std::vector<std::string> results = {};
    std::string since = {};
    bool csv = false;
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

// The options the parser takes for a command (the program's own with none), global ones
// included, each as its spellings ("-v", "--verbose"); for the help and the shell completion.
std::vector<std::vector<std::string>> OptionSpellings(std::optional<Command> command);

}  // namespace ZELKUtil::Cli
