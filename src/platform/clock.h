#pragma once

#include <cstdint>

namespace ZELKUtil {

// Time as the controller and the device class see it. The product's clock is the steady clock and
// keeps the window painting while it sleeps; tests and the emulator use a virtual clock whose sleep
// advances time at once and lets the emulated world act.
class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale with an arbitrary origin.
    virtual std::int64_t NowMs() = 0;
    // Blocks the caller for the given time; 0 or less returns at once.
    virtual void SleepMs(std::int64_t ms) = 0;
    // A slice of a wait for a running tool (its output or its exit) before looking at it again:
    // a turn of the window's event loop, not a wait of its own. Clocks that note the controller's
    // waits leave these out.
    virtual void SliceMs(std::int64_t ms) { SleepMs(ms); }
};

}  // namespace ZELKUtil
