// The poll: the one decision procedure. Each poll finds where the box is (normal mode, bootloader,
// FPGA programmer, or absent), tells the operator, and takes the next step of an upgrade. Nothing
// but the controller state, the check boxes and labels, and the device handle link one poll to the
// next.
#include "controller/operator_texts.h"
#include "controller/upgrade_controller.h"
#include "controller/version_match.h"
#include "controller/waits.h"
#include "device/zelk.h"

namespace ZELKUtil {

class UpgradeController::BusyScope {
  public:
    explicit BusyScope(std::int32_t& flag) : flag_(flag) { flag_ = 1; }
    ~BusyScope() { flag_ = 0; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    std::int32_t& flag_;
};

void UpgradeController::TimerCheck_Tick() {
    view_.StopTimer();
    CheckForZELK();
    view_.StartTimer();
}

void UpgradeController::Main_OnDeviceChange() {
    if (Busy()) {
        // Seen after the running work: the box may have just restarted into another mode.
        deviceChangePending_ = true;
        return;
    }
    CheckForZELK();
}

void UpgradeController::CheckForZELK() {
    // A poll requested while one runs, or while an operator's exchange with the box runs (a timer
    // tick or a device change during a wait), does nothing at all: it never repeats the FPGA
    // run's completion step and never touches the box's handle mid-exchange.
    if (Busy()) {
        return;
    }
    Poll();
    RunRememberedDeviceChanges();
}

void UpgradeController::RunRememberedDeviceChanges() {
    // Several changes during one piece of work make one poll.
    while (deviceChangePending_ && !Busy()) {
        deviceChangePending_ = false;
        Poll();
    }
}

void UpgradeController::ExchangeWithBox(void (UpgradeController::*action)()) {
    if (Busy()) {
        return;  // the operator's input waits while the window's thread is busy; never nested
    }
    {
        const BusyScope exchange(exchangeUnderway_);
        (this->*action)();
    }
    RunRememberedDeviceChanges();
}

void UpgradeController::Poll() {
    const BusyScope poll(state_.checking_currently);
    NoticeOperatorTicks();
    // A road whose work is done ends unless the operator ticked more for it since.
    state_.ledger.Settle(AnythingTicked());
    PollSteps();
    RememberTicks();
}

void UpgradeController::PollSteps() {
    decision_.reset();
    if (state_.diagOutput != 0) {
        ServiceBookkeeping();
    }
    if (state_.currently_programming_fpga != 0 && fpgaRun_.PollStep() == PollFlow::Ended) {
        return;
    }

    // Guard and error state.
    if (state_.currently_programming_fpga != 0) {
        return;
    }
    if (state_.error_occurred != 0) {
        view_.SetText(Control::DeviceLabel, "Error occurred, please restart.");
        state_.ledger.HoldInErrorState(roadPort_);
        return;
    }

    if (Connect() == PollFlow::Ended) {
        return;
    }
    Countdown();
    SayWhileBoxesWait();

    std::string status;
    if (ProbeModes(status) == PollFlow::Ended) {
        return;
    }

    ShowEyeEvent();
    ReportStatus(status);
    StartBootloaderIfAsked();
    (void)Dispatch();
}

void UpgradeController::ShowEyeEvent() {
    // In service mode, for the model that has eyes.
    if (state_.current_profile && state_.current_profile->id == "Q750" &&
        view_.Shown(Control::LabelEye)) {
        const std::string event = device_.CheckEvent();
        if (!event.empty() && event.find("Eye") != std::string::npos) {
            view_.SetText(Control::LabelEye, event);
        }
    }
}

void UpgradeController::ReportStatus(std::string status) {
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
            state_.ledger.Returned(connectedPort_, state_.version);
        }
        if (!status.empty() && state_.prevStatus.find(status) == std::string::npos) {
            view_.AppendText("\r\n");
            view_.AppendText("\r\n" + status);
            state_.prevStatus = status;
        }
    }
}

