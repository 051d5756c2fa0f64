#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "controller/run_seams.h"
#include "platform/result.h"

namespace ZELKUtil {

// What the driver installer's exit code says. dpinst packs it as 0xWWXXYYZZ: in WW the flags
// 0x80 (a driver package could not be installed) and 0x40 (Windows must restart to finish), XX
// the packages that could not be installed, YY those only copied to the driver store, ZZ those
// installed. A plain exit status (the Linux installers' 0 or 1) sets no flag.
struct InstallerOutcome {
    bool failed = false;
    bool restartNeeded = false;
    int notInstalled = 0;
    int installed = 0;
};
InstallerOutcome ReadInstallerExitCode(std::uint32_t code);

// The bootloader's USB driver: the package's installer for the driver that matches its download
// tool, run the way the desktop starts a program, and waited for.
class DriverInstall {
  public:
    // nativeMachine: the operating system's machine name as uname reports it ("x86_64" picks the
    // 64-bit installer).
    DriverInstall(RunSeams seams, const std::string& nativeMachine)
        : s_(std::move(seams)), nativeMachine_(nativeMachine) {}

    // wait: block until the installer has ended; silent: without its own pages. What its exit
    // code says when it was waited for and gave one; the error that kept it from starting, if one
    // did (the operator is told in the log).
    Result<std::optional<InstallerOutcome>> Run(std::int32_t wait, std::int32_t silent);
    // The installer's exit notification. It may run on another thread after the controller is
    // gone, so it is given the shared flag rather than the run.
    static void InstrallDrivers_Exited(std::atomic<std::int32_t>& driversInstalling);

  private:
    RunSeams s_;
    const std::string& nativeMachine_;
};

}  // namespace ZELKUtil
