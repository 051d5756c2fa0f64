#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/events.h"
#include "controller/box_ledger.h"
#include "controller/periods.h"
#include "package/zelk_profile.h"

namespace ZELKUtil::Cli {

class ToolGate;
class ProgrammerTurn;

// A box met in its bootloader or programmer mode that the run knows all the same: the box an
// earlier run's record left there, or the one the operator named with --as.
struct ResumeFrom {
    ZelkProfile profile;
    std::string serial;
    std::string version;
    // The record taken up ("" when the operator named a box no record knew), its run and its time.
    std::string recordId;
    std::string recordRun;
    std::string recordTime;
    // What its road still writes.
    bool arm = false;
    bool fpga = false;
    bool byOperator = false;
    // The model the record gave, where the operator named another.
    std::string recordedModel;
};

struct BoxRunSettings {
    std::string packageFolder;
    std::string nativeMachine;
    // dfu-util's -p path of the box's port; none lets dfu-util find the one DFU device by its IDs.
    std::optional<std::string> dfuUtilPort;
    // How long the box may stay off the bus in the middle of its run before it counts as
    // unplugged ("interrupted").
    std::int64_t goneMs = Periods::kGoneMidRoadMs;
    // The longest a run may take.
    std::int64_t limitMs = std::int64_t{Periods::kRunLimitMinutes} * 60 * 1000;
    // The package's profiles: their normal-mode IDs tell whether a box is on the bus.
    std::vector<ZelkProfile> profiles;
    // The box on the port, in its bootloader or programmer mode, is known: its road goes on.
    std::optional<ResumeFrom> resume;
    // How old the record it takes up is, when it takes one up.
    std::optional<std::int64_t> resumeAgeSeconds;
    // The bounds the boxes have run up in earlier runs, by serial: a box re-plugged under --watch
    // is not flashed again and again.
    std::vector<std::pair<std::string, BoxLedger::Bounds>> knownBounds;
    // The serial of a box whose earlier road wrote its ARM firmware and was cut short before its
    // FPGA: met in normal mode with the package's version, it still gets its FPGA.
    std::string fpgaOwedTo;
    // Shared by the runs of all boxes: one driver installer at a time. Null: no gate.
    std::shared_ptr<ToolGate> installerGate;
    // Shared by the runs of all boxes: one box at a time is the FPGA programmer. Null: no turn.
    std::shared_ptr<ProgrammerTurn> programmerTurn;
};

// How a box's run ended, and why ("" for a success), with the version after it and what was
// written into it.
struct RunVerdict {
    BoxResult result = BoxResult::Failed;
    std::string reason = {};
    std::string version = {};
    bool arm = false;
    bool fpga = false;
};

// How one box's road ended, and what the history keeps of it.
struct BoxOutcome {
    // None while its road goes on ("unfinished" in the history).
    std::optional<BoxResult> result;
    // Why, for any result but a success.
    std::string reason;
    std::string model;
    std::string serial;
    std::string versionBefore;
    std::string versionAfter;
    std::string log;
    std::int64_t durationMs = 0;
    // Given by whoever keeps the history when the box is found: its record's id and time.
    std::string id;
    std::string startedAt;
    // What its road writes, and how far it got.
    bool writesArm = false;
    bool writesFpga = false;
    RoadMark mark = RoadMark::Recognised;
    // Met in its bootloader or programmer mode and known all the same.
    std::optional<ResumeFrom> resumed;
    // The record of an earlier run that this one takes up ("" for none).
    std::string takesUp;
    // The images whose writing into the box began, by their names in the package folder, in
    // that order, each once.
    std::vector<std::string> images;
    // Its road ended after Ctrl+C: it was finished rather than left where it was.
    bool endedAfterStop = false;
    // It had a run on its port; false for a box left alone without one, held by another
    // zelk-cli, or not there: such a box took no time.
    bool ran = true;
};

// Where a port's run tells each event of its box.
using BoxReport = std::function<void(const BoxEvent&)>;

// Told of each box a port's run meets in normal mode (the first, or one that took another's place
// on the port) and of the end of its road.
struct BoxRunHooks {
    // Before anything is written into the box: keeps its record (and may give it an id). False:
    // it could not, and the box is left alone.
    std::function<bool(BoxOutcome& box)> started;
    // Its road got further (its mark changed, or an image is about to be written into it): told
    // before the step that follows, so that the record is on the disk before the box leaves its
    // normal mode, and names every image before its writing begins.
    std::function<void(const BoxOutcome& box)> progressed;
    std::function<void(const BoxOutcome& box)> ended;
    // At the run's end: the bounds its boxes have run up, by serial.
    std::function<void(const std::vector<std::pair<std::string, BoxLedger::Bounds>>&)> bounds;
    // The box begins to wait for the FPGA programmer, which the box on the other port has or is
    // owed first.
    std::function<void(const std::string& other)> waitsForProgrammer;
};

// What the backends (and dfu-util's -p) of a box's run or look are confined to: its port, or
// nothing for a box whose port the system does not tell ("", which the bench gives only a box
// alone on the bus: dfu-util then finds it by its IDs).
inline std::optional<std::string> Confinement(const std::string& port) {
    return port.empty() ? std::nullopt : std::optional<std::string>(port);
}

}  // namespace ZELKUtil::Cli
