#pragma once

#include <functional>
#include <string>
#include <utility>
#include <variant>

#include "controller/box_ledger.h"

// What happened to a box, told by the controller as it happens, beside the window's log: a program
// that follows boxes (the command-line program, the emulator's trace) learns it from these, never
// from the log's or a label's text. Every event names the box by its USB port.
namespace ZELKUtil::RoadEvents {

// A box answered in normal mode on the port.
struct Connected {
    std::string port;
    std::string model;  // the id of the profile it named; "" when it named none of the package
    std::string version;
    bool upToDate = false;
    // It is the box this run sent on its road (to its bootloader, or downloaded into), back in
    // normal mode; otherwise a box recognised afresh: perhaps another box on the same port.
    bool backFromRoad = false;
};
// A step of the automatic countdown: the steps left.
struct CountingDown {
    std::string port;
    int left = 0;
};
// The bootloader request was sent to the box.
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
// The decision for a box in its bootloader or programmer mode, made at every poll that finds it
// there.
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
};
// The box came back in normal mode with the package's version after a download.
struct Completed {
    std::string port;
    std::string version;
};
// The box has the package's version and needs nothing.
struct UpToDate {
    std::string port;
    std::string version;
};
// Why the road of a box ended without its upgrade.
enum class FailReason {
    WrongPackage,  // the box names no profile of the package
    PackageError,  // the package cannot upgrade it (no image, a bound reached, no tool)
    ModelUnknown,  // no profile is current for the box in its bootloader
    ToolFailed,    // a tool could not be started or its output not followed
    FpgaFailed,    // the FPGA could not be identified, erased or programmed
    KeepsLeaving,  // the box left its downloads in the middle too often
};
const char* FailReasonName(FailReason reason);
struct Failed {
    std::string port;
    FailReason reason = FailReason::PackageError;
};

}  // namespace ZELKUtil::RoadEvents

namespace ZELKUtil {

using RoadEvent =
    std::variant<RoadEvents::Connected, RoadEvents::CountingDown, RoadEvents::SentToBootloader,
                 RoadEvents::InBootloader, RoadEvents::InProgrammer, RoadEvents::Decided,
                 RoadEvents::DownloadStarted, RoadEvents::DownloadProgress,
                 RoadEvents::DownloadEnded, RoadEvents::FpgaStep, RoadEvents::Completed,
                 RoadEvents::UpToDate, RoadEvents::Failed>;

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
// cut short".
std::string DescribeRoadEvent(const RoadEvent& event);

}  // namespace ZELKUtil
