#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "controller/road_events.h"

namespace ZELKUtil::Cli {

// The bench's one FPGA programmer. The STAPL player cannot be told which box to program: it takes
// whichever programmer it finds, so a box may only become the programmer (its programmer firmware
// download) or have its FPGA played while no other box is the programmer. A box stays in its
// programmer mode after its FPGA run until it is unplugged, so the turn looks at the bus too, not
// only at the runs: a box upgraded and still plugged in keeps the next one waiting.
class ProgrammerTurn {
  public:
    // programmersOn: the ports where a box is in its FPGA programmer mode now.
    explicit ProgrammerTurn(std::function<std::vector<std::string>()> programmersOn)
        : programmersOn_(std::move(programmersOn)) {}

    // Takes the turn for the port's run when it is free, every run before it in port order has
    // had it, and no other box is the programmer: nullopt. Otherwise the port it waits for (the
    // run is queued until it takes the turn or leaves).
    std::optional<std::string> TryTake(const std::string& port);
    // The port's run is done with the turn, or no longer waits for it.
    void Leave(const std::string& port);

  private:
    std::mutex lock_;
    std::function<std::vector<std::string>()> programmersOn_;
    std::optional<std::string> holder_;
    std::set<std::string> waiting_;
};

// One run's part in the turn. It leaves the turn where the road's events say that the box's FPGA
// stretch is over (its FPGA programmed, its road ended, its programmer gone from the bus: unplugged
// in the middle of its FPGA run), and at the run's end however the run ends.
class ProgrammerHold {
  public:
    // A null turn: the run takes no turn (nothing else is on the bench).
    ProgrammerHold(std::shared_ptr<ProgrammerTurn> turn, std::string port)
        : turn_(std::move(turn)), port_(std::move(port)) {}
    ~ProgrammerHold() { Leave(); }
    ProgrammerHold(const ProgrammerHold&) = delete;
    ProgrammerHold& operator=(const ProgrammerHold&) = delete;

    // Nullopt: the run has the turn; otherwise the port it waits for.
    std::optional<std::string> TryTake();
    void Leave();
    void Follow(const RoadEvent& event);
    // Whether the box is on the bus, as a poll found it.
    void Present(bool boxPresent);

  private:
    std::shared_ptr<ProgrammerTurn> turn_;
    std::string port_;
    bool inProgrammer_ = false;
};

}  // namespace ZELKUtil::Cli
