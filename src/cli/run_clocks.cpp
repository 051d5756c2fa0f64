#include "cli/run_clocks.h"

#include <string>
#include <utility>

namespace ZELKUtil::Cli {

void RunClocks::Connected() {
    connectedOnce_ = true;
    inNormalMode_ = true;
    expectAway_ = false;
    awaitingEnd_ = waitsForWork_ = false;
}

void RunClocks::InOtherMode() {
    leftNormalMode_ = true;
    inNormalMode_ = false;
    expectAway_ = false;
}

void RunClocks::Resumed() {
    connectedOnce_ = leftNormalMode_ = awaitingEnd_ = waitsForWork_ = true;
    inNormalMode_ = expectAway_ = false;
}

void RunClocks::NewBox() {
    connectedOnce_ = leftNormalMode_ = inNormalMode_ = false;
    expectAway_ = unplugged_ = awaitingEnd_ = fpgaUnderway_ = waitsForWork_ = false;
}

bool RunClocks::Unplugged(bool boxPresent) {
    if (boxPresent || !connectedOnce_ || expectAway_) {
        unplugged_ = false;
        return false;
    }
    return !std::exchange(unplugged_, true);
}

std::optional<RunVerdict> RunClocks::Judge(std::int64_t now, bool boxPresent, bool stopping) {
    if (boxPresent || lastSeenMs_ == 0) {
        lastSeenMs_ = now;
    }
    if (auto gone = Gone(now, !boxPresent && connectedOnce_ && !expectAway_)) {
        return gone;
    }
    // A box this run never saw in normal mode, found in its bootloader or as the programmer: the
    // controller leaves it alone, so the run ends rather than wait for nothing.
    if (!connectedOnce_ && leftNormalMode_ && now - startMs_ > Periods::kStrangerMs) {
        // The way out, in words: the operator may know which box it is.
        return RunVerdict{BoxResult::LeftAlone,
                          "the box was found only in its bootloader or programmer mode, and "
                          "nothing tells which box it is (no run recorded sending it there), so "
                          "it was left alone; if you know its model, name it: zelk-cli upgrade "
                          "--port " +
                              port_ + " --as MODEL"};
    }
    // In its normal mode on the port all along, and never recognised: it gives no version.
    if (!connectedOnce_ && !leftNormalMode_ && boxPresent &&
        now - startMs_ > Periods::kStrangerMs) {
        return RunVerdict{BoxResult::Failed,
                          "the box answers in normal mode but gives no firmware version"};
    }
    // What Ctrl+C lets finish: a box sent to its bootloader (its download, its return), an FPGA
    // run (its erase and the programming that follows it). A box still in its normal mode keeps
    // its old firmware and stops here.
    if (stopping && !fpgaUnderway_ && !awaitingEnd_) {
        return RunVerdict{BoxResult::Stopped, "Ctrl+C came before the next step of its road"};
    }
    if (stopping && stopSeenMs_ == 0) {
        stopSeenMs_ = now;
    }
    // A box in its bootloader whose download never starts (a driver that never comes) is not
    // waited for without end after Ctrl+C: its record says where it is, for the next run.
    if (stopping && waitsForWork_ && now - stopSeenMs_ > Periods::kStrangerMs) {
        return RunVerdict{BoxResult::Stopped,
                          "Ctrl+C came, and nothing started in its bootloader since: the next run "
                          "resumes it from its record"};
    }
    if (now - startMs_ > limitMs_) {
        return RunVerdict{BoxResult::Failed, "the run took longer than its limit of " +
                                                 std::to_string(limitMs_ / 60000) + " min"};
    }
    return std::nullopt;
}

std::optional<RunVerdict> RunClocks::Gone(std::int64_t now, bool unplugged) const {
    // Still in its normal mode, the box had nothing written into it: there is nothing to come
    // back to. A box in its bootloader or programmer mode is waited for, since putting it back
    // lets its download or FPGA run go on.
    const bool inNormalMode = unplugged && inNormalMode_;
    const std::int64_t waitMs = inNormalMode ? Periods::kUnpluggedInNormalModeMs : goneMs_;
    if (now - lastSeenMs_ <= waitMs) {
        return std::nullopt;
    }
    if (!connectedOnce_) {
        return RunVerdict{BoxResult::Failed, "no box answered on this port for " +
                                                 std::to_string(waitMs / 1000) + " s"};
    }
    if (inNormalMode) {
        return RunVerdict{BoxResult::Interrupted,
                          "the box left the bus before anything was written into it"};
    }
    return RunVerdict{BoxResult::Interrupted,
                      "the box left the bus for over " + std::to_string(waitMs / 1000) + " s"};
}

}  // namespace ZELKUtil::Cli
