#pragma once

#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace ZELKUtil::Testing {

// A clock that only moves when something sleeps on it, and remembers every sleep.
class ManualClock final : public Clock {
  public:
    std::int64_t NowMs() override { return now; }
    void SleepMs(std::int64_t ms) override {
        sleeps.push_back(ms);
        if (ms > 0) {
            now += ms;
        }
    }
    std::int64_t now = 0;
    std::vector<std::int64_t> sleeps;
};

}  // namespace ZELKUtil::Testing
