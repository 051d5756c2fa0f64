#pragma once

#include <optional>

#include "controller/road_events.h"
#include "controller/view.h"
#include "package/zelk_profile.h"

namespace ZELKUtil::Cli {

// What zelk-cli ticks where the window's operator would, for a package that waits for the
// operator's ticks: what the box's profile programs, its ARM firmware first and then, once the box
// is back with the package's version, its FPGA (the box comes back in normal mode between the
// two; the other order would leave it in its programmer mode, waiting for a hand to re-plug it).
// Each once: a tick that did not bring the box there is not made again.
class BenchOperator {
  public:
    // The controller decided for the box in normal mode; `profile`: the one the box named.
    void Decided(const Decision& decision, const std::optional<ZelkProfile>& profile);
    // The box came back with the package's version after its ARM download.
    void Returned();
    // The box is met in its bootloader or programmer mode and known all the same: what its road
    // still writes is ticked where the controller waits for the operator there.
    void Resume(bool arm, bool fpga);
    // The box's earlier road was cut short after its ARM firmware and before its FPGA: the FPGA
    // is ticked for it even where it has the package's version.
    void OweFpga() { fpgaOwed_ = true; }
    // That FPGA is ticked: the box's road is not over with its version.
    bool FinishingFpga() const { return fpgaOwed_ && fpgaTicked_; }
    // The check box to tick before the next poll, once.
    std::optional<Control> TickWanted();

  private:
    std::optional<Control> wanted_;
    bool armTicked_ = false;
    bool fpgaTicked_ = false;
    bool fpgaAfterArm_ = false;
    bool resumeArm_ = false;
    bool resumeFpga_ = false;
    bool fpgaOwed_ = false;
};

}  // namespace ZELKUtil::Cli
