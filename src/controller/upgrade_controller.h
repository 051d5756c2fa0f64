#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controller/arm_download.h"
#include "controller/box_ledger.h"
#include "controller/driver_install.h"
#include "controller/fpga_run.h"
#include "controller/poll_flow.h"
#include "controller/road_events.h"
#include "controller/run_seams.h"
#include "controller/tools/tool_reader.h"
#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "hid/hid_transport.h"
#include "package/package_findings.h"
#include "platform/clock.h"
#include "platform/process_service.h"

class ZELK;

namespace ZELKUtil {

// What the controller works through. Everything that reaches the window, the box, the clock or
// child processes goes through one of these, so that tests and the emulator replace them.
struct ControllerSeams {
    View& view;
    Clock& clock;
    ZELK& device;
    ProcessService& processes;
    // Every relative package name is resolved against it: the current directory in the product
    // ("" or "."), a temporary folder in tests.
    std::string packageFolder;
    // The operating system's machine name as uname reports it ("x86_64" picks the 64-bit driver
    // installer).
    std::string nativeMachine;
};

// The upgrade controller: start-up, the poll cycle and the handlers' logic. The tool runs are
// objects of their own that work on the same state; their entry points keep their names here.
class UpgradeController {
  public:
    explicit UpgradeController(ControllerSeams seams);
    UpgradeController(const UpgradeController&) = delete;
    UpgradeController& operator=(const UpgradeController&) = delete;

    void InitializeApplication();

    // The USB port the box is confined to, in dfu-util's path form, when a bench runs several
    // boxes at once: dfu-util is then told it with -p, so that it writes into this box and no
    // other. Without it (the window) dfu-util finds the one DFU device by its IDs alone.
    void TellDfuUtilThePort(std::optional<std::string> port) { dfuUtilPort_ = std::move(port); }

    // The box on the port, met in its bootloader or programmer mode, is a box of this profile
    // that was sent there (by an earlier run, whose record says so, or as the operator names it):
    // what is written into it is the profile's, and its road goes on as this run's own.
    void KnowBox(const std::string& port, const ZelkProfile& profile, const std::string& serial,
                 const std::string& version) {
        state_.ledger.Adopt(port, profile, serial, version);
        state_.current_profile = profile;
    }

    // The bounds of the boxes this run has met, by serial, and those an earlier run met: a bench
    // that upgrades a port's boxes in runs of their own keeps a failing box's bounds.
    std::vector<std::pair<std::string, BoxLedger::Bounds>> KnownBounds() const {
        return state_.ledger.AllBounds();
    }
    void KeepBounds(const std::string& serial, BoxLedger::Bounds bounds) {
        state_.ledger.KeepBounds(serial, bounds);
    }

    // Tells the listener what happens to each box as it happens, on the window's thread.
    void ListenToRoad(std::function<void(const RoadEvent&)> listener) {
        events_ = RoadEventSink(std::move(listener));
        state_.ledger.TellTo(events_);
    }

    // The two ways a poll is requested. A device change that arrives while the window's thread is
    // busy with the box is remembered and runs one poll as soon as that work has returned.
    void TimerCheck_Tick();
    void Main_OnDeviceChange();
    // One poll; returns at once while a poll or an operator's exchange with the box runs.
    void CheckForZELK();

    void ComboZelkType_SelectedIndexChanged();

    // The operator's keys and buttons.
    void UpdateForm_KeyDown(Key key, bool control);
    void ButtonDiag_Click();
    void buttonRestart_Click();
    void ButtonForce_Click();
    void ButtonAutoRings_Click();
    // Appends the box's status report to the log.
    void print_diagnosis();

    // Runs the package's driver installer for the bootloader (wait: block until it has ended;
    // silent: without its own pages), and tells what its exit code says, once in the visit of the
    // box the poll works on. An installer that could not start or reported failure is not started
    // again by that visit.
    void InstallDrivers(std::int32_t wait, std::int32_t silent);

    // Closing the window: closes the box's handle. Running children are left alone.
    void Dispose();

    UpgradeState& State() { return state_; }
    const UpgradeState& State() const { return state_; }

  private:
    // Holds one flag at 1 for its lifetime: the poll's checking_currently, or the mark of an
    // operator's exchange with the box.
    class BusyScope;

