#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace ZELKUtil::Cli {

// How far one box is along its road, and how long the rest should take: the road is a row of legs
// whose lengths are known before they start (the controller's own waits and polls) or learnt
// while they run (a download's marks). Pure: it is told the time with every call.
class RoadProgress {
  public:
    enum class Leg {
        Prepare,     // from the box's arrival to its countdown or restart (its driver installed)
        Countdown,   // the automatic countdown, up to the restart request
        Restart,     // into the bootloader, and the download tool's set-up
        Transfer,    // the ARM image's transfer, told by its marks
        Return,      // the box restarts with its new firmware and is found again
        Programmer,  // into the FPGA programmer, its firmware downloaded and started
        FpgaRun,     // the STAPL player's erase, programming and verification
    };

    struct Plan {
        bool arm = false;
        bool fpga = false;
        bool countdown = false;
        // The ARM image's size, when known: its transfer's length before any mark tells it.
        std::optional<std::uint64_t> armImageBytes;
    };

    // The box's road begins now.
    void Start(const Plan& plan, std::int64_t nowMs);
    // The road has reached the first of these legs still ahead (or the current one); a leg that is
    // not ahead is ignored, so that an event out of order never moves the road back.
    void Reach(std::initializer_list<Leg> legs, std::int64_t nowMs);
    // A countdown step: `left` steps remain.
    void CountingDown(int left, std::int64_t nowMs);
    // The transfer's marks so far of `expected` (0: the tool does not tell). Fewer marks than
    // before are a new pass of the download: its marks are still to come again.
    void Marks(int marks, int expected, std::int64_t nowMs);

    bool Started() const { return !legs_.empty(); }
    // 0 to 99 while under way, never less than before.
    int Percent(std::int64_t nowMs);
    std::int64_t MsLeft(std::int64_t nowMs) const;

    // What the box's progress line says: the percentage, and the whole seconds left.
    struct Reading {
        int percent = 0;
        std::int64_t secondsLeft = 0;
    };
    // The reading to tell now, when it differs from the one told last (and is then taken as
    // told). The percentage is told as it moves; the seconds left are renewed at most once a
    // second, so that the readings told in a moment all carry one estimate.
    std::optional<Reading> Due(std::int64_t nowMs);

  private:
    struct Step {
        Leg leg;
        std::int64_t expectedMs;
    };
    std::int64_t CurrentLeftMs(std::int64_t nowMs) const;
    std::int64_t TransferLeftMs(std::int64_t nowMs) const;

    std::vector<Step> legs_;
    std::size_t current_ = 0;
    std::int64_t startMs_ = 0;
    std::int64_t legStartMs_ = 0;
    // The transfer's whole length as its image's size tells it, before any mark.
    std::int64_t transferMs_ = 0;
    // The marks timed so far (in every pass, from each pass's first mark) and the time they took;
    // the latest mark and when it came.
    int pacedMarks_ = 0;
    std::int64_t pacedMs_ = 0;
    int marks_ = 0;
    std::int64_t lastMarkMs_ = 0;
    int marksExpected_ = 0;
    int percent_ = 0;
    std::optional<Reading> told_;
    // When the seconds told last were renewed.
    std::int64_t toldSecondsMs_ = 0;
};

}  // namespace ZELKUtil::Cli
