#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "cli/port_claim.h"
#include "cli/run_lines.h"
#include "hid/box_platform.h"
#include "platform/clock.h"

namespace ZELKUtil::Cli {

class StopRequests;

// What zelk-cli needs of the system it runs on. The programs fill it with the real one; the
// document examples' test with a bench of emulated boxes, so that both run the very same entry.
struct CliPlatform {
    std::string version;
    std::ostream& out;
    std::ostream& err;
    // An environment variable ("" when unset).
    std::function<std::string(const std::string&)> env;
    // Whether standard output is a terminal that takes cursor movements, as the system tells it
    // (asked only for a run that may draw progress lines).
    std::function<bool()> outputIsTerminal;
    // Whether TERM says what the terminal is (POSIX): there, a terminal without TERM is taken for
    // a dumb one. On Windows TERM is mostly unset and the console answers for itself.
    bool termNamesTerminal = true;
    std::string host;
    std::string nativeMachine;
    // Now, in UTC, as ISO 8601 text.
    std::function<std::string()> utcNow;
    Clock& clock;
    // A transport, probe and process service for the package, for one box's run.
    std::function<std::unique_ptr<BoxPlatform>(const std::string& package)> newPlatform;
    // Whether a port's name is dfu-util's -p path (see BenchSeams).
    bool portsAreDfuUtilPaths = false;
    // Whether the per-user history lives where Windows keeps it.
    bool windowsPaths = false;
    // Claims a port for this process; unset, nothing is claimed.
    std::function<std::unique_ptr<PortClaim>(const std::string& port, std::string* why)> claimPort;
    // Where Ctrl+C and its kind reach the run: the program's signal or console handler asks it.
    StopRequests& stops;
    // Now, in milliseconds since 1970-01-01T00:00:00Z: the time of each JSON line.
    std::function<std::int64_t()> utcNowMs = SystemUtcMs;
};

// zelk-cli from its command line to its exit code: --help and --version on standard output, a
// wrong command line on the error stream with its exit code, else the bench runner's run.
int RunCli(int argc, const char* const* argv, CliPlatform& platform);

}  // namespace ZELKUtil::Cli
