// What Ctrl+C lets a box's run finish: never a box stranded in its bootloader, never a wait
// without end.
#include "cli/run_clocks.h"

#include <gtest/gtest.h>

namespace ZELKUtil::Cli {
namespace {

constexpr std::int64_t kGoneMs = 30000;
constexpr std::int64_t kLimitMs = std::int64_t{20} * 60 * 1000;

TEST(RunClocks, CtrlCFinishesABoxSentToItsBootloaderAndWaitsForNothingWithoutEnd) {
    // Still in normal mode: it keeps its old firmware and stops at once.
    RunClocks normal("1-1", 0, kGoneMs, kLimitMs);
    normal.Connected();
    const auto stopped = normal.Judge(1000, true, true);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->result, BoxResult::Stopped);

    // Sent to its bootloader: finished, its download and its return included.
    RunClocks sent("1-1", 0, kGoneMs, kLimitMs);
    sent.Connected();
    sent.SentToBootloader();
    sent.Restarts();
    sent.InOtherMode();
    EXPECT_FALSE(sent.Judge(1000, true, true));
    sent.WorkStarted();
    EXPECT_FALSE(sent.Judge(60000, true, true));

    // In its bootloader with nothing started for a while after Ctrl+C (a driver that never
    // comes): left for the next run, which resumes it from its record.
    RunClocks idle("1-1", 0, kGoneMs, kLimitMs);
    idle.Connected();
    idle.SentToBootloader();
    idle.InOtherMode();
    EXPECT_FALSE(idle.Judge(1000, true, true));
    EXPECT_FALSE(idle.Judge(1000 + Periods::kStrangerMs, true, true));
    const auto left = idle.Judge(1001 + Periods::kStrangerMs, true, true);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->result, BoxResult::Stopped);
    EXPECT_NE(left->reason.find("resumes it from its record"), std::string::npos);
}

}  // namespace
}  // namespace ZELKUtil::Cli
