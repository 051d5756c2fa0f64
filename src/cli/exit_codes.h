#pragma once

// What zelk-cli's exit status says. 0 only when every box it was asked about came back with (or
// already had) the package's version; never 0 after a failure. Usage errors follow sysexits.
namespace ZELKUtil::Cli {

enum ExitCode : int {
    kExitOk = 0,
    // A box it was asked to upgrade failed, or was unplugged mid-run ("interrupted").
    kExitBoxFailed = 1,
    // check: a box present needs an upgrade (or cannot tell its version).
    kExitUpgradeDue = 2,
    // No box was found (none present, or none on the ports named).
    kExitNoBox = 3,
    // Ctrl+C: work that had started was finished, the rest left undone.
    kExitStopped = 4,
    // check: a box present cannot take this package (it names none of its profiles).
    kExitWrongPackage = 5,
    // The command line is wrong (sysexits EX_USAGE).
    kExitUsage = 64,
    // The package folder cannot be used: no version file, no usable profile, no download tool
    // (sysexits EX_NOINPUT).
    kExitPackage = 66,
    // A fault in the program itself ended the run (EX_SOFTWARE).
    kExitSoftware = 70,
    // The history file cannot be written; found out before any box is touched (EX_CANTCREAT).
    kExitHistory = 73,
    // history: a history file cannot be read, or its output cannot be written (EX_IOERR).
    kExitHistoryUnreadable = 74,
};

}  // namespace ZELKUtil::Cli
