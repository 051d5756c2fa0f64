#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZELKUtil::Cli {

// One thing that happened to one box, as a JSON line on standard output (--json) and as the
// human line on a terminal. Every event names the box by its port.
struct BoxEvent {
    enum class Kind {
        Found,     // a box is present: mode, and model, serial and version where the mode tells
        State,     // what the box is doing now: "waiting", "counting down", "bootloader", ...
        Progress,  // percent done and an estimate of the seconds left
        Log,       // one line of the box's log, exactly as the window would show it
        Result,    // how the box's run ended
        Decision,  // whether the box in its bootloader or programmer mode is written into, and why
        Tool,      // a line a tool wrote to its error stream while it worked on the box
    };
    Kind kind = Kind::Log;
    std::string port;
    // Found: "normal", "bootloader" or "programmer".
    std::string mode;
    std::string model;    // the profile's id, when known
    std::string serial;   // when known
    std::string version;  // the box's firmware version, when known
    // Found: whether the box already has the package's version (only for a box in normal mode).
    std::optional<bool> upToDate;
    // Found: what an upgrade would make of the box, told before it is touched: one of the
    // verdicts below.
    std::string verdict;
    // State: the state's name; Log and Tool: the line; Result: "upgraded", "up-to-date",
    // "failed", "interrupted" or "stopped".
    std::string text;
    // Tool: the program's file name ("dfu-util").
    std::string tool;
    // Progress.
    int percent = 0;
    std::optional<std::int64_t> secondsLeft;
    // Decision: run or hold, the work it is about, and why.
    std::optional<bool> run;
    std::string work;
    std::string reason;
};

inline constexpr const char* kVerdictUpToDate = "up to date";
inline constexpr const char* kVerdictUpgradeDue = "needs an upgrade";
// The box names no profile of the package: the upgrade would fail it (FailReason::WrongPackage).
inline constexpr const char* kVerdictWrongPackage = "wrong package";
// The box says no version, or is not in its normal mode: nothing can be told before its upgrade.
inline constexpr const char* kVerdictUnknown = "unknown";

// What the upgrade would make of a box in normal mode, in its own order: the product first (does
// it name a profile of the package?), then the version (unset: the box gave none).
const char* VerdictOf(bool namesAProfile, std::optional<bool> upToDate);

// The event as one JSON object on one line, without the line end: {"event":"found","port":...}.
std::string ToJsonLine(const BoxEvent& event);
// The event back from such a line; nullopt when the line is not one.
std::optional<BoxEvent> FromJsonLine(const std::string& line);
// The event as a human reads it: "1-2: Q750 Version:      2.01", every control character but the
// tab shown as "?".
std::string ToHumanLine(const BoxEvent& event);

}  // namespace ZELKUtil::Cli
