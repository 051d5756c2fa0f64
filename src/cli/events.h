#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace ZELKUtil::Cli {

// How a box's run ended: one name each, which the JSON stream, the human lines, the history and
// the summary share.
enum class BoxResult {
    Upgraded,     // it has the package's version (and, with FPGA images, its FPGA programmed)
    UpToDate,     // it had the package's version and needed nothing
    Failed,       // the package, a tool, its FPGA or a bound of the road stopped it
    Interrupted,  // it left the bus mid-road, or another box took its place
    Stopped,      // Ctrl+C came before the next step of its road
    LeftAlone,    // nothing was written into it: not a box this run may upgrade by itself
};
const char* ResultName(BoxResult result);
std::optional<BoxResult> ResultNamed(const std::string& name);
// The box has what the package holds for it.
inline bool Succeeded(BoxResult result) {
    return result == BoxResult::Upgraded || result == BoxResult::UpToDate;
}

// What a box is doing now, as its state events and the progress board tell it.
enum class BoxState {
    Waiting,
    Connected,
    CountingDown,
    Restarting,
    InBootloader,
    Downloading,
    RestartingWithNewFirmware,
    InProgrammer,
    DownloadingProgrammer,
    ErasingFpga,
    ProgrammingFpga,
    Unplugged,
    WaitingForBox,
    WaitingForInstaller,
};
const char* StateName(BoxState state);
std::optional<BoxState> StateNamed(const std::string& name);

// How far a box's road has got, as its history record keeps it: a box left in its bootloader or
// programmer mode is known as the record's box by a later run only when the bootloader request
// was on the disk before it went out.
enum class RoadMark { Recognised, SentToBootloader, ArmWritten, InProgrammer };
const char* MarkName(RoadMark mark);
std::optional<RoadMark> MarkNamed(const std::string& name);

enum class BoxMode { Normal, Bootloader, Programmer };
const char* ModeName(BoxMode mode);

// What a road writes or wrote into a box: "ARM", "FPGA", "ARM and FPGA", or "" for nothing.
std::string WrittenText(bool arm, bool fpga);

// One thing that happened to one box, as a JSON line on standard output (--json) and as the
// human line on a terminal. Every event names the box by its port.
namespace Events {

// A box is present: its mode, and its model, serial and version where the mode tells; what an
// upgrade would make of it (`verdict`), told before it is touched.
struct Found {
    std::string port;
    BoxMode mode = BoxMode::Normal;
    std::string model = {};  // the profile's id, when known
    std::string serial = {};
    std::string version = {};
    // Whether the box already has the package's version (only for a box in normal mode that
    // gave its version).
    std::optional<bool> upToDate = {};
    std::string verdict = {};
    std::string product = {};  // the product string the box tells in normal mode
    bool operator==(const Found&) const = default;
};
struct State {
    std::string port;
    BoxState state = BoxState::Waiting;
    bool operator==(const State&) const = default;
};
// The whole road's percent done, and an estimate of the seconds left.
struct Progress {
    std::string port;
    int percent = 0;
    std::optional<std::int64_t> secondsLeft;
    bool operator==(const Progress&) const = default;
};
// The ARM download's own progress, a quarter at a time, where the tool's bar tells its length.
struct Download {
    std::string port;
    int percent = 0;
    bool operator==(const Download&) const = default;
};
// One line of the box's log, exactly as the window would show it.
struct Log {
    std::string port;
    std::string text;
    bool operator==(const Log&) const = default;
};
// A line a tool wrote to its error stream while it worked on the box.
struct Tool {
    std::string port;
    std::string tool;  // the program's file name ("dfu-util")
    std::string text;
    bool operator==(const Tool&) const = default;
};
// What the controller decided for the box, and why: told when it runs something, and a hold when
// it begins or its reason changes.
struct Decision {
    std::string port;
    bool run = false;
    std::string work;  // "count down", "ARM download", ...
    std::string reason;
    bool operator==(const Decision&) const = default;
};
// A box met in its bootloader or programmer mode is known all the same, and its road goes on:
// the box an earlier run's record left there (that run, and how long ago), or the one the
// operator named (with the model a record gave, where it named another).
struct Resumed {
    std::string port;
    std::string model;
    std::string serial = {};
    std::string run = {};
    std::optional<std::int64_t> ageSeconds = {};
    bool byOperator = false;
    std::string recordedModel = {};
    bool operator==(const Resumed&) const = default;
};
// How the box's road ended, with the version it has after it and what was written into it.
struct Ended {
    std::string port;
    BoxResult result = BoxResult::Failed;
    std::string reason = {};  // for anything but a success
    std::string version = {};
    bool arm = false;
    bool fpga = false;
    bool operator==(const Ended&) const = default;
};

}  // namespace Events

using BoxEvent =
    std::variant<Events::Found, Events::State, Events::Progress, Events::Download, Events::Log,
                 Events::Tool, Events::Decision, Events::Resumed, Events::Ended>;
const std::string& PortOf(const BoxEvent& event);

inline constexpr const char* kVerdictUpToDate = "up to date";
inline constexpr const char* kVerdictUpgradeDue = "needs an upgrade";
// The box names no profile of the package: the upgrade would fail it.
inline constexpr const char* kVerdictWrongPackage = "wrong package";
// The box says no version, or is not in its normal mode: nothing can be told before its upgrade.
inline constexpr const char* kVerdictUnknown = "unknown";

// What the upgrade would make of a box in normal mode, in its own order: the product first (does
// it name a profile of the package?), then the version (unset: the box gave none).
const char* VerdictOf(bool namesAProfile, std::optional<bool> upToDate);

// What every line of a run's JSON stream carries besides its event: when it was written (UTC, to
// the millisecond: "2026-12-08T17:04:56.123Z") and the run's id. Each is left out when empty.
struct LineStamp {
    std::string time = {};
    std::string run = {};
};

// The event as one JSON object on one line, without the line end:
// {"event":"found","port":"1-2","time":...,"run":...,"mode":...}.
std::string ToJsonLine(const BoxEvent& event, const LineStamp& stamp = {});
// The event back from such a line, with or without its stamp; nullopt when the line is not one.
// A line without a time is read as the lines before the stamp were written: the decision's flag
// and the resumed record's run were both "run" then.
std::optional<BoxEvent> FromJsonLine(const std::string& line);
// The event as a human reads it: "1-2: counting down", every control character but the tab shown
// as "?"; nothing for an event that has no human line (the progress, which only a terminal's board
// shows). `verbose` (-v) adds the window's log lines, marked as the window's ("1-2: [window] ..."),
// so that none reads as the box's end, and the controller's decisions.
std::optional<std::string> ToHumanLine(const BoxEvent& event, bool verbose = false);

}  // namespace ZELKUtil::Cli
