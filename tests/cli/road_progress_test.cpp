#include "cli/road_progress.h"

#include <gtest/gtest.h>

namespace ZELKUtil::Cli {
namespace {

using Leg = RoadProgress::Leg;

// The ARM road in automatic mode: each leg's known length counts down as it runs, a leg behind
// the road is never gone back to, and the percentage never falls when a leg runs long.
TEST(RoadProgress, LegsCountDownAndTheRoadNeverGoesBack) {
    RoadProgress road;
    RoadProgress::Plan plan;
    plan.arm = true;
    plan.countdown = true;
    road.Start(plan, 0);
    const std::int64_t whole = road.MsLeft(0);
    EXPECT_EQ(road.Percent(0), 0);
    road.CountingDown(5, 4000);
    const std::int64_t atCountdown = road.MsLeft(4000);
    EXPECT_LT(atCountdown, whole);
    road.CountingDown(2, 7000);
    EXPECT_EQ(road.MsLeft(7000), atCountdown - 3000);
    road.Reach({Leg::Restart}, 9000);
    const int percent = road.Percent(9000);
    EXPECT_GT(percent, 40);
    const std::int64_t atRestart = road.MsLeft(9000);
    // The countdown is behind: its event changes nothing.
    road.CountingDown(5, 9000);
    road.Reach({Leg::Prepare}, 9000);
    EXPECT_EQ(road.MsLeft(9000), atRestart);
    // The restart takes a minute instead of its seconds: the estimate grows, the percentage stays.
    EXPECT_GE(road.Percent(69000), percent);
    road.Reach({Leg::Return}, 70000);
    EXPECT_EQ(road.Percent(99999999), 99);
}

// The transfer's length: the image's size before its marks, then the pace of the marks.
TEST(RoadProgress, TheTransferFollowsItsMarks) {
    RoadProgress road;
    RoadProgress::Plan plan;
    plan.arm = true;
    plan.armImageBytes = 5 * 512 * 1024;
    road.Start(plan, 0);
    road.Reach({Leg::Transfer}, 10000);
    const std::int64_t returnMs = road.MsLeft(10000) - 5000;
    road.Marks(1, 25, 11000);
    road.Marks(5, 25, 12000);
    // Four marks in a second: 250 ms each for the 20 still to come.
    EXPECT_EQ(road.MsLeft(12000), std::int64_t{20} * 250 + returnMs);
    // A tool that does not say how many marks make its bar: the size's estimate stands.
    RoadProgress untold;
    untold.Start(plan, 0);
    untold.Reach({Leg::Transfer}, 0);
    untold.Marks(3, 0, 1000);
    EXPECT_EQ(untold.MsLeft(1000), 4000 + returnMs);
}

}  // namespace
}  // namespace ZELKUtil::Cli