void UpgradeController::StartBootloaderIfAsked() {
    // The check boxes stay ticked: they carry the request into the polls that find the box in its
    // bootloader. A package without images has nothing to program: its ticks restart nothing;
    // "Boot" still does.
    const bool ticked = !PackageWithoutImages() && AnythingTicked();
    if (state_.connected != 0 && (state_.force_bootloader != 0 || ticked)) {
        // "Boot" alone (during a countdown too, which ends without its tick) restarts the box:
        // nothing is downloaded into it until something is ticked.
        state_.startCountDown = 0;
        state_.ledger.BootloaderRequestSent(connectedPort_, !ticked);
        state_.force_bootloader = 0;
        // Told before the request goes out: whoever keeps a record of the road has it on the disk
        // before the box leaves its normal mode, so that a box found later in its bootloader on
        // this port can be known as this one.
        events_.Tell(RoadEvents::SentToBootloader{connectedPort_});
        (void)device_.StartBootloader();
        state_.operation_underway = 1;
        clock_.SleepMs(Waits::kAfterBootloaderStartMs);
    }
}

void UpgradeController::ServiceBookkeeping() {
    std::atomic<std::int32_t>& installing = *state_.driversInstalling;
    if (!state_.lastDriversInstalling) {
        state_.lastDriversInstalling = installing.load();
    }
    if (installing == 0 && *state_.lastDriversInstalling == 1) {
        view_.AppendText("\r\nDriver Installation Finished");
        state_.driversInstalled = 1;
    }
    installing = 0;
    state_.driversProc.reset();
}

PollFlow UpgradeController::Connect() {
    if (state_.connected != 0) {
        // A connected box has gone once it no longer gives its product string.
        if (device_.GetManufacturer().empty()) {
            state_.connected = 0;
            state_.version.clear();
            state_.ledger.LeftNormalMode(connectedPort_);
        } else if (state_.ledger.HeldForSeveralBoxes(connectedPort_)) {
            // Held while another box was on the bus: looked at again, it may count down now.
            return DecideAfterConnection(state_.current_profile ? &*state_.current_profile
                                                                : nullptr);
        }
        return PollFlow::GoOn;
    }
    openFailures_.clear();
    if (!state_.profiles) {
        return PollFlow::GoOn;
    }
    // Only the first profile whose IDs open is ever used in one poll.
    for (const ZelkProfile& profile : *state_.profiles) {
        device_.setPid(profile.pid);
        device_.setVid(profile.vid);
        if (device_.Open() == 0) {
            NoteOpenFailures();
            continue;
        }
        accessNoticeShown_ = false;
        state_.version = device_.GetVersion();
        if (state_.version.empty()) {
            view_.SetText(Control::DeviceLabel, "\r\nWaiting for response...");
            device_.Close();
            break;
        }
        state_.connected = 1;
        connectedPort_ = device_.Port();
        roadPort_ = connectedPort_;
        const std::string product = device_.GetManufacturer();
        if (product.empty()) {
            break;
        }

        const ZelkProfile* match = AdoptProfileOf(product);
        const std::string line = CurrentModel() + " Version:      " + state_.version;
        view_.SetText(Control::DeviceLabel, line);
        view_.AppendText("\r\n" + line);
        state_.prevStatus = line;
        state_.operation_underway = 0;
        // Who the box is, before anything is decided for it: the box of a road back from it, or
        // another in its place.
        const std::string serial = device_.GetSerial();
        const bool back = state_.ledger.Arrive(connectedPort_, match, serial, state_.version);
        WithdrawOtherRoadsTicks();
        TellConnected(match, serial, back);
        return DecideAfterConnection(match);
    }
    return PollFlow::GoOn;
}

