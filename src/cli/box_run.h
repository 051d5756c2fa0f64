#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/box_outcome.h"
#include "cli/events.h"
#include "hid/box_platform.h"
#include "platform/clock.h"
#include "platform/process_service.h"

class ZELK;

namespace ZELKUtil::Cli {

class BoxWatch;
class ProgrammerHold;

// Plays the upgrade of the box on one USB port through the very controller the window uses, poll
// by poll as the window's timer would, acting where the window's operator would (ticking what the
// package programs when the package waits for the operator), and tells every line of its log and
// every change of its state and progress as it happens.
class BoxRun {
  public:
    // The platform is the run's own: the run confines its transport and probe to the port, so that
    // they see no other box. The clock is shared: a run only reads it and sleeps on it.
    // `stopping`: once set, the run stops ("stopped") unless an FPGA run is under way or a box it
    // flashed is still to come back, which it waits for.
    BoxRun(BoxPlatform& platform, Clock& clock, std::string port, BoxRunSettings settings,
           BoxReport report, BoxRunHooks hooks, const std::atomic<bool>& stopping);

    // The outcome of the last box the run met on its port.
    BoxOutcome Run();

  private:
    // Waits, poll by poll, for the bench's FPGA programmer; false: the run's bounds (its limit,
    // Ctrl+C, its box gone) ended the box's road first, with their verdict.
    bool TakeProgrammer(ProgrammerHold& hold, BoxWatch& follow, Clock& ticking, ZELK& device);

    BoxPlatform& platform_;
    Clock& clock_;
    std::string port_;
    BoxRunSettings settings_;
    BoxReport report_;
    BoxRunHooks hooks_;
    const std::atomic<bool>& stopping_;
};

}  // namespace ZELKUtil::Cli
