#include "platform/steady_clock.h"

#include <chrono>
#include <thread>

namespace ZELKUtil {

std::int64_t SteadyClock::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyClock::SleepMs(std::int64_t ms) {
    if (ms <= 0) {
        return;
    }
    if (waiter_) {
        waiter_(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace ZELKUtil
