// The box is known by its USB port. A firmware tool never writes into a box it has not recognised
// and never chooses between two boxes by chance: automatic downloads go only into the box this run
// recognised in normal mode, on the port it was connected on, with the profile it named then; no
// download or FPGA run starts while more than one box is on the bus; and the repeated steps of an
// upgrade are bounded per job, however often the box comes and goes.
#include "controller/operator_texts.h"
#include "controller/upgrade_controller.h"
#include "controller/version_match.h"
#include "device/zelk.h"

namespace ZELKUtil {

void UpgradeController::NoticeOperatorTicks() {
    const bool arm = view_.Checked(Control::CheckProgramArm);
    const bool fpga = view_.Checked(Control::CheckProgramFPGA);
    if ((arm && !state_.seenArmTick) || (fpga && !state_.seenFpgaTick)) {
        // Ticked since the last poll: by the operator, whose choice it is.
        state_.automaticTicks = false;
    }
    if (fpga && !state_.seenFpgaTick) {
        StartFpgaJob();
    }
}

void UpgradeController::RememberTicks() {
    state_.seenArmTick = view_.Checked(Control::CheckProgramArm);
    state_.seenFpgaTick = view_.Checked(Control::CheckProgramFPGA);
    if (!state_.seenArmTick && !state_.seenFpgaTick) {
        state_.automaticTicks = false;
    }
}

void UpgradeController::TickAutomatically() {
    view_.SetChecked(AutomaticRunBox(), true);
    state_.automaticTicks = true;
}

void UpgradeController::StartFpgaJob() {
    state_.programmerTries = 0;
    state_.fpgaErases = 0;
}

const UpgradeState::KnownBox* UpgradeController::UpgradingBoxOn(const std::string& port) const {
    for (const UpgradeState::KnownBox& known : state_.upgradingBoxes) {
        if (known.port == port) {
            return &known;
        }
    }
    return nullptr;
}

void UpgradeController::UpgradeBoxOn(const std::string& port, const ZelkProfile& profile) {
    ForgetUpgradingBoxOn(port);
    state_.upgradingBoxes.push_back({port, profile});
}

void UpgradeController::ForgetUpgradingBoxOn(const std::string& port) {
    std::erase_if(state_.upgradingBoxes,
                  [&port](const UpgradeState::KnownBox& known) { return known.port == port; });
}

bool UpgradeController::MayRunOn(const std::string& port) {
    if (SeveralBoxes()) {
        return false;
    }
    if (!state_.automaticTicks) {
        return true;  // the operator ticked: the profile is the operator's choice
    }
    // What the countdown ticked is for the box it counted down, and nothing else: another box
    // found in that mode gets nothing and no word.
    const UpgradeState::KnownBox* known = UpgradingBoxOn(port);
    if (known == nullptr) {
        return false;
    }
    state_.current_profile = known->profile;
    return true;
}

bool UpgradeController::SeveralBoxes() {
    const auto ids = NormalModeIds(state_.profiles.value_or(std::vector<ZelkProfile>{}));
    if (device_.BoxPorts(ids).size() <= 1) {
        state_.severalBoxesSaid = false;
        return false;
    }
    if (!state_.severalBoxesSaid) {
        view_.AppendText(OperatorTexts::kSeveralBoxes);
        state_.severalBoxesSaid = true;
    }
    return true;
}

void UpgradeController::NoteBootloaderFound(bool found) {
    // A bootloader on another port than the last one is another box's visit.
    if (found && (!state_.bootloaderVisit || state_.visitPort != bootloaderPort_)) {
        state_.visitPort = bootloaderPort_;
        state_.installerStartFailed = false;
        state_.installerFailureTold = false;
        state_.installerRestartTold = false;
        ResumeInBootloader();
    }
    if (found) {
        // "Boot" has been carried out; left set, it would send the box back here once upgraded.
        state_.force_bootloader = 0;
    }
    state_.bootloaderVisit = found;
}

void UpgradeController::ResumeInBootloader() {
    // The box this run was upgrading, back in its bootloader by itself (its download was cut
    // short, or it was unplugged during the countdown or its restart), has nothing ticked in
    // automatic mode and no control to go on with: it gets what the countdown would have ticked,
    // once per visit. Not a visit that "Boot" alone began, and not any other box.
    const bool bootBegun = std::exchange(state_.bootBegunVisit, false);
    const bool ticked =
        view_.Checked(Control::CheckProgramArm) || view_.Checked(Control::CheckProgramFPGA);
    if (state_.upgradeMode != auto_upgrade || ticked || bootBegun || PackageWithoutImages() ||
        PackageVersionLine(view_.Text(Control::TextUpgradeVersion)).empty() ||
        UpgradingBoxOn(bootloaderPort_) == nullptr) {
        return;
    }
    if (state_.interruptedDownloads >= kMaxInterruptedDownloads) {
        view_.AppendText(OperatorTexts::kBoxKeepsLeaving);
        return;
    }
    // Its download counts toward the bound like any other automatic one.
    if (state_.autoDownloads >= kMaxAutoDownloads) {
        runSeams_.PackageError();
        return;
    }
    state_.current_profile = UpgradingBoxOn(bootloaderPort_)->profile;
    TickAutomatically();
}

}  // namespace ZELKUtil
