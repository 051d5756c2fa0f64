#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/events.h"
#include "controller/periods.h"
#include "hid/box_platform.h"
#include "platform/clock.h"
#include "platform/process_service.h"

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
    // The package's version line: a box is upgraded only when it comes back reporting it.
    std::string packageVersion;
    // Shared by the runs of all boxes: one driver installer at a time. Null: no gate.
    std::shared_ptr<ToolGate> installerGate;
};

// How one box's road ended, and what the history keeps of it.
struct BoxOutcome {
    // "upgraded", "up-to-date", "failed", "interrupted" or "stopped".
    std::string result;
    // Why, for any result but "upgraded" and "up-to-date".
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

// Plays the upgrade of the box on one USB port through the very controller the window uses, poll
// by poll as the window's timer would, acting where the window's operator would (ticking what the
// package programs when the package waits for the operator), and tells every line of its log and
// every change of its state and progress as it happens.
class BoxRun {
  public:
    using Report = std::function<void(const BoxEvent&)>;

    // The platform is the run's own: the run confines its transport and probe to the port, so that
    // they see no other box. The clock is shared: a run only reads it and sleeps on it.
    // `stopping`: once set, the run stops ("stopped") unless an FPGA run is under way or a box it
    // flashed is still to come back, which it waits for.
    BoxRun(BoxPlatform& platform, Clock& clock, std::string port, BoxRunSettings settings,
           Report report, BoxRunHooks hooks, const std::atomic<bool>& stopping);

    // The outcome of the last box the run met on its port.
    BoxOutcome Run();

  private:
    BoxPlatform& platform_;
    Clock& clock_;
    std::string port_;
    BoxRunSettings settings_;
    Report report_;
    BoxRunHooks hooks_;
    const std::atomic<bool>& stopping_;
};

}  // namespace ZELKUtil::Cli
