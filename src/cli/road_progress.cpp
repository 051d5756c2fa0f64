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
// The box's restart with its new firmware, and the poll that finds it.
constexpr std::int64_t kReturnMs = 2 * kPoll;
// Into the programmer mode, its firmware downloaded (a small image) and started.
constexpr std::int64_t kProgrammerMs = 4 * kPoll + kPoll / 2;
// The player's erase, programming and verification of the FPGA, and the controller's wait after.
constexpr std::int64_t kFpgaRunMs = 7 * kPoll + Waits::kAfterFpgaRunMs;
// What the current leg is given at least while it runs on past its expected length.
constexpr std::int64_t kOverrunMs = kPoll / 2;

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
        legs_.push_back({Leg::Transfer, TransferMs(plan.armImageBytes)});
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
    marks_ = firstMarks_ = marksExpected_ = 0;
    percent_ = 0;
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
    if (firstMarks_ == 0) {
        firstMarks_ = marks;
        firstMarkMs_ = nowMs;
    }
    marks_ = marks;
    marksExpected_ = expected;
}

std::int64_t RoadProgress::CurrentLeftMs(std::int64_t nowMs) const {
    const Step& step = legs_[current_];
    if (step.leg == Leg::Transfer && marksExpected_ > 0 && marks_ > firstMarks_) {
        // The pace of the marks so far, for the marks still to come.
        const std::int64_t perMark = (nowMs - firstMarkMs_) / (marks_ - firstMarks_);
        return perMark * std::max(marksExpected_ - marks_, 0);
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

}  // namespace ZELKUtil::Cli
