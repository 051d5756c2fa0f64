// The controller's side of the box ledger: who ticked the check boxes, the one decision per poll
// for a box in its bootloader or programmer mode, and carrying it out. The ledger decides; this
// file asks it, tells the decision, and starts the run or says why nothing starts.
#include "controller/operator_texts.h"
#include "controller/upgrade_controller.h"
#include "controller/version_match.h"
#include "controller/waits.h"
#include "device/zelk.h"

namespace ZELKUtil {

void UpgradeController::NoticeOperatorTicks() {
    BoxLedger::Ticks& ticks = state_.ledger.ticks;
    const bool arm = view_.Checked(Control::CheckProgramArm);
    const bool fpga = view_.Checked(Control::CheckProgramFPGA);
    if ((arm && !ticks.seenArm) || (fpga && !ticks.seenFpga)) {
        // Ticked since the last poll: by the operator, whose choice it is.
        ticks.automaticFor.reset();
    }
    if (fpga && !ticks.seenFpga) {
        state_.ledger.NewFpgaJob();
    }
}

void UpgradeController::RememberTicks() {
    BoxLedger::Ticks& ticks = state_.ledger.ticks;
    WithdrawOtherRoadsTicks();
    ticks.seenArm = view_.Checked(Control::CheckProgramArm);
    ticks.seenFpga = view_.Checked(Control::CheckProgramFPGA);
    if (!ticks.seenArm && !ticks.seenFpga) {
        ticks.automaticFor.reset();
    }
}

bool UpgradeController::AnythingTicked() const {
    return view_.Checked(Control::CheckProgramArm) || view_.Checked(Control::CheckProgramFPGA);
}

void UpgradeController::TickAutomatically(const std::string& port) {
    view_.SetChecked(AutomaticRunBox(), true);
    state_.ledger.ticks.automaticFor = port;
}

void UpgradeController::WithdrawOtherRoadsTicks() {
    // What a road ticked by itself belongs to the box of that road and ends with it: never a
    // restart or a download for the next box, on this port or another.
    BoxLedger& ledger = state_.ledger;
    const bool otherBox = ledger.ticks.automaticFor && state_.connected != 0 &&
                          *ledger.ticks.automaticFor != connectedPort_;
    if (!otherBox && !ledger.AutomaticTicksOutlived()) {
        return;
    }
    ledger.ticks.automaticFor.reset();
    view_.SetChecked(Control::CheckProgramArm, false);
    view_.SetChecked(Control::CheckProgramFPGA, false);
}

Control UpgradeController::AutomaticRunBox() const {
    // A package without ARM images starts what it can program: its FPGA.
    const bool fpgaOnly = state_.armImagePresent == 0 && state_.fpgaImagePresent > 0;
    return fpgaOnly ? Control::CheckProgramFPGA : Control::CheckProgramArm;
}

int UpgradeController::BoxesOnBus() {
    const auto ids = NormalModeIds(state_.profiles.value_or(std::vector<ZelkProfile>{}));
    return static_cast<int>(device_.BoxPorts(ids).size());
}

void UpgradeController::DecideFor(const std::string& port, bool programmerMode, bool driverReady) {
    Situation situation;
    situation.port = port;
    situation.programmerMode = programmerMode;
    situation.driverReady = driverReady;
    situation.armTicked = view_.Checked(Control::CheckProgramArm);
    situation.fpgaTicked = view_.Checked(Control::CheckProgramFPGA);
    situation.automaticMode = state_.upgradeMode == auto_upgrade;
    situation.packageHasImages = !PackageWithoutImages();
    situation.packageHasVersion =
        !PackageVersionLine(view_.Text(Control::TextUpgradeVersion)).empty();
    situation.fpgaRoad = AutomaticRunBox() == Control::CheckProgramFPGA;
    situation.boxesOnBus = BoxesOnBus();
    const Decision decision = state_.ledger.Decide(situation);
    const BoxRecord* record = state_.ledger.Find(port);
    if (decision.tickAutomatically) {
        // The box this run was upgrading, back in its bootloader by itself (its download was cut
        // short, or it was unplugged during its restart), has nothing ticked in automatic mode
        // and no control to go on with: it gets what the countdown would have ticked.
        state_.current_profile = record->profile;
        TickAutomatically(port);
    }
    if (decision.run && state_.ledger.ticks.automaticFor == port && record != nullptr &&
        record->profile) {
        // What the road ticked runs with the profile the box named on this port.
        state_.current_profile = record->profile;
    }
    if (decision.visitLine) {
        SayTell(decision.tell);
    }
    decision_ = decision;
}

void UpgradeController::SayTell(Decision::Tell tell) {
    switch (tell) {
        case Decision::Tell::Nothing:
            return;
        case Decision::Tell::SeveralBoxes:
            view_.AppendText(OperatorTexts::kSeveralBoxes);
            return;
        case Decision::Tell::KeepsLeaving:
            view_.AppendText(OperatorTexts::kBoxKeepsLeaving);
            return;
        case Decision::Tell::PackageError:
            runSeams_.PackageError();
            return;
        case Decision::Tell::ReplugForArm:
            view_.AppendText(OperatorTexts::kReplugForArm);
            return;
    }
}

PollFlow UpgradeController::Dispatch() {
    if (!decision_) {
        return PollFlow::GoOn;
    }
    const Decision decision = *std::exchange(decision_, std::nullopt);
    if (!decision.run) {
        if (!decision.visitLine) {
            SayTell(decision.tell);
        }
        return decision.tell == Decision::Tell::PackageError && !decision.visitLine
                   ? PollFlow::Ended
                   : PollFlow::GoOn;
    }
    const bool automatic = state_.upgradeMode == auto_upgrade;
    switch (decision.work) {
        case Work::ProgrammerFirmware: {
            const DownloadOutcome sent = fpgaRun_.DownloadProgrammer();
            if (sent == DownloadOutcome::NotStarted) {
                return PollFlow::Ended;
            }
            state_.ledger.ProgrammerFirmwareSent(decision.port, automatic);
            return PollFlow::GoOn;
        }
        case Work::ArmDownload:
            return RunArmDownload(decision.port);
        case Work::FpgaProgramming:
            if (fpgaRun_.StartProgramming(state_.ledger.MayErase(decision.port)) ==
                FpgaRun::Started::Erase) {
                state_.ledger.EraseStarted(decision.port);
            }
            return PollFlow::GoOn;
        case Work::Nothing:
            break;
    }
    return PollFlow::GoOn;
}

PollFlow UpgradeController::RunArmDownload(const std::string& port) {
    if (!state_.current_profile) {
        view_.AppendText("\r\nZELK type not known, please select manually");
        view_.SetChecked(Control::CheckProgramArm, false);
        state_.ledger.Failed(port, Reason::ModelUnknown);
        return PollFlow::GoOn;
    }
    const std::optional<DownloadOutcome> outcome = armDownload_.Run();
    if (!outcome) {
        return PollFlow::GoOn;
    }
    state_.ledger.DownloadEnded(port, *outcome, state_.upgradeMode == auto_upgrade);
    return *outcome == DownloadOutcome::NotStarted ? PollFlow::Ended : PollFlow::GoOn;
}

void UpgradeController::InstallDrivers(std::int32_t wait, std::int32_t silent) {
    const auto ran = driverInstall_.Run(wait, silent);
    if (!ran) {
        (void)state_.ledger.GiveUpInstaller(roadPort_);
        return;
    }
    if (!ran.value()) {
        return;
    }
    // The installer's own pages may have gone unread: the log says what its exit code says, once
    // in the box's visit.
    const InstallerOutcome& outcome = *ran.value();
    if (outcome.failed && state_.ledger.GiveUpInstaller(roadPort_)) {
        view_.AppendText("\r\nThe driver installer failed (driver packages not installed: " +
                         std::to_string(outcome.notInstalled) +
                         "). Please install the driver manually");
    }
    if (outcome.restartNeeded && state_.ledger.TellRestart(roadPort_)) {
        view_.AppendText("\r\nRestart Windows to finish the driver installation");
    }
}

void UpgradeController::InstallWrongDrivers() {
    // An installer that could not be started, or that reported a failed installation, is not
    // tried again in this bootloader visit: the operator has been told to install the driver by
    // hand, and on Windows each start is a wizard that holds the window.
    if (!state_.ledger.InstallerMayRun(bootloaderPort_)) {
        return;
    }
    // Runs that each said they installed the driver, and it is still the wrong one: no further
    // run would do better.
    if (!state_.ledger.InstallerMayRunAgain(bootloaderPort_)) {
        if (state_.ledger.GiveUpInstaller(bootloaderPort_)) {
            view_.AppendText(OperatorTexts::kInstallerChangedNothing);
        }
        return;
    }
    view_.AppendText("\r\nIncorrect Drivers Loaded, installing new drivers...");
    InstallDrivers(1, 0);
    clock_.SleepMs(Waits::kAfterDriverInstallMs);
}

}  // namespace ZELKUtil
