#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "time/real_time_clock.h"

namespace ZELKSim {

// How long a bench run may take, watched from a thread of its own: a run that waits for
// something that never comes (a --watch whose stop never comes) must end with a word rather than
// run for ever. Past `limitMs` of the clock's time `reached` runs (it presses Ctrl+C); should the
// run still not have finished `graceMs` later, `overdue` runs. Both run on the watching thread.
class RunLimit {
  public:
    RunLimit(RealTimeClock& clock, std::int64_t limitMs, std::int64_t graceMs,
             std::function<void()> reached, std::function<void()> overdue);
    ~RunLimit();
    RunLimit(const RunLimit&) = delete;
    RunLimit& operator=(const RunLimit&) = delete;

    // The run has finished: the watching ends. Returns whether the limit was reached first.
    bool Finish();

  private:
    void Watch(std::int64_t startMs);

    RealTimeClock& clock_;
    const std::int64_t limitMs_;
    const std::int64_t graceMs_;
    std::function<void()> reached_;
    std::function<void()> overdue_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> wasReached_{false};
    std::thread watcher_;
};

}  // namespace ZELKSim
