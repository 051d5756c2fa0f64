#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/events.h"
#include "controller/periods.h"
#include "package/zelk_profile.h"

namespace ZELKUtil::Cli {

class ToolGate;

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
    // Shared by the runs of all boxes: one driver installer at a time. Null: no gate.
    std::shared_ptr<ToolGate> installerGate;
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
};

// Where a port's run tells each event of its box.
using BoxReport = std::function<void(const BoxEvent&)>;

// Told of each box a port's run meets in normal mode (the first, or one that took another's place
// on the port) and of the end of its road.
struct BoxRunHooks {
    // Before anything is written into the box: keeps its record (and may give it an id). False:
    // it could not, and the box is left alone.
    std::function<bool(BoxOutcome& box)> started;
    std::function<void(const BoxOutcome& box)> ended;
};

// What the backends (and dfu-util's -p) of a box's run or look are confined to: its port, or
// nothing for a box whose port the system does not tell ("", which the bench gives only a box
// alone on the bus: dfu-util then finds it by its IDs).
inline std::optional<std::string> Confinement(const std::string& port) {
    return port.empty() ? std::nullopt : std::optional<std::string>(port);
}

}  // namespace ZELKUtil::Cli
