#include "bench_runs/run_limit.h"

#include <utility>

namespace ZELKSim {

RunLimit::RunLimit(RealTimeClock& clock, std::int64_t limitMs, std::int64_t graceMs,
                   std::function<void()> reached, std::function<void()> overdue)
    : clock_(clock),
      limitMs_(limitMs),
      graceMs_(graceMs),
      reached_(std::move(reached)),
      overdue_(std::move(overdue)) {
    if (limitMs_ > 0) {
        watcher_ = std::thread([this, startMs = clock_.NowMs()] { Watch(startMs); });
    }
}

RunLimit::~RunLimit() {
    Finish();
}

bool RunLimit::Finish() {
    finished_ = true;
    clock_.Notify();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    return wasReached_;
}

void RunLimit::Watch(std::int64_t startMs) {
    const auto finished = [this] { return finished_.load(); };
    if (clock_.WaitUntil(startMs + limitMs_, finished)) {
        return;
    }
    wasReached_ = true;
    reached_();
    if (!clock_.WaitUntil(clock_.NowMs() + graceMs_, finished)) {
        overdue_();
    }
}

}  // namespace ZELKSim
