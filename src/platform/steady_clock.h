#pragma once

#include <functional>

#include "platform/clock.h"

namespace ZELKUtil {

// The real clock. A waiter may be installed that spends the wait doing something useful, such as
// running the window's event loop without user input; without one the thread simply sleeps.
class SteadyClock final : public Clock {
  public:
    using Waiter = std::function<void(std::int64_t ms)>;

    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
    void SetWaiter(Waiter waiter) { waiter_ = std::move(waiter); }

  private:
    Waiter waiter_;
};

}  // namespace ZELKUtil
