#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "box/emulated_bus.h"
#include "platform/process_service.h"
#include "time/timeline.h"

namespace ZELKSim {

// How each emulated package tool behaves. They print what the real tools print and act on the
// emulated box as the real ones act on a box.
enum class DfuUtilBehaviour {
    Works,            // the older tool's output: a '#' bar ending in "finished!"
    WorksCurrent,     // current dfu-util: a redrawn "Download\t[===  ]" bar and "Download done."
    FinishedMissing,  // the '#' bar ends without "finished": the download failed
    OnlyOpening,      // stops right after "Opening DFU capable USB device..."
    NoDeviceCurrent,  // current dfu-util finding no device: its banner only on standard output
};
enum class DfuAppBehaviour { Works, Fails };
enum class ProgrammerFirmware {
    Works,      // the box restarts as the FPGA programmer
    Fails,      // the box stays in its bootloader
    FallsBack,  // the firmware does not start: the box falls back to its normal firmware
};
enum class StaplBehaviour {
    Works,
    NoIdcode,         // DEVICE_INFO reads no IDCODE
    GarbageIdcode,    // DEVICE_INFO prints an IDCODE that is no number
    GarbageChecksum,  // DEVICE_INFO prints a checksum that is no number
    Fails,            // ERASE and PROGRAM end with a failing exit line
    FailsSilently,    // ERASE and PROGRAM end without any exit line
    // DEVICE_INFO's output arrives in one piece as the player exits (a redirected output is
    // buffered), with an empty line between the banner and the exports.
    BlankLineFirst,
    // ERASE says it completed, but the FPGA still shows its design's checksum afterwards.
    EraseLeavesDesign,
};

struct ToolSettings {
    DfuUtilBehaviour dfuUtil = DfuUtilBehaviour::Works;
    // Passes that only get as far as opening the device before the tool works, whatever the box.
    int dfuUtilOpeningPasses = 0;
    int dfuUtilBarLength = 10;  // '#' marks (or '=' steps) in the progress bar
    // What the programmer firmware download makes of a box in its bootloader.
    ProgrammerFirmware programmerFirmware = ProgrammerFirmware::Works;
    DfuAppBehaviour dfuApp = DfuAppBehaviour::Works;
    int dfuAppBlocks = 6;  // block lines in DFUAPP's log
    // The firmware version a successful download gives the box; "" means the package's version.
    std::string newVersion;
    StaplBehaviour stapl = StaplBehaviour::Works;
    // DEVICE_INFO runs that read no IDCODE before it is read.
    int staplMissedIdcodes = 0;
    int staplPercentLines = 4;
    std::uint16_t programmedChecksum = 0x1234;
    // Programs (package-relative, e.g. "Tools/dfu-util") that exist but cannot be started.
    std::vector<std::string> unstartable;
    // How long a tool runs, per step of its output.
    std::int64_t stepMs = 100;
    std::int64_t installerMs = 1500;
    // The driver installer's exit code (dpinst's: flags in the top byte, counts below).
    std::uint32_t installerExitCode = 0;
    // Whether an installer that reports success puts its driver on the bootloader (one whose own
    // steps failed may say so all the same).
    bool installerInstalls = true;
    // When not empty, the download tools and the player's erase and programming runs print these
    // pieces, one per step, in place of their own output (DFUAPP into its log), and leave the box
    // alone: a tool whose output is whatever a test or a fuzzer makes it.
    std::vector<std::string> ownOutput;
    // The same for the player's identification runs.
    std::vector<std::string> ownIdentification;
};

// Something the world does while a tool runs (the box unplugged, plugged in, or hanging): right
// after the step whose standard output holds a text, or a time into the tool's run.
struct ToolMoment {
    std::string program;       // package-relative, as the controller starts it ("Tools/dfu-util")
    std::string text;          // when not empty: the first step of a run whose output holds it
    std::int64_t afterMs = 0;  // else: this long after the tool's start, if it still runs then
    // How many times it happens, at one run each (a text counts only at a run that prints it);
    // 0: at every run.
    int runs = 1;
    std::function<void()> action;
    std::uint64_t id = 0;  // given by the service
};

// One start of a tool, as the service saw it.
struct ToolStart {
    std::int64_t atMs = 0;
    std::string program;
    std::vector<std::string> arguments;
    std::string workingDirectory;
    ZELKUtil::StartMode mode = ZELKUtil::StartMode::Direct;
};

// The process service of the emulated world: it starts the package's tools as emulations that run
// on the timeline, print their output over time and act on the box they find on the bus, as the
// real tools find theirs: dfu-util takes the one DFU device (or the one on the port given with
// -p) and refuses to choose between two; the player takes the programmer. A program that is not
// in the package folder cannot be started, as with real processes.
class EmulatedProcessService final : public ZELKUtil::ProcessService {
  public:
    EmulatedProcessService(Timeline& timeline, EmulatedBox& box, std::string packageFolder);
    EmulatedProcessService(Timeline& timeline, const EmulatedBus& bus, std::string packageFolder);
    ~EmulatedProcessService() override;
    EmulatedProcessService(const EmulatedProcessService&) = delete;
    EmulatedProcessService& operator=(const EmulatedProcessService&) = delete;

