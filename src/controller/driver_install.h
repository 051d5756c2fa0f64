#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "controller/run_seams.h"

namespace ZELKUtil {

// The bootloader's USB driver: the package's installer for the driver that matches its download
// tool, run the way the desktop starts a program, and waited for.
class DriverInstall {
  public:
    // nativeMachine: the operating system's machine name as uname reports it ("x86_64" picks the
    // 64-bit installer).
    DriverInstall(RunSeams seams, const std::string& nativeMachine)
        : s_(seams), nativeMachine_(nativeMachine) {}

    // wait: block until the installer has ended; silent: without its own pages. False when the
    // installer could not be started.
    bool Run(std::int32_t wait, std::int32_t silent);
    // The installer's exit notification. It may run on another thread after the controller is
    // gone, so it is given the shared flag rather than the run.
    static void InstrallDrivers_Exited(std::atomic<std::int32_t>& driversInstalling);

  private:
    RunSeams s_;
    const std::string& nativeMachine_;
};

}  // namespace ZELKUtil
