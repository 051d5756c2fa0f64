#include "controller/upgrade_controller.h"

#include "device/zelk.h"
#include "package/package_files.h"
#include "package/profile_file.h"
#include "package/version_file.h"
#include "platform/files.h"

namespace ZELKUtil {

UpgradeController::UpgradeController(ControllerSeams seams)
    : view_(seams.view),
      clock_(seams.clock),
      device_(seams.device),
      processes_(seams.processes),
      packageFolder_(std::move(seams.packageFolder)),
      nativeMachine_(std::move(seams.nativeMachine)),
      reader_(view_, clock_),
      runSeams_{view_,          clock_,       processes_, reader_,  state_,
                packageFolder_, dfuUtilPort_, events_,    roadPort_},
      armDownload_(runSeams_),
      fpgaRun_(runSeams_),
      driverInstall_(runSeams_, nativeMachine_) {
    view_.SetComboSelectionHandler([this] { ComboZelkType_SelectedIndexChanged(); });
}

void UpgradeController::InitializeApplication() {
    ReadPackageVersion();
    LoadProfiles();
    if (CheckImages() > 1) {
        view_.SetText(Control::LabelMode, "ZELK");
        view_.SetShown(Control::ComboZelkType, true);
    }
    SetUpgradeMode();
    ChooseDownloadTool();
}

void UpgradeController::ReadPackageVersion() {
    // Held nowhere but in the label's text, which the poll compares against.
    if (const auto line = ReadFirstLine(runSeams_.PackagePath(PackageFiles::kVersionFile))) {
        view_.SetText(Control::TextUpgradeVersion, "Upgrade Version: " + *line);
    } else {
        view_.SetText(Control::TextUpgradeVersion, "Can't find upgrade version");
    }
}

void UpgradeController::LoadProfiles() {
    // The list exists from here on, even when the file cannot be read.
    state_.profiles.emplace();
    auto file = ReadProfileFile(runSeams_.PackagePath(PackageFiles::kProfileFile));
    if (file) {
        *state_.profiles = std::move(file).value();
    } else {
        view_.AppendText("\r\n");
        view_.AppendText("\r\nError loading config file");
        view_.AppendText(file.error().Text());
        view_.AppendText("\r\n");
    }
}

int UpgradeController::CheckImages() {
    // A profile is usable when every image it names can be opened; images counted before a
    // missing one stay counted.
    state_.armImagePresent = 0;
    state_.fpgaImagePresent = 0;
    int usable = 0;
    const auto opens = [this](const std::string& name) {
        return Files::CanOpenForReading(runSeams_.PackagePath(name));
    };
    for (const ZelkProfile& profile : *state_.profiles) {
        if (!profile.LPC3131.empty()) {
            if (!opens(profile.LPC3131)) {
                continue;
            }
            ++state_.armImagePresent;
        }
        if (!profile.A3P060.empty()) {
            if (!opens(profile.A3P060)) {
                continue;
            }
            ++state_.fpgaImagePresent;
        }
        if (!profile.A3PN060.empty()) {
            if (!opens(profile.A3PN060)) {
                continue;
            }
            ++state_.fpgaImagePresent;
        }
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

void UpgradeController::ChooseDownloadTool() {
    if (Files::Exists(runSeams_.PackagePath(PackageFiles::kDfuUtil))) {
        state_.useDfuUtil = 1;
    } else if (!Files::Exists(runSeams_.PackagePath(PackageFiles::kDfuApp))) {
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
