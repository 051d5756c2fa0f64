#include "time/virtual_clock.h"

#include <algorithm>
#include <utility>

namespace ZELKSim {

void VirtualClock::SleepMs(std::int64_t ms) {
    if (ms > 0) {
        RunUntil(now_ + ms, nullptr);
    }
}

void VirtualClock::ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) {
    pending_.Add(owner, std::max(atMs, now_), std::move(action));
}

void VirtualClock::CancelAll(const void* owner) {
    pending_.Cancel(owner);
}

bool VirtualClock::WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) {
    return RunUntil(deadlineMs, &ready);
}

bool VirtualClock::RunUntil(std::int64_t targetMs, const std::function<bool()>* ready) {
    if (ready != nullptr && (*ready)()) {
        return true;
    }
    for (;;) {
        const std::optional<std::int64_t> nextMs = pending_.EarliestMs();
        if (!nextMs || *nextMs > targetMs) {
            break;
        }
        ActionQueue::Action due = pending_.TakeEarliest();
        now_ = std::max(now_, due.atMs);
        due.run();  // may schedule more, also within this advance
        if (ready != nullptr && (*ready)()) {
            return true;
        }
    }
    now_ = std::max(now_, targetMs);
    return ready != nullptr && (*ready)();
}

}  // namespace ZELKSim