void UpgradeController::TellConnected(const ZelkProfile* match, const std::string& serial,
                                      bool backFromRoad) {
    RoadEvents::Connected connected;
    connected.port = connectedPort_;
    connected.version = state_.version;
    connected.serial = serial;
    if (match != nullptr) {
        connected.model = match->id;
        connected.profile = *match;
    }
    connected.upToDate = UpToDate(state_.version);
    connected.backFromRoad = backFromRoad;
    events_.Tell(connected);
}

const ZelkProfile* UpgradeController::AdoptProfileOf(const std::string& product) {
    const ZelkProfile* match = nullptr;
    for (const ZelkProfile& candidate : *state_.profiles) {
        if (candidate.name == product) {
            match = &candidate;
            break;
        }
    }
    if (match == nullptr) {
        return nullptr;
    }
    state_.current_profile = *match;
    view_.SetText(Control::LabelMode, match->id);
    // The entry of exactly this display name: with "ZELK" and "ZELK Q750" in the list a prefix
    // match could pick the other variant, whose image would then be flashed.
    const int index = match->type ? view_.ComboFindExact(*match->type) : -1;
    if (index != view_.ComboSelectedIndex()) {
        view_.SetComboSelectedIndex(index);
        // The selection handler takes the first profile of that display name; the box named this
        // one.
        state_.current_profile = *match;
    }
    return match;
}

PollFlow UpgradeController::DecideAfterConnection(const ZelkProfile* match) {
    ConnectedSituation situation;
    situation.port = connectedPort_;
    situation.namesProfile = match != nullptr;
    situation.upToDate = UpToDate(state_.version);
    situation.automaticMode = state_.upgradeMode == auto_upgrade;
    situation.packageHasImages = !PackageWithoutImages();
    situation.anythingTicked = AnythingTicked();
    if (situation.namesProfile && !situation.upToDate && situation.automaticMode) {
        situation.boxesOnBus = BoxesOnBus();
    }
    const Decision decision = state_.ledger.DecideConnected(situation);
    if (match == nullptr) {
        view_.AppendText("\r\nWrong upgrade package. Please contact Orvanta");
        view_.SetChecked(Control::CheckProgramArm, false);
        view_.SetChecked(Control::CheckProgramFPGA, false);
        return PollFlow::Ended;
    }
    if (situation.upToDate) {
        if (state_.arm_just_programmed == 0) {
            view_.AppendText("\r\n");
            view_.AppendText("\r\nNo Upgrade Required");
        }
        view_.SetChecked(Control::CheckProgramArm, false);
        view_.SetChecked(Control::CheckProgramFPGA, false);
        return PollFlow::GoOn;
    }
    if (!situation.packageHasImages) {
        // Nothing to program: no countdown and no restart into a bootloader it cannot leave.
        view_.AppendText(OperatorTexts::kPackageError);
        return PollFlow::GoOn;
    }
    if (!situation.automaticMode) {
        return PollFlow::GoOn;
    }
    if (!decision.run) {
        SayTell(decision.tell);
        return decision.reason == Reason::SeveralBoxes ? PollFlow::GoOn : PollFlow::Ended;
    }
    StartCountdown();
    return PollFlow::GoOn;
}

void UpgradeController::StartCountdown() {
    if (state_.driversInstalled == 0) {
        view_.AppendText("\r\nInstalling Drivers...");
        InstallDrivers(1, 0);
        clock_.SleepMs(Waits::kAfterDriverInstallMs);
    }
    view_.AppendText("\r\nStarting the upgrade in: 5..");
    state_.startCountDown = 5;
    events_.Tell(RoadEvents::CountingDown{connectedPort_, state_.startCountDown});
    clock_.SleepMs(Waits::kAfterCountdownStartMs);
}

