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

Result<std::optional<InstallerOutcome>> DriverInstall::Run(std::int32_t wait, std::int32_t silent) {
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
    if (wait == 0) {
        return std::optional<InstallerOutcome>{};
    }
    s_.reader.WaitForExit(*state.driversProc);
    *state.driversInstalling = 0;
    state.driversInstalled = 1;
    const std::optional<std::uint32_t> code = state.driversProc->ExitCode();
    if (!code) {
        return std::optional<InstallerOutcome>{};
    }
    return std::optional<InstallerOutcome>{ReadInstallerExitCode(*code)};
}

void DriverInstall::InstrallDrivers_Exited(std::atomic<std::int32_t>& driversInstalling) {
    driversInstalling = 0;
}

}  // namespace ZELKUtil
