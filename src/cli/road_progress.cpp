#include "cli/road_progress.h"

#include <algorithm>

#include "controller/periods.h"
#include "controller/waits.h"

namespace ZELKUtil::Cli {
namespace {

constexpr std::int64_t kPoll = Periods::kPollMs;
// The driver installer's start and the controller's wait for it, and the polls around them.
constexpr std::int64_t kPrepareMs = Waits::kAfterDriverInstallMs + 2 * kPoll;
// Each step of the countdown takes a poll (the first its own wait of as long), up to the restart
// request.
constexpr std::int64_t CountdownMs(int left) {
    return left * kPoll;
}
// The wait for the box to come back as a DFU device, the poll that finds it there, and the
// download tool's set-up.
constexpr std::int64_t kRestartMs = Waits::kAfterBootloaderStartMs + 2 * kPoll;
// dfu-util's usual pace over full-speed USB (3 MiB in about 5.5 s, seen on the bench), and the
// least a transfer takes.
constexpr std::int64_t kTransferBytesPerSecond = std::int64_t{512} * 1024;
constexpr std::int64_t kLeastTransferMs = kPoll;
// The box's restart with its new firmware (about a second and a half off the bus), the poll that
// finds it, and the one that ends its road.
constexpr std::int64_t kReturnMs = 3 * kPoll;
// Into the programmer mode, its firmware downloaded (a small image) and started.
constexpr std::int64_t kProgrammerMs = 4 * kPoll + kPoll / 2;
// The player's erase, programming and verification of the FPGA, and the controller's wait after.
constexpr std::int64_t kFpgaRunMs = 7 * kPoll + Waits::kAfterFpgaRunMs;
// What the current leg is given at least while it runs on past its expected length.
constexpr std::int64_t kOverrunMs = kPoll / 2;
// How many marks' worth the image's size weighs against the marks' own pace: the marks' timing is
// coarse (the tool's output comes in pieces, two marks a few ms apart and then a long gap), so the
// first few alone must not set the pace for the fifty after them.
constexpr std::int64_t kSizeWeightMarks = 8;
// How long a told estimate of the time left stands: it is renewed with the time at most this
// often. The road's events come in bursts (a mark, then its line in the log a few ms later, each
// a chance to tell the progress), and two figures a moment apart read as a flicker, not as news.
constexpr std::int64_t kEstimateStandsMs = 1000;

std::int64_t TransferMs(const std::optional<std::uint64_t>& bytes) {
    if (!bytes) {
        return kLeastTransferMs;
    }
    const auto ms = static_cast<std::int64_t>(*bytes * 1000 / kTransferBytesPerSecond);
    return std::max(ms, kLeastTransferMs);
}

}  // namespace

void RoadProgress::Start(const Plan& plan, std::int64_t nowMs) {
    legs_.clear();
    legs_.push_back({Leg::Prepare, kPrepareMs});
    if (plan.countdown) {
        legs_.push_back({Leg::Countdown, CountdownMs(5)});
    }
    if (plan.arm) {
        legs_.push_back({Leg::Restart, kRestartMs});
        transferMs_ = TransferMs(plan.armImageBytes);
        legs_.push_back({Leg::Transfer, transferMs_});
        legs_.push_back({Leg::Return, kReturnMs});
        if (plan.fpga) {
            // The FPGA follows once the box is back: prepared for as the first run was.
            legs_.push_back({Leg::Prepare, kPrepareMs});
        }
    }
    if (plan.fpga) {
        legs_.push_back({Leg::Programmer, kProgrammerMs});
        legs_.push_back({Leg::FpgaRun, kFpgaRunMs});
    }
    current_ = 0;
    startMs_ = legStartMs_ = nowMs;
    marks_ = pacedMarks_ = marksExpected_ = 0;
    pacedMs_ = lastMarkMs_ = 0;
    percent_ = 0;
    told_.reset();
}

void RoadProgress::Reach(std::initializer_list<Leg> legs, std::int64_t nowMs) {
    for (std::size_t i = current_; i < legs_.size(); ++i) {
        if (std::find(legs.begin(), legs.end(), legs_[i].leg) != legs.end()) {
            if (i != current_) {
                current_ = i;
                legStartMs_ = nowMs;
            }
            return;
        }
    }
}

void RoadProgress::CountingDown(int left, std::int64_t nowMs) {
    Reach({Leg::Countdown}, nowMs);
    if (current_ < legs_.size() && legs_[current_].leg == Leg::Countdown) {
        legs_[current_].expectedMs = CountdownMs(left);
        legStartMs_ = nowMs;
    }
}

void RoadProgress::Marks(int marks, int expected, std::int64_t nowMs) {
    Reach({Leg::Transfer}, nowMs);
    if (current_ >= legs_.size() || legs_[current_].leg != Leg::Transfer || marks <= 0) {
        return;
    }
    if (marks > marks_ && marks_ > 0) {
        // Paced from mark to mark: the time before a pass's first mark is the tool's set-up.
        pacedMarks_ += marks - marks_;
        pacedMs_ += nowMs - lastMarkMs_;
    }
    if (marks != marks_) {
        // A new pass starts its marks over (the estimate grows by their time; the percentage
        // holds, as it never falls).
        marks_ = marks;
        lastMarkMs_ = nowMs;
    }
    marksExpected_ = expected;
}

std::int64_t RoadProgress::TransferLeftMs(std::int64_t nowMs) const {
    // The pace is the marks' own, weighed with the image's size while only a few marks are in,
    // and it is measured at the latest mark rather than now: the time since then counts down at
    // the pace, so the estimate runs smoothly between marks instead of jumping at each (timed
    // to now, a mark that has just come makes the pace look quick, and one that is due makes it
    // look slow).
    const std::int64_t perMark = (pacedMs_ + kSizeWeightMarks * transferMs_ / marksExpected_) /
                                 (pacedMarks_ + kSizeWeightMarks);
    const std::int64_t toCome = std::max(marksExpected_ - marks_, 0);
    const std::int64_t sinceMark = nowMs - lastMarkMs_;
    // A mark that is late is still to come: the estimate waits for it rather than fall past it.
    return std::max(perMark * toCome - sinceMark, perMark * std::max<std::int64_t>(toCome - 1, 0));
}

std::int64_t RoadProgress::CurrentLeftMs(std::int64_t nowMs) const {
    const Step& step = legs_[current_];
    if (step.leg == Leg::Transfer && marksExpected_ > 0 && marks_ > 0) {
        return TransferLeftMs(nowMs);
    }
    return std::max(step.expectedMs - (nowMs - legStartMs_), kOverrunMs);
}

std::int64_t RoadProgress::MsLeft(std::int64_t nowMs) const {
    if (current_ >= legs_.size()) {
        return 0;
    }
    std::int64_t left = CurrentLeftMs(nowMs);
    for (std::size_t i = current_ + 1; i < legs_.size(); ++i) {
        left += legs_[i].expectedMs;
    }
    return left;
}

int RoadProgress::Percent(std::int64_t nowMs) {
    if (legs_.empty()) {
        return percent_;
    }
    const std::int64_t elapsed = nowMs - startMs_;
    const std::int64_t whole = elapsed + MsLeft(nowMs);
    const auto percent = whole > 0 ? static_cast<int>(elapsed * 100 / whole) : 0;
    percent_ = std::max(percent_, std::min(percent, 99));
    return percent_;
}

std::optional<RoadProgress::Reading> RoadProgress::Due(std::int64_t nowMs) {
    Reading now{Percent(nowMs), (MsLeft(nowMs) + 999) / 1000};
    const std::int64_t standing = nowMs - toldSecondsMs_;
    // A reading told for its percentage renews the seconds when they are nearly due anyway: a
    // renewal of its own a few ms after it would tell two figures at once.
    const bool renew = !told_ || standing >= kEstimateStandsMs ||
                       (now.percent != told_->percent && standing >= kEstimateStandsMs * 4 / 5);
    if (!renew) {
        now.secondsLeft = told_->secondsLeft;
    }
    if (told_ && now.percent == told_->percent && now.secondsLeft == told_->secondsLeft) {
        return std::nullopt;
    }
    if (renew) {
        toldSecondsMs_ = nowMs;
    }
    told_ = now;
    return now;
}

}  // namespace ZELKUtil::Cli
