// The poll: the one decision procedure. Each poll finds where the box is (normal mode, bootloader,
// FPGA programmer, or absent), tells the operator, and takes the next step of an upgrade. Nothing
// but the controller state, the check boxes and labels, and the device handle link one poll to the
// next.
#include "controller/upgrade_controller.h"
#include "controller/version_match.h"
#include "device/zelk.h"

namespace ZELKUtil {

void UpgradeController::TimerCheck_Tick() {
    view_.StopTimer();
    CheckForZELK();
    view_.StartTimer();
}

void UpgradeController::Main_OnDeviceChange() {
    CheckForZELK();
}

void UpgradeController::CheckForZELK() {
    // A poll requested while one runs (a timer tick or a device change during a wait) does
    // nothing at all: in particular it never repeats the FPGA run's completion step below.
    if (state_.checking_currently != 0) {
        return;
    }
    if (state_.diagOutput != 0) {
        ServiceBookkeeping();
    }
    if (state_.currently_programming_fpga != 0 && FpgaPollStep()) {
        return;
    }

    // Guard and error state.
    if (state_.checking_currently != 0 || state_.currently_programming_fpga != 0) {
        return;
    }
    if (state_.error_occurred != 0) {
        view_.SetText(Control::DeviceLabel, "Error occurred, please restart.");
        return;
    }
    state_.checking_currently = 1;

    if (!Connect()) {
        return;
    }
    Countdown();

    std::string status;
    bool bootloaderReady = false;
    bool programmerMode = false;
    if (!ProbeModes(status, bootloaderReady, programmerMode)) {
        return;
    }

    // Eye indicator, in service mode, for the model that has eyes.
    if (state_.current_profile && state_.current_profile->id == "Q750" &&
        view_.Shown(Control::LabelEye)) {
        const std::string event = device_.CheckEvent();
        if (!event.empty() && event.find("Eye") != std::string::npos) {
            view_.SetText(Control::LabelEye, event);
        }
    }

    // Status line; the connection line is already in the label and is not written twice.
    if (!status.empty() && view_.Text(Control::DeviceLabel).find(status) == std::string::npos) {
        view_.SetText(Control::DeviceLabel, status);
        view_.AppendText("\r\n" + status);
    }

    // Completion: the box reports the package's version after a download.
    if (!state_.version.empty() && UpToDate(state_.version)) {
        if (state_.arm_just_programmed != 0) {
            status = "Upgrade Complete";
            state_.arm_just_programmed = 0;
        }
        if (!status.empty() && state_.prevStatus.find(status) == std::string::npos) {
            view_.AppendText("\r\n");
            view_.AppendText("\r\n" + status);
            state_.prevStatus = status;
        }
    }

    // Bootloader start. The check boxes stay ticked: they carry the request into the polls that
    // find the box in its bootloader.
    if (state_.connected != 0 &&
        (state_.force_bootloader != 0 || view_.Checked(Control::CheckProgramArm) ||
         view_.Checked(Control::CheckProgramFPGA))) {
        state_.force_bootloader = 0;
        (void)device_.StartBootloader();
        state_.operation_underway = 1;
        Wait(3000);
    }

    // Bootloader dispatch: the FPGA comes first; its programmer firmware replaces the ARM run of
    // this poll.
    if (bootloaderReady) {
        if (view_.Checked(Control::CheckProgramFPGA)) {
            if (!DownloadFpgaProgrammer()) {
                return;
            }
        } else if (view_.Checked(Control::CheckProgramArm)) {
            if (!state_.current_profile) {
                view_.AppendText("\r\nZELK type not known, please select manually");
                view_.SetChecked(Control::CheckProgramArm, false);
            } else if (!RunArmDownload()) {
                return;
            }
        }
    }

    // Programmer dispatch.
    if (programmerMode && view_.Checked(Control::CheckProgramFPGA)) {
        StartFpgaProgramming();
    }

    state_.checking_currently = 0;
}

void UpgradeController::ServiceBookkeeping() {
    if (!state_.lastDriversInstalling) {
        state_.lastDriversInstalling = state_.driversInstalling.load();
    }
    if (state_.driversInstalling == 0 && *state_.lastDriversInstalling == 1) {
        view_.AppendText("\r\nDriver Installation Finished");
        state_.driversInstalled = 1;
    }
    state_.driversInstalling = 0;
    state_.driversProc.reset();
}

bool UpgradeController::Connect() {
    if (state_.connected != 0) {
        // A connected box has gone once it no longer gives its product string.
        if (device_.GetManufacturer().empty()) {
            state_.connected = 0;
            state_.version.clear();
        }
        return true;
    }
    if (!state_.profiles) {
        return true;
    }
    // Only the first profile whose IDs open is ever used in one poll.
    for (const ZelkProfile& profile : *state_.profiles) {
        device_.setPid(profile.pid);
        device_.setVid(profile.vid);
        if (device_.Open() == 0) {
            continue;
        }
        state_.version = device_.GetVersion();
        if (state_.version.empty()) {
            view_.SetText(Control::DeviceLabel, "\r\nWaiting for response...");
            device_.Close();
            break;
        }
        state_.connected = 1;
        const std::string product = device_.GetManufacturer();
        if (product.empty()) {
            break;
        }

        const ZelkProfile* match = nullptr;
        for (const ZelkProfile& candidate : *state_.profiles) {
            if (candidate.name == product) {
                match = &candidate;
                break;
            }
        }
        if (match != nullptr) {
            state_.current_profile = *match;
            view_.SetText(Control::LabelMode, match->id);
            // The entry of exactly this display name: with "ZELK" and "ZELK Q750" in the list a
            // prefix match could pick the other variant, whose image would then be flashed.
            const int index = match->type ? view_.ComboFindExact(*match->type) : -1;
            if (index != view_.ComboSelectedIndex()) {
                view_.SetComboSelectedIndex(index);
                // The selection handler takes the first profile of that display name; the box
                // named this one.
                state_.current_profile = *match;
            }
        }

        const std::string line = CurrentModel() + " Version:      " + state_.version;
        view_.SetText(Control::DeviceLabel, line);
        view_.AppendText("\r\n" + line);
        state_.prevStatus = line;
        state_.operation_underway = 0;

        if (match == nullptr) {
            view_.AppendText("\r\nWrong upgrade package. Please contact Orvanta");
            view_.SetChecked(Control::CheckProgramArm, false);
            view_.SetChecked(Control::CheckProgramFPGA, false);
            state_.checking_currently = 0;
            return false;
        }

        if (UpToDate(state_.version)) {
            if (state_.arm_just_programmed == 0) {
                view_.AppendText("\r\n");
                view_.AppendText("\r\nNo Upgrade Required");
            }
            view_.SetChecked(Control::CheckProgramArm, false);
            view_.SetChecked(Control::CheckProgramFPGA, false);
        } else if (state_.upgradeMode == auto_upgrade) {
            if (state_.driversInstalled == 0) {
                view_.AppendText("\r\nInstalling Drivers...");
                InstallDrivers(1, 0);
                Wait(3000);
            }
            view_.AppendText("\r\nStarting the upgrade in: 5..");
            state_.startCountDown = 5;
            Wait(1000);
        }
        break;
    }
    return true;
}

void UpgradeController::Countdown() {
    if (state_.connected == 0 || state_.startCountDown == 0) {
        // A box that vanishes cancels the countdown.
        state_.startCountDown = 0;
        return;
    }
    --state_.startCountDown;
    view_.AppendText(std::to_string(state_.startCountDown) + "..");
    if (state_.startCountDown == 0) {
        // A package without ARM images starts what it can program: its FPGA.
        const bool fpgaOnly = state_.armImagePresent == 0 && state_.fpgaImagePresent > 0;
        view_.SetChecked(fpgaOnly ? Control::CheckProgramFPGA : Control::CheckProgramArm, true);
    }
}

bool UpgradeController::ProbeModes(std::string& status, bool& bootloaderReady,
                                   bool& programmerMode) {
    if (!device_.GetManufacturer().empty()) {
        return true;
    }
    if (device_.CheckForFpgaProg() != 0) {
        status = "ZELK in fpga programming mode";
        programmerMode = true;
        return true;
    }
    std::int32_t code = device_.CheckForBootloader();
    if (code == 0) {
        // The driver may still be coming up: look once more. A code that changed meanwhile is
        // acted on like a first answer.
        Wait(3000);
        code = device_.CheckForBootloader();
        if (code == 0) {
            view_.AppendText("\r\nWaiting for Driver...");
        }
    }
    switch (code) {
        case 0:
            return true;
        case 1:
            InstallWrongDrivers();
            state_.checking_currently = 0;
            return false;
        case 2:
        case 3:
            // The NXP driver (2) serves DFUAPP, the package's libusbK driver (3) serves dfu-util.
            if ((code == 3) == (state_.useDfuUtil != 0)) {
                status = "ZELK in programming mode";
                bootloaderReady = true;
            } else {
                InstallWrongDrivers();
            }
            return true;
        default:
            if (state_.operation_underway == 0) {
                view_.SetText(Control::DeviceLabel, "No device found");
            }
            state_.connected = 0;
            state_.checking_currently = 0;
            return false;
    }
}

void UpgradeController::InstallWrongDrivers() {
    view_.AppendText("\r\nIncorrect Drivers Loaded, installing new drivers...");
    InstallDrivers(1, 0);
    Wait(3000);
}

bool UpgradeController::UpToDate(const std::string& boxVersion) const {
    return PackageHasVersion(PackageVersionLine(view_.Text(Control::TextUpgradeVersion)),
                             boxVersion);
}

std::string UpgradeController::CurrentModel() const {
    // Without any profile that could be made current the box is named by its family.
    return state_.current_profile ? state_.current_profile->id : std::string("ZELK");
}

}  // namespace ZELKUtil
