#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace ZELKUtil::Testing {

// Ends the test program with a failure when the code under test is still running after the
// limit: a test of something that used to hang or crawl fails within that time instead of hanging.
// It is a guard against hangs, not a measure of speed; the limit is generous and longer under the
// sanitizers.
class Watchdog {
  public:
    explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(10))
        : thread_([this, what = std::move(what), limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit * kSlowdown, [this] { return disarmed_; })) {
                  std::fprintf(stderr, "watchdog: %s still running after %lld s\n", what.c_str(),
                               static_cast<long long>((limit * kSlowdown).count()));
                  std::fflush(stderr);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    static constexpr int kSlowdown = 4;
#else
    static constexpr int kSlowdown = 1;
#endif
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

}  // namespace ZELKUtil::Testing
