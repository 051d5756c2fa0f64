#include "controller/upgrade_controller.h"

#include <cctype>

#include "device/zelk.h"
#include "package/package_findings.h"

namespace ZELKUtil {

UpgradeController::UpgradeController(ControllerSeams seams)
    : view_(seams.view),
      clock_(seams.clock),
      device_(seams.device),
      processes_(seams.processes),
      packageFolder_(std::move(seams.packageFolder)),
      nativeMachine_(std::move(seams.nativeMachine)),
      reader_(view_, clock_),
      runSeams_{view_,        clock_,
                processes_,   reader_,
                state_,       packageFolder_,
                dfuUtilPort_, events_,
                roadPort_,    [this] { return BootloaderStillHere(); }},
      armDownload_(runSeams_),
      fpgaRun_(runSeams_),
      driverInstall_(runSeams_, nativeMachine_) {
    view_.SetComboSelectionHandler([this] { ComboZelkType_SelectedIndexChanged(); });
    state_.ledger.TellTo(events_);
}

bool UpgradeController::BootloaderStillHere() {
    const std::int32_t code = device_.CheckForBootloader();
    return code >= 0 && code <= 3 && (roadPort_.empty() || device_.BootloaderPort() == roadPort_);
}

void UpgradeController::InitializeApplication() {
    const PackageFindings package = ReadPackageFindings(packageFolder_);
    ShowPackageVersion(package);
    LoadProfiles(package);
    if (OfferUsableProfiles(package) > 1) {
        view_.SetText(Control::LabelMode, "ZELK");
        view_.SetShown(Control::ComboZelkType, true);
    }
    SetUpgradeMode();
    ChooseDownloadTool(package);
}

void UpgradeController::ShowPackageVersion(const PackageFindings& package) {
    // Held nowhere but in the label's text, which the poll compares against.
    if (package.version) {
        view_.SetText(Control::TextUpgradeVersion, "Upgrade Version: " + *package.version);
    } else {
        view_.SetText(Control::TextUpgradeVersion, "Can't find upgrade version");
    }
}

void UpgradeController::LoadProfiles(const PackageFindings& package) {
    // The list exists from here on, even when the file cannot be read.
    state_.profiles = package.profiles;
    if (!package.profileError.empty()) {
        view_.AppendText("\r\n");
        view_.AppendText("\r\nError loading config file");
        view_.AppendText(package.profileError);
        view_.AppendText("\r\n");
    }
    // Those profiles are not offered; the operator hears why, and whom to tell.
    if (!package.outside.empty()) {
        view_.AppendText(OperatorTexts::kPackageError);
        for (std::string outside : package.outside) {
            outside.front() =
                static_cast<char>(std::toupper(static_cast<unsigned char>(outside.front())));
            view_.AppendText("\r\n" + outside);
        }
        view_.AppendText("\r\n");
    }
}

int UpgradeController::OfferUsableProfiles(const PackageFindings& package) {
    state_.armImagePresent = package.armImages;
    state_.fpgaImagePresent = package.fpgaImages;
    int usable = 0;
    for (std::size_t i = 0; i < package.profiles.size(); ++i) {
        if (!package.usable[i]) {
            continue;
        }
        const ZelkProfile& profile = package.profiles[i];
        ++usable;
        view_.SetText(Control::LabelMode, profile.id);
        state_.current_profile = profile;
        // A profile without a display name is usable and current but cannot be listed.
        std::string refused;
        (void)view_.AddComboItem(profile.type, &refused);
    }
    return usable;
}

void UpgradeController::SetUpgradeMode() {
    // By the images found. Without any image the boxes stay as the window built them.
    const bool arm = state_.armImagePresent > 0;
    const bool fpga = state_.fpgaImagePresent > 0;
    const auto setBox = [this](Control box, bool shown, bool enabled) {
        view_.SetShown(box, shown);
        view_.SetChecked(box, false);
        view_.SetEnabled(box, enabled);
    };
    if (arm && fpga) {
        setBox(Control::CheckProgramArm, true, true);
        setBox(Control::CheckProgramFPGA, true, true);
        view_.SetShown(Control::buttonRestart, true);
        view_.SetShown(Control::ButtonDiag, true);
        state_.upgradeMode = manual_upgrade;
    } else if (fpga) {
        setBox(Control::CheckProgramArm, false, false);
        setBox(Control::CheckProgramFPGA, true, true);
    } else if (arm) {
        setBox(Control::CheckProgramArm, false, true);
        setBox(Control::CheckProgramFPGA, false, false);
    }
}

void UpgradeController::ChooseDownloadTool(const PackageFindings& package) {
    if (package.dfuUtil) {
        state_.useDfuUtil = 1;
    } else if (!package.dfuApp) {
        view_.AppendText("\r\nDamaged upgrade package. Please obtain new copy from Orvanta");
    }
}

void UpgradeController::ComboZelkType_SelectedIndexChanged() {
    if (view_.ComboSelectedIndex() < 0 || !state_.profiles) {
        return;
    }
    const std::string chosen = view_.ComboSelectedItem();
    // The first profile of that display name, usable or not, in file order.
    for (const ZelkProfile& profile : *state_.profiles) {
        if (profile.type == chosen) {
            state_.current_profile = profile;
            return;
        }
    }
}

void UpgradeController::Dispose() {
    device_.Close();
}

}  // namespace ZELKUtil