    ToolSettings& Settings() { return settings_; }
    // Arms a moment for the next run of its program (every run, when it says so).
    void AddMoment(ToolMoment moment);
    std::vector<ToolStart> Starts() const;
    // Starts the list of tool starts afresh (a long run keeps it from growing without end).
    void ForgetStarts();

    ZELKUtil::Result<std::unique_ptr<ZELKUtil::ChildProcess>> Start(
        const ZELKUtil::StartRequest& request) override;

    struct Child;

  private:
    struct Step;
    struct Script;
    struct Run;
    // The box the tool works on; null when there is none, or when dfu-util finds more than one it
    // could take (*several is then set).
    EmulatedBox* Target(const ZELKUtil::StartRequest& request, bool* several) const;
    Script ScriptFor(const ZELKUtil::StartRequest& request, EmulatedBox* box, bool several);
    Script ProgrammerFirmwareScript(EmulatedBox& box) const;
    Script InstallerScript(const ZELKUtil::StartRequest& request) const;
    // several: dfu-util found more than one DFU device it could take.
    Script DfuUtilScript(EmulatedBox* box, bool several);
    void AddCurrentDfuUtilTransfer(std::vector<Step>& steps,
                                   const std::function<void()>& complete) const;
    void AddOldDfuUtilTransfer(std::vector<Step>& steps,
                               const std::function<void()>& complete) const;
    Script DfuAppScript(EmulatedBox& box);
    Script StaplScript(const ZELKUtil::StartRequest& request, EmulatedBox& box);
    void IdentificationSteps(std::vector<Step>& steps, bool programmer, EmulatedBox& box);
    Script OwnOutputScript(const ZELKUtil::StartRequest& request,
                           const std::vector<std::string>& pieces);
    std::string NewVersion() const;
    // Plays step `i` of the run, or ends the run when the box it needs is gone.
    void PlayStep(Run& run, std::size_t i);
    void EndWithoutBox(Run& run, const std::shared_ptr<Child>& child);
    // Drops the children that have ended and been read to their end.
    void ForgetEndedChildren();
    // The moments armed for a run of the program: the timed ones are scheduled on the child (and
    // counted now), the others kept by the run until its output holds their text.
    void ArmMoments(const std::string& program, Run& run, const std::shared_ptr<Child>& child);
    // Counts one happening of the moment; false when it has happened as often as it should.
    bool CountMoment(std::uint64_t id);

    Timeline& timeline_;
    EmulatedBus own_;
    const EmulatedBus& bus_;
    std::string packageFolder_;
    ToolSettings settings_;
    mutable std::mutex mutex_;
    std::vector<ToolStart> starts_;
    std::vector<std::shared_ptr<Child>> children_;
    std::vector<ToolMoment> moments_;
    std::uint64_t momentsAdded_ = 0;
    int dfuUtilPasses_ = 0;
    int deviceInfoRuns_ = 0;
};

}  // namespace ZELKSim
