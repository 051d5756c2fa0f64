// The bootloader's USB driver: the package's installer for the driver that matches its download
// tool, run the way the desktop starts a program, and waited for.
#include "controller/upgrade_controller.h"
#include "package/package_files.h"

namespace ZELKUtil {

void UpgradeController::InstallDrivers(std::int32_t wait, std::int32_t silent) {
    (void)RunDriverInstaller(wait, silent);
}

bool UpgradeController::RunDriverInstaller(std::int32_t wait, std::int32_t silent) {
    // The operating system's own architecture, not this program's.
    const bool x64 = nativeMachine_ == "x86_64";
    const std::string folder = state_.useDfuUtil != 0 ? PackageFiles::kDriverFolderLibusbk
                                                      : PackageFiles::kDriverFolderNxp;
    if (state_.diagOutput != 0) {
        view_.AppendText("\r\nInstalling Drivers: ");
        view_.AppendText(state_.useDfuUtil != 0 ? "libusbk" : "nxp");
    }

    StartRequest request;
    request.program =
        folder + (x64 ? PackageFiles::kDriverInstaller64 : PackageFiles::kDriverInstaller);
    request.arguments = {"/LM", "/F"};
    if (silent != 0) {
        request.arguments.emplace_back("/s");
    }
    request.mode = StartMode::Shell;
    request.onExit = [installing = state_.driversInstalling] {
        InstrallDrivers_Exited(*installing);
    };

    std::string reason;
    state_.driversProc = processes_.Start(request, &reason);
    if (!state_.driversProc) {
        view_.AppendText("\r\nError installing drivers. Please do so manually");
        return false;
    }
    *state_.driversInstalling = 1;
    if (wait != 0) {
        WaitForExit(*state_.driversProc);
        *state_.driversInstalling = 0;
        state_.driversInstalled = 1;
    }
    return true;
}

void UpgradeController::InstrallDrivers_Exited(std::atomic<std::int32_t>& driversInstalling) {
    driversInstalling = 0;
}

void UpgradeController::WaitForExit(ChildProcess& child) {
    // Waiting in slices on the clock keeps the window painting meanwhile.
    while (!child.HasExited()) {
        Wait(kChildPollMs);
    }
}

}  // namespace ZELKUtil
