#include "virtual_clock.h"

#include <algorithm>
#include <utility>

namespace ZELKSim {

void VirtualClock::SleepMs(std::int64_t ms) {
    if (ms > 0) {
        RunUntil(now_ + ms, nullptr);
    }
}

void VirtualClock::ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) {
    pending_.push_back(Pending{std::max(atMs, now_), nextSequence_++, owner, std::move(action)});
}

void VirtualClock::CancelAll(const void* owner) {
    std::erase_if(pending_, [owner](const Pending& p) { return p.owner == owner; });
}

bool VirtualClock::WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) {
    return RunUntil(deadlineMs, &ready);
}

bool VirtualClock::RunUntil(std::int64_t targetMs, const std::function<bool()>* ready) {
    if (ready != nullptr && (*ready)()) {
        return true;
    }
    for (;;) {
        auto next = std::min_element(
            pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
                return a.atMs != b.atMs ? a.atMs < b.atMs : a.sequence < b.sequence;
            });
        if (next == pending_.end() || next->atMs > targetMs) {
            break;
        }
        Pending due = std::move(*next);
        pending_.erase(next);
        now_ = std::max(now_, due.atMs);
        due.action();  // may schedule more, also within this advance
        if (ready != nullptr && (*ready)()) {
            return true;
        }
    }
    now_ = std::max(now_, targetMs);
    return ready != nullptr && (*ready)();
}

}  // namespace ZELKSim
