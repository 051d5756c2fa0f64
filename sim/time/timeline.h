#pragma once

#include <cstdint>
#include <functional>

namespace ZELKSim {

// The emulated world's sense of time: when now is, actions that happen later (a box that restarts,
// answers late or sends an event; a scenario's plug-in), and waits that end early when the world
// changes. VirtualClock runs it in virtual time, RealTimeClock on the wall clock.
class Timeline {
  public:
    virtual ~Timeline() = default;
    virtual std::int64_t NowMs() = 0;
    // Runs `action` once time reaches `atMs` (a time already past means as soon as possible).
    // Actions at the same time run in the order they were scheduled. `owner` names whoever
    // scheduled it so that CancelAll can take its actions back when it goes away.
    virtual void ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) = 0;
    // Drops every pending action of `owner`; on return none of them runs or is running.
    virtual void CancelAll(const void* owner) = 0;
    // Lets time pass until `ready` holds or `deadlineMs` is reached; returns the last `ready()`.
    // The caller holds no lock that a scheduled action needs.
    virtual bool WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) = 0;
    // Wakes waiters whose `ready` may have become true.
    virtual void Notify() = 0;
};

}  // namespace ZELKSim
