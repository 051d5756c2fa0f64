#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "box/emulated_box.h"
#include "scenario/scenario_world.h"

namespace ZELKSim {

// A scenario of the command-line program on a bench of boxes: the boxes on their ports, the
// program's command line, what happens to a box when the program prints a line, and what must
// come out. The boxes' runs are threads in real time (run fast), so a bench scenario ties what
// happens to what the program says, never to a time.
struct BenchScenario {
    struct Box {
        std::string port;
        std::string version;
        std::string product = "ZELK Q750";
        std::string serial;  // "" keeps the emulated box's own
        // The FPGA's IDCODE and checksum as the STAPL player reads them (a KR FPGA, blank).
        std::uint32_t idcode = 0x029121CF;
        std::uint16_t checksum = 0xFFFF;
        bool plugged = true;
        // The mode it is plugged in: a box an earlier run left in its bootloader, say.
        BoxMode mode = BoxMode::Normal;
    };
    // When a line of standard output for the port (any port: "*") holds the text: the box on
    // `target` is unplugged or plugged in normal mode, or Ctrl+C is pressed ("stop"), or the box
    // on the port is swapped for another ("swap VERSION": another serial and that firmware, in
    // normal mode, with no moment between), or the history breaks ("history-breaks": its file
    // becomes a folder, so that every later write fails). Once each; of several with the same port
    // and text, each takes the next line that holds it, in order. A JSON line (--json) holds the
    // text when a string field other than its port does; with `fields` instead of a text, only a
    // JSON line whose fields have those values matches (see WhenMatches).
    struct When {
        std::string port;
        std::string text;
        std::vector<std::pair<std::string, std::string>> fields;
        std::string action;
        std::string target;
        std::string version;  // swap: the firmware of the box put in its place
    };
    struct Expect {
        int line = 0;
        // "exit", "port" (the port's lines, each without its "PORT: "), "result", "errors",
        // "history" (a record a line: "PORT RESULT BEFORE AFTER", "-" for a version not known).
        std::string what;
        std::string port;
        std::vector<std::string> lines;
    };

    PackageContents package;
    // What the history file holds before the run, as it is (no line end is added).
    std::optional<std::string> history;
    // The version a download gives a box ("" = the package's).
    std::string newVersion;
    std::vector<Box> boxes;
    std::vector<When> whens;
    // The program's arguments; the package and the history are the scenario's own.
    std::vector<std::string> arguments;
    std::vector<Expect> expects;
};

struct BenchScenarioParse {
    BenchScenario scenario;
    int errorLine = 0;
    std::string error;
};

BenchScenarioParse ParseBenchScenario(std::string_view text);

// Whether a line of the program's standard output is the one a `when` line waits for: a human
// line "PORT: ..." that holds the text, or a JSON object line whose "port" is the port and one of
// whose other string fields holds the text, or whose fields are those `fields` names (a string
// field its text exactly, any other value its JSON text, as "50" or "true").
bool WhenMatches(const BenchScenario::When& when, const std::string& line);

struct BenchPlay {
    // Each line as the program prints it, standard output to `out` and its error stream to
    // `err`, rather than all of it after the run.
    bool live = false;
    // The run's own time (the sped-up clock's, not the wall clock's) it may take; past it, Ctrl+C
    // is pressed and the scenario fails. 0: no limit.
    std::int64_t timeLimitMs = std::int64_t{10} * 60 * 1000;
};

// Plays a bench scenario file. What the program printed goes to `out`, each expectation that did
// not hold to `err` with the file and line. Returns a ScenarioExit.
int RunBenchScenarioFile(const std::string& path, const BenchPlay& play, std::ostream& out,
                         std::ostream& err);

// A bench scenario's run played with --json, for a reader of the program's JSON stream: what it
// printed and its exit code. The scenario's "when" lines act on each event's human line, so that
// the run goes as the scenario has it; its expectations, which are the human output's, are not
// checked. `problem` says why a scenario could not be played.
struct BenchJsonPlay {
    int exitCode = 0;
    std::vector<std::string> out;
    std::vector<std::string> err;
    std::string problem;
};
BenchJsonPlay PlayBenchScenarioAsJson(const std::string& path);

}  // namespace ZELKSim
