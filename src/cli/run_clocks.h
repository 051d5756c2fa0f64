#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "cli/box_outcome.h"

namespace ZELKUtil::Cli {

// zelk-cli's own bounds on one port's run, beside the road the controller tells: how long its box
// may be off the bus, a box the controller never recognised, the run's limit, and what Ctrl+C lets
// finish. Fed with where the box is, as the road's events say.
class RunClocks {
  public:
    RunClocks(std::string port, std::int64_t startMs, std::int64_t goneMs, std::int64_t limitMs)
        : port_(std::move(port)), startMs_(startMs), goneMs_(goneMs), limitMs_(limitMs) {}

    // The box answered in normal mode.
    void Connected();
    // It leaves the bus for a moment, as it should: restarting into its bootloader, into the
    // programmer, or into its new firmware.
    void Restarts() { expectAway_ = true; }
    // It was found in its bootloader or as the programmer.
    void InOtherMode();
    // It is known without having answered in normal mode (an earlier run's record, or the
    // operator, names it) and was sent to its bootloader: its road goes on, and Ctrl+C lets it.
    void Resumed();
    // The box has left its normal mode for its bootloader, or only its return or the end of its
    // road is still to come (an ARM download ended well, or the box came back with the package's
    // version): its road is finished, Ctrl+C or not, rather than a box stranded in its bootloader.
    void AwaitEnd(bool awaiting) { awaitingEnd_ = awaiting; }
    // The bootloader request went out: its road is finished after Ctrl+C, unless nothing starts in
    // its bootloader for a while (its record lets the next run resume it).
    void SentToBootloader() {
        awaitingEnd_ = true;
        waitsForWork_ = true;
    }
    // A download into it began.
    void WorkStarted() { waitsForWork_ = false; }
    // Its next download waits for another box (the bench's one FPGA programmer): after Ctrl+C it
    // is waited for as a box whose bootloader work never starts.
    void WorkWaits() { waitsForWork_ = true; }
    // The FPGA player runs, or an erase's programming is still to follow: Ctrl+C lets it finish.
    void FpgaRun(bool underway) { fpgaUnderway_ = underway; }
    // Another box took the place of the one followed so far: the clocks start for it.
    void NewBox();

    // The box is off the bus where it should be on it; true the first time (to be told at once).
    bool Unplugged(bool boxPresent);
    // How the run ends by a clock, if it does now.
    std::optional<RunVerdict> Judge(std::int64_t now, bool boxPresent, bool stopping);
    bool EverConnected() const { return connectedOnce_; }

  private:
    std::optional<RunVerdict> Gone(std::int64_t now, bool unplugged) const;

    std::string port_;
    std::int64_t startMs_;
    std::int64_t goneMs_;
    std::int64_t limitMs_;
    bool connectedOnce_ = false;
    bool leftNormalMode_ = false;
    bool inNormalMode_ = false;
    bool expectAway_ = false;
    bool unplugged_ = false;
    bool awaitingEnd_ = false;
    bool fpgaUnderway_ = false;
    bool waitsForWork_ = false;
    std::int64_t lastSeenMs_ = 0;
    // When the run first saw Ctrl+C (0: not yet).
    std::int64_t stopSeenMs_ = 0;
};

}  // namespace ZELKUtil::Cli
