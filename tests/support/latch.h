#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ZELKUtil::Testing {

// Set on one thread, awaited on another.
class Latch {
  public:
    // Notifies under the lock: the waiter may destroy the latch as soon as it sees it set.
    void Set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    // False when a minute passes first.
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace ZELKUtil::Testing
