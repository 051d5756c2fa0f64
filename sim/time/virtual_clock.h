#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/clock.h"
#include "time/action_queue.h"
#include "time/timeline.h"

namespace ZELKSim {

// Virtual time for tests and scenario runs: nothing moves unless someone sleeps or waits, and then
// time jumps at once, running the scheduled actions up to the new time in time order. Everything
// happens on the caller's thread, so a run is fully deterministic. Not thread-safe.
class VirtualClock final : public ZELKUtil::Clock, public Timeline {
  public:
    explicit VirtualClock(std::int64_t startMs = 0) : now_(startMs) {}

    std::int64_t NowMs() override { return now_; }
    // Advances by `ms`, running every action due up to the new time.
    void SleepMs(std::int64_t ms) override;
    void ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) override;
    // Convenience for tests and scenarios: an action `delayMs` from now, owned by nobody.
    void ScheduleAfter(std::int64_t delayMs, std::function<void()> action) {
        ScheduleAt(nullptr, now_ + delayMs, std::move(action));
    }
    void CancelAll(const void* owner) override;
    // Runs due actions one by one and stops right after the one that makes `ready` true, with the
    // time at that action's; otherwise the time ends at the deadline.
    bool WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) override;
    void Notify() override {}

    std::size_t PendingActions() const { return pending_.Size(); }

  private:
    bool RunUntil(std::int64_t targetMs, const std::function<bool()>* ready);

    std::int64_t now_;
    ActionQueue pending_;
};

}  // namespace ZELKSim
