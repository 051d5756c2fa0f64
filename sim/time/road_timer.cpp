#include "time/road_timer.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "controller/upgrade_controller.h"

namespace ZELKSim {

void RoadTimer::Add(Kind kind, std::int64_t fromMs, std::int64_t toMs) {
    const std::lock_guard lock(mutex_);
    spans_.push_back({kind, fromMs, toMs});
}

void RoadTimer::BoxOnBus(bool onBus) {
    const std::int64_t now = clock_.NowMs();
    const std::lock_guard lock(mutex_);
    if (!onBus && offBusSinceMs_ < 0) {
        offBusSinceMs_ = now;
    } else if (onBus && offBusSinceMs_ >= 0) {
        spans_.push_back({Kind::OffBus, offBusSinceMs_, now});
        offBusSinceMs_ = -1;
    }
}

std::string RoadTimer::Report(std::int64_t startMs, std::int64_t endMs) const {
    const std::lock_guard lock(mutex_);
    std::array<std::int64_t, 4> sums{};
    std::vector<std::pair<std::int64_t, std::int64_t>> within;
    for (const Span& span : spans_) {
        const std::int64_t from = std::max(span.fromMs, startMs);
        const std::int64_t to = std::min(span.toMs, endMs);
        if (to > from) {
            sums[static_cast<std::size_t>(span.kind)] += to - from;
            within.emplace_back(from, to);
        }
    }
    std::sort(within.begin(), within.end());
    std::int64_t covered = 0;
    std::int64_t reached = startMs;
    for (const auto& [from, to] : within) {
        covered += std::max<std::int64_t>(0, to - std::max(from, reached));
        reached = std::max(reached, to);
    }
    std::int64_t total = 0;
    for (const std::int64_t sum : sums) {
        total += sum;
    }
    const double wall = static_cast<double>(endMs - startMs);
    char text[400];
    std::snprintf(text, sizeof text,
                  "Road: %.2f s to \"Upgrade Complete\"; mandated waits %.2f s, countdown ticks "
                  "%.2f s, tools %.2f s, box off the bus %.2f s: together %.2f s, wall time / "
                  "that = %.3f; counting time in which they overlap once, %.2f s, ratio %.3f.",
                  wall / 1000, static_cast<double>(sums[0]) / 1000,
                  static_cast<double>(sums[1]) / 1000, static_cast<double>(sums[2]) / 1000,
                  static_cast<double>(sums[3]) / 1000, static_cast<double>(total) / 1000,
                  total > 0 ? wall / static_cast<double>(total) : 0.0,
                  static_cast<double>(covered) / 1000,
                  covered > 0 ? wall / static_cast<double>(covered) : 0.0);
    return text;
}

void RoadClock::SleepMs(std::int64_t ms) {
    const std::int64_t from = inner_.NowMs();
    inner_.SleepMs(ms);
    timer_.Add(RoadTimer::Kind::MandatedWait, from, inner_.NowMs());
}

ZELKUtil::Result<std::unique_ptr<ZELKUtil::ChildProcess>> RoadTools::Start(
    const ZELKUtil::StartRequest& request) {
    ZELKUtil::StartRequest timed = request;
    const std::int64_t started = timer_.NowMs();
    // The exit comes on whatever thread ends the tool (the real-time clock's worker), possibly
    // after this wrapper has gone: only the timer, which must outlive the tools, is used.
    timed.onExit = [&timer = timer_, started, onExit = request.onExit] {
        timer.Add(RoadTimer::Kind::Tool, started, timer.NowMs());
        if (onExit) {
            onExit();
        }
    };
    return inner_.Start(timed);
}

}  // namespace ZELKSim