    // The window's thread is inside a poll or an operator's exchange with the box: a nested poll
    // would close or read the box's handle under that exchange.
    bool Busy() const { return state_.checking_currently != 0 || exchangeUnderway_ != 0; }
    // The box of the run this poll works on is still in its bootloader.
    bool BootloaderStillHere();
    void Poll();
    void PollSteps();
    void RunRememberedDeviceChanges();
    // Runs an operator action that talks to the box, with polls held off meanwhile.
    void ExchangeWithBox(void (UpgradeController::*action)());
    void EnableRings();

    // Start-up's steps, from what it found in the package folder.
    void ShowPackageVersion(const PackageFindings& package);
    void LoadProfiles(const PackageFindings& package);
    // Offers the usable profiles, the last of them current; returns their number.
    int OfferUsableProfiles(const PackageFindings& package);
    void SetUpgradeMode();
    void ChooseDownloadTool(const PackageFindings& package);

    // Poll steps that need more than a few lines.
    void ServiceBookkeeping();
    PollFlow Connect();
    // Makes the first profile named by the box's product string current; null when none is.
    const ZelkProfile* AdoptProfileOf(const std::string& product);
    void TellConnected(const ZelkProfile* match, const std::string& serial, bool backFromRoad);
    // What a new connection leads to: the ledger's decision, carried out.
    PollFlow DecideAfterConnection(const ZelkProfile* match);
    // Installs the drivers once, then the countdown's first step.
    void StartCountdown();
    void Countdown();
    // While a box sent to its bootloader waits there and another box is on the bus, says so once.
    void SayWhileBoxesWait();
    // Finds where the box is when it does not answer in normal mode, and decides for a box in its
    // bootloader or programmer mode.
    PollFlow ProbeModes(std::string& status);
    void ShowEyeEvent();
    // The status line and, when the box shows the package's version, the completion line.
    void ReportStatus(std::string status);
    void StartBootloaderIfAsked();
    // The ledger's decision for the box in its bootloader or programmer mode on the port: ticks
    // what a box back on its road resumes, and says the lines of a visit's start.
    void DecideFor(const std::string& port, bool programmerMode, bool driverReady);
    // Carries out this poll's decision: starts its run, or says why it holds.
    PollFlow Dispatch();
    PollFlow RunArmDownload(const std::string& port);
    void SayTell(Decision::Tell tell);
    // The boxes on the bus now, in any mode.
    int BoxesOnBus();
    // Ticks made since the last poll are the operator's: a new FPGA job, not automatic.
    void NoticeOperatorTicks();
    void RememberTicks();
    // Ticks what the package programs by itself, for the box on the port.
    void TickAutomatically(const std::string& port);
    // Unticks what a road ticked by itself once that road has ended, or another box is connected.
    void WithdrawOtherRoadsTicks();
    bool AnythingTicked() const;
    // The check box that an automatic run ticks.
    Control AutomaticRunBox() const;
    // Keeps why the box's HID interface could not be opened just now.
    void NoteOpenFailures();
    // A poll that found the box in no mode: if it is there but this user may not open it, says
    // so once per plug-in; in service mode, says why each open failed.
    void ReportOpenFailures();
    void InstallWrongDrivers();
    // The package names no image at all: it can program nothing.
    bool PackageWithoutImages() const;
    bool UpToDate(const std::string& boxVersion) const;
    std::string CurrentModel() const;

    View& view_;
    Clock& clock_;
    ZELK& device_;
    ProcessService& processes_;
    std::string packageFolder_;
    std::string nativeMachine_;
    std::optional<std::string> dfuUtilPort_;
    UpgradeState state_;
    RoadEventSink events_;
    // The port of the box this poll works on, for the events of the runs.
    std::string roadPort_;
    ToolReader reader_;
    RunSeams runSeams_;
    ArmDownload armDownload_;
    FpgaRun fpgaRun_;
    DriverInstall driverInstall_;
    std::int32_t exchangeUnderway_ = 0;
    std::string connectedPort_;   // of the box this poll connected
    std::string bootloaderPort_;  // of the bootloader this poll found
    std::optional<Decision>
        decision_;               // for the box this poll found in its bootloader or programmer
    bool inProgrammer_ = false;  // the last poll found the box as the programmer
    bool deviceChangePending_ = false;
    std::vector<HidOpenFailure> openFailures_;  // of this poll's opens of the box
    std::string reportedFailures_;              // the reasons service mode was last told
    bool accessNoticeShown_ = false;            // for the box that is plugged in now
};

}  // namespace ZELKUtil
