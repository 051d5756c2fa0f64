#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "package/zelk_profile.h"

// What happened to a box, told by the controller as it happens, beside the window's log: a program
// that follows boxes (the command-line program, the emulator's trace) learns it from these, never
// from the log's or a label's text. Every event names the box by its USB port.
namespace ZELKUtil {

// The work a decision is about.
enum class Work { Nothing, ArmDownload, ProgrammerFirmware, FpgaProgramming };
const char* WorkName(Work work);

// What a download into the box came to.
enum class DownloadOutcome {
    Done,      // the tool sent the whole image
    CutShort,  // the box left the bus in the middle of it, or while the tool set it up
    Failed,    // the tool ran to its end without sending the whole image
    NoDevice,  // the tool found no device to open, pass after pass, with the box in its bootloader
    NotStarted,  // the tool could not be started, or its output not followed
};
const char* OutcomeName(DownloadOutcome outcome);

// Why a decision or the end of a road is what it is: one name each, for traces and zelk-cli's
// output, never for the operator's log. Some carry a number (`count`).
enum class Reason {
    None,
    // A box in normal mode.
    UpgradeDue,           // counts down
    UpToDate,             // has the package's version
    WrongPackage,         // names no profile of the package
    NoImage,              // the package holds no image
    WaitsForOperator,     // the package upgrades only what the operator ticks
    AutoDownloadsUsedUp,  // came back from its downloads still without the package's version
    NotBroughtToVersion,  // came back from the operator's download without the package's version
    KeepsLeaving,         // left its last `count` downloads in the middle
    SeveralBoxes,         // `count` boxes on the bus
    ErrorState,           // a run failed; "Boot" ends the error state
    AnotherBox,           // another box took its place on the port
    // A box in its bootloader or programmer mode.
    OperatorTicks,
    RoadTicks,
    BackOnRoad,
    NotRecognised,      // this run never recognised it in normal mode on this port
    LeftBeforeRequest,  // the box of the port left before its bootloader request was sent
    AnotherBoxsTicks,   // the road's ticks were made for another box
    RoadComplete,       // the box of the port had all it was to get: this bootloader is another
    BootAlone,
    NoVersion,  // the package has no version to reach
    DriverNotReady,
    DownloadMade,  // this bootloader visit has had its download
    NothingTicked,
    NothingForProgrammer,
    ArmNeedsReplug,  // "Program ARM" is ticked, and the programmer cannot take an ARM download
    ProgrammerFirmwareUsedUp,
    // The end of a road that failed.
    ModelUnknown,
    ToolFailed,
    FpgaFailed,
    NoDevice,  // the download tool found no device in every pass with the box in its bootloader
};
std::string ReasonText(Reason reason, int count = 0);

// Where the box is when the ledger decides for it.
enum class Moment { Connected, Bootloader, Programmer };

// Run or hold, and why. Connected: run means the countdown starts; in the bootloader or as the
// programmer it means `work` starts.
struct Decision {
    std::string port;
    Moment moment = Moment::Bootloader;
    bool run = false;
    Work work = Work::Nothing;
    Reason reason = Reason::None;
    int count = 0;
    // Tick what the countdown would have ticked: the box resumes its road.
    bool tickAutomatically = false;
    // A line for the operator that goes with a hold, said once.
    enum class Tell { Nothing, SeveralBoxes, KeepsLeaving, PackageError, ReplugForArm };
    Tell tell = Tell::Nothing;
    // The line belongs to the start of the visit (said before the poll's status line), not to
    // the run the poll would start.
    bool visitLine = false;
};

// How a road ended.
enum class RoadEnd {
    Completed,    // the box has what it was asked for: the package's version, its FPGA
    UpToDate,     // it had the package's version and needed nothing
    Failed,       // the package, a tool or the box's FPGA could not do it
    Interrupted,  // the box left the road (another took its place, it keeps leaving)
    LeftAlone,    // nothing is written into it: it is no box this run may upgrade by itself
};

namespace RoadEvents {

// A box answered in normal mode on the port.
struct Connected {
    std::string port;
    std::string model;  // the id of the profile it named; "" when it named none of the package
    std::string version;
    std::string serial;  // "" when the box tells none
    // The profile it named: what the package programs in it.
    std::optional<ZelkProfile> profile;
    bool upToDate = false;
    // It is the box this run sent on its road (to its bootloader, or downloaded into), back in
    // normal mode; otherwise a box recognised afresh.
    bool backFromRoad = false;
};
// A step of the automatic countdown: the steps left.
struct CountingDown {
    std::string port;
    int left = 0;
};
// The bootloader request is being sent to the box: told just before it goes out.
struct SentToBootloader {
    std::string port;
};
// The box was found in its bootloader (once per visit) or as the FPGA programmer (once per stay).
struct InBootloader {
    std::string port;
};
struct InProgrammer {
    std::string port;
};
// The ledger's decision for a box, told when it is a run, and a hold when it begins or changes.
struct Decided {
    Decision decision;
};
// A download into the box in its bootloader: the ARM image or the programmer firmware.
struct DownloadStarted {
    std::string port;
    Work work = Work::ArmDownload;
    std::string image;
};
// Marks of the download's progress bar shown so far, of the marks a whole bar shows (0: the tool
// does not tell).
struct DownloadProgress {
    std::string port;
    int marks = 0;
    int marksExpected = 0;
};
struct DownloadEnded {
    std::string port;
    DownloadOutcome outcome = DownloadOutcome::Done;
};
// A step of the FPGA run in programmer mode.
enum class FpgaStepKind {
    Erasing,      // the player erases the FPGA
    Programming,  // the player programs it
    Progress,     // one more step of the player's progress (`marks` so far)
    Verifying,
    Erased,  // the erase ended well; programming follows
    Done,    // programmed and verified
};
struct FpgaStep {
    std::string port;
    FpgaStepKind step = FpgaStepKind::Progress;
    int marks = 0;
    // Programming: the image the player writes, by its name in the package folder.
    std::string image = {};
};
// The box came back in normal mode with the package's version after its ARM download: a step of
// its road, which ends when nothing more is ticked for it.
struct Returned {
    std::string port;
    std::string version;
};
// The end of the box's road: told once, with the version it has after it ("" when not known) and
// what was written into it.
struct Ended {
    std::string port;
    RoadEnd end = RoadEnd::Completed;
    Reason reason = Reason::None;
    int count = 0;
    std::string version;
    bool arm = false;
    bool fpga = false;
};

}  // namespace RoadEvents

using RoadEvent =
    std::variant<RoadEvents::Connected, RoadEvents::CountingDown, RoadEvents::SentToBootloader,
                 RoadEvents::InBootloader, RoadEvents::InProgrammer, RoadEvents::Decided,
                 RoadEvents::DownloadStarted, RoadEvents::DownloadProgress,
                 RoadEvents::DownloadEnded, RoadEvents::FpgaStep, RoadEvents::Returned,
                 RoadEvents::Ended>;

// Where the controller tells its events; nobody listening is fine.
class RoadEventSink {
  public:
    explicit RoadEventSink(std::function<void(const RoadEvent&)> listener = {})
        : listener_(std::move(listener)) {}
    void Tell(const RoadEvent& event) const {
        if (listener_) {
            listener_(event);
        }
    }

  private:
    std::function<void(const RoadEvent&)> listener_;
};

// One line for a trace: "decision 1-1 run ARM download: its road's ticks", "download 1-1 ended:
// cut short", "end 1-1 failed: its automatic downloads are used up".
std::string DescribeRoadEvent(const RoadEvent& event);

}  // namespace ZELKUtil
