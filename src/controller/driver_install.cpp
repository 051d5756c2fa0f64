#include "controller/driver_install.h"

#include <optional>
#include <string>

#include "controller/tools/tool_command.h"
#include "package/package_files.h"

namespace ZELKUtil {

InstallerOutcome ReadInstallerExitCode(std::uint32_t code) {
    InstallerOutcome outcome;
    outcome.failed = (code & 0x80000000U) != 0;
    outcome.restartNeeded = (code & 0x40000000U) != 0;
    outcome.notInstalled = static_cast<int>((code >> 16) & 0xFFU);
    outcome.installed = static_cast<int>(code & 0xFFU);
    return outcome;
}

void DriverInstall::TellOutcome(ChildProcess& installer) {
    const std::optional<std::uint32_t> code = installer.ExitCode();
    if (!code) {
        return;
    }
    const InstallerOutcome outcome = ReadInstallerExitCode(*code);
    UpgradeState& state = s_.state;
    if (outcome.failed && !state.installerFailureTold) {
        s_.view.AppendText("\r\nThe driver installer failed (driver packages not installed: " +
                           std::to_string(outcome.notInstalled) +
                           "). Please install the driver manually");
        state.installerFailureTold = true;
    }
    if (outcome.restartNeeded && !state.installerRestartTold) {
        s_.view.AppendText("\r\nRestart Windows to finish the driver installation");
        state.installerRestartTold = true;
    }
}

Result<void> DriverInstall::Run(std::int32_t wait, std::int32_t silent) {
    UpgradeState& state = s_.state;
    // The operating system's own architecture, not this program's.
    const bool x64 = nativeMachine_ == "x86_64";
    const std::string folder =
        state.useDfuUtil != 0 ? PackageFiles::kDriverFolderLibusbk : PackageFiles::kDriverFolderNxp;
    if (state.diagOutput != 0) {
        s_.view.AppendText("\r\nInstalling Drivers: ");
        s_.view.AppendText(state.useDfuUtil != 0 ? "libusbk" : "nxp");
    }

    ToolCommand command(
        folder + (x64 ? PackageFiles::kDriverInstaller64 : PackageFiles::kDriverInstaller),
        StartMode::Shell);
    command.Options({"/LM", "/F"});
    if (silent != 0) {
        command.Options({"/s"});
    }
    StartRequest request = command.Request();
    request.onExit = [installing = state.driversInstalling] {
        InstrallDrivers_Exited(*installing);
    };

    auto started = s_.processes.Start(request);
    if (!started) {
        state.driversProc.reset();
        s_.view.AppendText("\r\nError installing drivers. Please do so manually");
        return started.error();
    }
    state.driversProc = std::move(started).value();
    *state.driversInstalling = 1;
    if (wait != 0) {
        s_.reader.WaitForExit(*state.driversProc);
        *state.driversInstalling = 0;
        state.driversInstalled = 1;
        TellOutcome(*state.driversProc);
    }
    return {};
}

void DriverInstall::InstrallDrivers_Exited(std::atomic<std::int32_t>& driversInstalling) {
    driversInstalling = 0;
}

}  // namespace ZELKUtil
