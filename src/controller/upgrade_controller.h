#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller/arm_download.h"
#include "controller/driver_install.h"
#include "controller/fpga_run.h"
#include "controller/poll_flow.h"
#include "controller/run_seams.h"
#include "controller/tools/tool_reader.h"
#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "hid/hid_transport.h"
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
    void TellDfuUtilThePort(std::string port) { dfuUtilPort_ = std::move(port); }

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
    // silent: without its own pages).
    void InstallDrivers(std::int32_t wait, std::int32_t silent) {
        (void)driverInstall_.Run(wait, silent);
    }

    // Closing the window: closes the box's handle. Running children are left alone.
    void Dispose();

    UpgradeState& State() { return state_; }
    const UpgradeState& State() const { return state_; }

    // Automatic downloads after which a box that comes back without the package's version is not
    // counted down again: the first may have failed and the operator re-plugged, the second shows
    // that the package cannot bring the box to its version.
    static constexpr std::int32_t kMaxAutoDownloads = 2;
    // Downloads in a row that the box left mid-way, after which it is no longer downloaded into
    // by itself when it comes back in its bootloader: only a box that keeps dropping off the bus
    // gets there.
    static constexpr std::int32_t kMaxInterruptedDownloads = 5;

  private:
    // Holds one flag at 1 for its lifetime: the poll's checking_currently, or the mark of an
    // operator's exchange with the box.
    class BusyScope;

    // The window's thread is inside a poll or an operator's exchange with the box: a nested poll
    // would close or read the box's handle under that exchange.
    bool Busy() const { return state_.checking_currently != 0 || exchangeUnderway_ != 0; }
    void Poll();
    void PollSteps();
    void RunRememberedDeviceChanges();
    // Runs an operator action that talks to the box, with polls held off meanwhile.
    void ExchangeWithBox(void (UpgradeController::*action)());
    void EnableRings();

    // Start-up's steps.
    void ReadPackageVersion();
    void LoadProfiles();
    // Counts the images the profiles name and offers the usable profiles; returns their number.
    int CheckImages();
    void SetUpgradeMode();
    void ChooseDownloadTool();

    // Poll steps that need more than a few lines.
    void ServiceBookkeeping();
    PollFlow Connect();
    // Makes the first profile named by the box's product string current; null when none is.
    const ZelkProfile* AdoptProfileOf(const std::string& product);
    // What a new connection leads to.
    PollFlow DecideAfterConnection(const ZelkProfile* match);
    void Countdown();
    PollFlow ProbeModes(std::string& status, bool& bootloaderReady, bool& programmerMode);
    void ShowEyeEvent();
    // The status line and, when the box shows the package's version, the completion line.
    void ReportStatus(std::string status);
    void StartBootloaderIfAsked();
    // Starts the run that a box ready in its bootloader is ticked for.
    PollFlow DispatchInBootloader();
    // The box's identity (known_box.cpp).
    // Ticks made since the last poll are the operator's: a new FPGA job, not automatic.
    void NoticeOperatorTicks();
    void RememberTicks();
    // Ticks what the package programs by itself, for the box being upgraded.
    void TickAutomatically();
    // A new FPGA job: its programmer downloads and erases count afresh.
    void StartFpgaJob();
    // The box being upgraded on the port, if any.
    const UpgradeState::KnownBox* UpgradingBoxOn(const std::string& port) const;
    void UpgradeBoxOn(const std::string& port, const ZelkProfile& profile);
    void ForgetUpgradingBoxOn(const std::string& port);
    // Whether what is ticked may start on the box on the port: never while more than one box is
    // on the bus, and automatic ticks only for the box they were made for (whose profile is then
    // made current).
    bool MayRunOn(const std::string& port);
    // More than one box on the bus: says so once; true while it lasts.
    bool SeveralBoxes();
    // Where the last probe found the box, for the per-visit bounds.
    void NoteBootloaderFound(bool found);
    // At the start of a bootloader visit in automatic mode: ticks what the countdown would, for
    // the box this run is upgrading.
    void ResumeInBootloader();
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
    std::string dfuUtilPort_;
    UpgradeState state_;
    ToolReader reader_;
    RunSeams runSeams_;
    ArmDownload armDownload_;
    FpgaRun fpgaRun_;
    DriverInstall driverInstall_;
    std::int32_t exchangeUnderway_ = 0;
    std::string connectedPort_;   // of the box this poll connected
    std::string bootloaderPort_;  // of the bootloader this poll found
    bool deviceChangePending_ = false;
    std::vector<HidOpenFailure> openFailures_;  // of this poll's opens of the box
    std::string reportedFailures_;              // the reasons service mode was last told
    bool accessNoticeShown_ = false;            // for the box that is plugged in now
};

}  // namespace ZELKUtil
