#include "cli/cli_entry.h"

#include <ostream>
#include <utility>

#include "cli/bench_runner.h"
#include "cli/cli_options.h"
#include "cli/console_lines.h"
#include "cli/history.h"

namespace ZELKUtil::Cli {
namespace {

// A terminal that is not a dumb one takes the cursor movements of the progress lines; into a
// file or a pipe only the lines go.
bool TakesCursorMoves(CliPlatform& platform) {
    const std::string term = platform.env("TERM");
    if (term == "dumb" || (term.empty() && platform.termNamesTerminal)) {
        return false;
    }
    return platform.outputIsTerminal();
}

}  // namespace

int RunCli(int argc, const char* const* argv, CliPlatform& platform) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, platform.version);
    if (!parsed.options) {
        std::ostream& stream = parsed.exitCode == 0 ? platform.out : platform.err;
        stream << parsed.output << std::flush;
        return parsed.exitCode;
    }
    ConsoleLines console(platform.out, platform.err, parsed.options->command != Command::History);
    const std::string package = parsed.options->package;
    BenchSeams seams{
        platform.clock,
        [&platform, package] { return platform.newPlatform(package); },
        platform.nativeMachine,
        platform.host,
        platform.utcNow,
        [&console](const std::string& line) { console.Out(line); },
        [&console](const std::string& line) { console.Err(line); },
        platform.portsAreDfuUtilPaths,
        DefaultHistoryPath(platform.env, platform.windowsPaths),
        {},
        platform.claimPort,
    };
    if (TakesCursorMoves(platform)) {
        seams.terminal = [&console](const std::string& text) { console.Raw(text); };
    }
    seams.programVersion = "zelk-cli " + platform.version;
    seams.utcNowMs = platform.utcNowMs;
    // The standard streams write through the C library's (synchronised with it), so a flush
    // that the system refused (a closed pipe, a full disk) leaves the stream failed.
    seams.outTookAll = [&console] { return console.OutTookAll(); };
    BenchRunner runner(std::move(seams), *parsed.options, platform.stops.Stopping());
    platform.stops.TellWaitingBy([&runner] { return runner.Waiting(); });
    platform.stops.TellUnderwayBy([&runner](const std::string& why) { runner.NoteUnderway(why); });
    const int code = runner.Run();
    platform.stops.TellUnderwayBy({});
    platform.stops.TellWaitingBy({});
    return code;
}

}  // namespace ZELKUtil::Cli
