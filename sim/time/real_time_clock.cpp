#include "time/real_time_clock.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace ZELKSim {

namespace {

std::int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RealTimeClock::RealTimeClock(int speed)
    : speed_(std::max(speed, 1)), startMs_(SteadyNowMs()), worker_([this] { RunActions(); }) {}

std::chrono::steady_clock::time_point RealTimeClock::ToTimePoint(std::int64_t ms) const {
    const std::int64_t realMs = startMs_ + (ms - startMs_) / speed_;
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(realMs));
}

RealTimeClock::~RealTimeClock() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

std::int64_t RealTimeClock::NowMs() {
    return startMs_ + (SteadyNowMs() - startMs_) * speed_;
}

void RealTimeClock::SleepMs(std::int64_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / speed_));
    }
}

void RealTimeClock::ScheduleAt(const void* owner, std::int64_t atMs, std::function<void()> action) {
    {
        std::lock_guard lock(mutex_);
        pending_.Add(owner, atMs, std::move(action));
    }
    changed_.notify_all();
}

void RealTimeClock::CancelAll(const void* owner) {
    std::unique_lock lock(mutex_);
    pending_.Cancel(owner);
    changed_.wait(lock, [&] { return !running_ || runningOwner_ != owner; });
}

bool RealTimeClock::WaitUntil(std::int64_t deadlineMs, const std::function<bool()>& ready) {
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(mutex_);
            seen = generation_;
        }
        if (ready()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        if (NowMs() >= deadlineMs) {
            lock.unlock();
            return ready();
        }
        changed_.wait_until(lock, ToTimePoint(deadlineMs), [&] { return generation_ != seen; });
    }
}

void RealTimeClock::Notify() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
    }
    changed_.notify_all();
}

void RealTimeClock::RunActions() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const std::optional<std::int64_t> nextMs = pending_.EarliestMs();
        if (!nextMs) {
            changed_.wait(lock);
            continue;
        }
        if (*nextMs > NowMs()) {
            changed_.wait_until(lock, ToTimePoint(*nextMs));
            continue;
        }
        ActionQueue::Action due = pending_.TakeEarliest();
        running_ = true;
        runningOwner_ = due.owner;
        lock.unlock();
        due.run();
        lock.lock();
        running_ = false;
        ++generation_;
        changed_.notify_all();
    }
}

}  // namespace ZELKSim
