#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "controller/process_service.h"
#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "platform/clock.h"

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

// The upgrade controller: start-up, the poll cycle, the tool runs and the handlers' logic.
class UpgradeController {
  public:
    explicit UpgradeController(ControllerSeams seams);
    UpgradeController(const UpgradeController&) = delete;
    UpgradeController& operator=(const UpgradeController&) = delete;

    void InitializeApplication();

    // The two ways a poll is requested.
    void TimerCheck_Tick();
    void Main_OnDeviceChange();
    // One poll.
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
    void InstallDrivers(std::int32_t wait, std::int32_t silent);
    void InstrallDrivers_Exited();

    // Closing the window: closes the box's handle. Running children are left alone.
    void Dispose();

    UpgradeState& State() { return state_; }
    const UpgradeState& State() const { return state_; }

    // The slices in which a wait for a child's exit or output looks again, keeping the window
    // alive.
    static constexpr std::int64_t kChildPollMs = 50;
    static constexpr std::int64_t kOutputPollMs = 10;

    // Handles one line of the FPGA tool's background run, on the output-reading thread.
    static void STAPLPlayerOutputHandler(StaplHandover& handover, const std::string& line);

  private:
    std::string PackagePath(const std::string& relative) const;
    void Wait(std::int64_t ms) { clock_.SleepMs(ms); }
    void WaitForExit(ChildProcess& child);

    // Poll steps that need more than a few lines.
    void ServiceBookkeeping();
    // Returns false when the poll has ended.
    bool Connect();
    void Countdown();
    // Returns false when the poll has ended.
    bool ProbeModes(std::string& status, bool& bootloaderReady, bool& programmerMode);
    void InstallWrongDrivers();
    bool UpToDate(const std::string& boxVersion) const;
    std::string CurrentModel() const;

    // The tool runs the poll dispatches to. Those returning bool return false when they have
    // ended the poll.
    bool RunArmDownload();
    bool DownloadFpgaProgrammer();
    void StartFpgaProgramming();
    // Returns true when it has ended the poll.
    bool FpgaPollStep();

    // The ARM download's pieces.
    struct ArmPass;
    void WaitForOutput(ChildProcess& tool);
    std::optional<std::string> ReadToolLine(ChildProcess& tool);
    int ReadToolChar(ChildProcess& tool);
    bool ArmPassFailed(const std::string& description);
    void HandleDfuUtilLine(ArmPass& pass, std::optional<std::string>& line, int& retry);
    void HandleDfuAppLine(const std::string& line);
    // The FPGA identification run; false when it has ended the poll.
    bool IdentifyFpga(const std::string& file, std::optional<std::uint32_t>& idcode,
                      std::uint32_t& checksum);

    View& view_;
    Clock& clock_;
    ZELK& device_;
    ProcessService& processes_;
    std::string packageFolder_;
    std::string nativeMachine_;
    UpgradeState state_;
};

}  // namespace ZELKUtil
