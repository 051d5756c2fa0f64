#include "cli/road_progress.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

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

// The transfer's length: the image's size before its marks, then the pace of the marks, counted
// down between them.
TEST(RoadProgress, TheTransferFollowsItsMarks) {
    RoadProgress road;
    RoadProgress::Plan plan;
    plan.arm = true;
    plan.armImageBytes = 5 * 512 * 1024;
    road.Start(plan, 0);
    road.Reach({Leg::Transfer}, 10000);
    const std::int64_t returnMs = road.MsLeft(10000) - 5000;
    // Marks twice as slow as the size says: the estimate comes nearer their pace than the size's.
    for (int mark = 1; mark <= 20; ++mark) {
        road.Marks(mark, 25, 10000 + mark * 400);
    }
    const std::int64_t left = road.MsLeft(18000) - returnMs;
    EXPECT_GT(left, 5 * 300);
    EXPECT_LE(left, 5 * 400);
    // Between marks the time counts down; a late mark is waited for, not counted past.
    EXPECT_EQ(road.MsLeft(18300), road.MsLeft(18000) - 300);
    EXPECT_GE(road.MsLeft(25000) - returnMs, 4 * 300);
    // A tool that does not say how many marks make its bar: the size's estimate stands.
    RoadProgress untold;
    untold.Start(plan, 0);
    untold.Reach({Leg::Transfer}, 0);
    untold.Marks(3, 0, 1000);
    EXPECT_EQ(untold.MsLeft(1000), 4000 + returnMs);
}

// A recorded road of the large image: the installer and its wait, the countdown, the restart,
// 50 marks that come in pairs (the tool's output arrives in pieces), a pass that breaks off at
// its 20th mark and is run again, and the box's return. Told every 100 ms and at each event, as
// the watch asks: the percentage never falls, a told estimate stands for most of a second, and
// it moves with the time rather than jump, but for the pass run again, which adds its time.
TEST(RoadProgress, ARecordedRoadIsToldSteadily) {
    RoadProgress road;
    RoadProgress::Plan plan;
    plan.arm = true;
    plan.countdown = true;
    plan.armImageBytes = 8 * 1024 * 1024;
    road.Start(plan, 0);
    std::vector<std::pair<std::int64_t, std::function<void(std::int64_t)>>> events;
    for (int left = 5; left >= 1; --left) {
        events.emplace_back(4600 + (5 - left) * 1000,
                            [&road, left](auto t) { road.CountingDown(left, t); });
    }
    events.emplace_back(9600, [&road](auto t) { road.Reach({Leg::Restart}, t); });
    std::int64_t at = 14000;
    const auto pass = [&](int marks) {
        for (int mark = 1; mark <= marks; ++mark) {
            at += mark % 2 == 1 ? 620 : 20;
            events.emplace_back(at, [&road, mark](auto t) { road.Marks(mark, 50, t); });
        }
    };
    pass(20);
    at += 5000;
    const std::int64_t retried = at + 620;
    pass(50);
    events.emplace_back(at + 500, [&road](auto t) { road.Reach({Leg::Return}, t); });
    int percent = 0;
    std::optional<RoadProgress::Reading> told;
    std::int64_t toldAt = 0;
    bool retryTold = false;
    std::size_t next = 0;
    for (std::int64_t t = 0; t < at + 3000; t += 10) {
        const bool event = next < events.size() && events[next].first <= t;
        if (event) {
            events[next++].second(t);
        }
        const auto due = event || t % 100 == 0 ? road.Due(t) : std::nullopt;
        if (!due) {
            continue;
        }
        EXPECT_GE(due->percent, percent) << t;
        percent = due->percent;
        if (told && due->secondsLeft != told->secondsLeft) {
            EXPECT_GE(t - toldAt, 800) << t;
            // The finish it tells moves by a second's rounding and a small share of the time left.
            const std::int64_t moved =
                t + due->secondsLeft * 1000 - (toldAt + told->secondsLeft * 1000);
            if (!retryTold && t >= retried) {
                EXPECT_GT(moved, 5000) << t;
                retryTold = true;
            } else {
                EXPECT_LE(std::abs(moved), 1000 + due->secondsLeft * 1000 / 8) << t;
            }
            toldAt = t;
        }
        told = due;
    }
    EXPECT_GT(percent, 90);
}

}  // namespace
}  // namespace ZELKUtil::Cli
