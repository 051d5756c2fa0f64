#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "time/action_queue.h"
#include "time/timeline.h"

namespace ZELKSim {

// Wall-clock time for a live demonstration: sleeps really sleep, waits really wait (on a condition
// variable, up to their deadline) and scheduled actions run on a worker thread of this clock at
// their time. Whatever an action touches must therefore be guarded by its owner. At a speed above
// 1 time runs that many times faster than the wall clock (tests of several threads at once, which
// virtual time cannot serve).
class RealTimeClock final : public ZELKUtil::Clock, public Timeline {
  public:
    explicit RealTimeClock(int speed = 1);
    ~RealTimeClock() override;
    RealTimeClock(const RealTimeClock&) = delete;
    RealTimeClock& operator=(const RealTimeClock&) = delete;

    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
    void ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) override;
    void CancelAll(const void* owner) override;
    bool WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) override;
    void Notify() override;

  private:
    void RunActions();
    // The wall-clock moment of a time of this clock.
    std::chrono::steady_clock::time_point ToTimePoint(std::int64_t ms) const;

    const std::int64_t speed_;
    const std::int64_t startMs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    ActionQueue pending_;
    std::uint64_t generation_ = 0;  // counts Notify calls, so that no wake-up is missed
    const void* runningOwner_ = nullptr;
    bool running_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace ZELKSim