void UpgradeController::Countdown() {
    if (state_.connected == 0 || state_.startCountDown == 0) {
        // A box that vanishes cancels the countdown.
        state_.startCountDown = 0;
        return;
    }
    --state_.startCountDown;
    view_.AppendText(std::to_string(state_.startCountDown) + "..");
    events_.Tell(RoadEvents::CountingDown{connectedPort_, state_.startCountDown});
    if (state_.startCountDown == 0) {
        TickAutomatically(connectedPort_);
        if (AutomaticRunBox() == Control::CheckProgramFPGA) {
            state_.ledger.NewFpgaJob();
        }
    }
}

void UpgradeController::SayWhileBoxesWait() {
    // A box sent to its bootloader waits there for its download while another box is on the bus:
    // the operator, who may read "No Upgrade Required" of the other, learns why nothing goes on.
    if (state_.ledger.BoxWaitsForWork() && state_.ledger.SaySeveralBoxes(BoxesOnBus())) {
        view_.AppendText(OperatorTexts::kSeveralBoxes);
    }
}

PollFlow UpgradeController::ProbeModes(std::string& status) {
    BoxLedger& ledger = state_.ledger;
    if (!device_.GetManufacturer().empty()) {
        ledger.NoteBootloader(std::nullopt);
        inProgrammer_ = false;
        return PollFlow::GoOn;
    }
    if (state_.connected != 0) {
        // It answered at the start of this poll and no longer does: it left during the poll.
        ledger.LeftNormalMode(connectedPort_);
    }
    if (device_.CheckForFpgaProg() != 0) {
        ledger.NoteBootloader(std::nullopt);
        roadPort_ = device_.ProgrammerPort();
        if (!std::exchange(inProgrammer_, true)) {
            events_.Tell(RoadEvents::InProgrammer{roadPort_});
        }
        // The programmer is reached: its firmware downloads are over for this FPGA job.
        ledger.NoteProgrammer(roadPort_);
        status = "ZELK in fpga programming mode";
        DecideFor(roadPort_, true, true);
        return PollFlow::GoOn;
    }
    inProgrammer_ = false;
    NoteOpenFailures();
    std::int32_t code = device_.CheckForBootloader();
    if (code == 0) {
        // The driver may still be coming up: look once more. A code that changed meanwhile is
        // acted on like a first answer.
        clock_.SleepMs(Waits::kBeforeSecondBootloaderLookMs);
        code = device_.CheckForBootloader();
        if (code == 0) {
            view_.AppendText("\r\nWaiting for Driver...");
        }
    }
    const bool found = code >= 0 && code <= 3;
    bootloaderPort_ = found ? device_.BootloaderPort() : std::string();
    if (found) {
        roadPort_ = bootloaderPort_;
        if (ledger.NoteBootloader(bootloaderPort_)) {
            events_.Tell(RoadEvents::InBootloader{bootloaderPort_});
        }
        // "Boot" has been carried out; left set, it would send the box back here once upgraded.
        state_.force_bootloader = 0;
        // The NXP driver (2) serves DFUAPP, the package's libusbK driver (3) serves dfu-util.
        const bool ready = (code == 2 || code == 3) && (code == 3) == (state_.useDfuUtil != 0);
        DecideFor(bootloaderPort_, false, ready);
    } else {
        ledger.NoteBootloader(std::nullopt);
    }
    switch (code) {
        case 0:
            return PollFlow::GoOn;
        case 1:
            decision_.reset();
            InstallWrongDrivers();
            return PollFlow::Ended;
        case 2:
        case 3:
            if ((code == 3) == (state_.useDfuUtil != 0)) {
                status = "ZELK in programming mode";
            } else {
                InstallWrongDrivers();
            }
            return PollFlow::GoOn;
        default:
            ReportOpenFailures();
            if (state_.operation_underway == 0) {
                view_.SetText(Control::DeviceLabel, "No device found");
            }
            state_.connected = 0;
            ledger.NoteNoBox();
            return PollFlow::Ended;
    }
}

bool UpgradeController::PackageWithoutImages() const {
    return state_.armImagePresent == 0 && state_.fpgaImagePresent == 0;
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
