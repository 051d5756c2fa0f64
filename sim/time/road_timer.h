#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process_service.h"

namespace ZELKSim {

// Where the time of an upgrade road goes: what the road cannot do without (the controller's
// mandated waits, the countdown's timer ticks, the tools' runs, the box's own time off the bus)
// against the wall time it took. Thread-safe: tools end and boxes restart on other threads.
class RoadTimer {
  public:
    enum class Kind { MandatedWait, CountdownTick, Tool, OffBus };

    explicit RoadTimer(ZELKUtil::Clock& clock) : clock_(clock) {}

    std::int64_t NowMs() { return clock_.NowMs(); }
    void Add(Kind kind, std::int64_t fromMs, std::int64_t toMs);
    // The box left the bus (true) or came back (false).
    void BoxOnBus(bool onBus);

    // "Road to ... : ..." with each kind's sum, their total and the ratio to the wall time, and
    // the ratio when time in which two of them overlap counts once.
    std::string Report(std::int64_t startMs, std::int64_t endMs) const;

  private:
    struct Span {
        Kind kind;
        std::int64_t fromMs;
        std::int64_t toMs;
    };

    ZELKUtil::Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<Span> spans_;
    std::int64_t offBusSinceMs_ = -1;
};

// The controller's clock, noting every wait but the short slices in which it looks at a running
// tool.
class RoadClock final : public ZELKUtil::Clock {
  public:
    RoadClock(ZELKUtil::Clock& inner, RoadTimer& timer) : inner_(inner), timer_(timer) {}
    std::int64_t NowMs() override { return inner_.NowMs(); }
    void SleepMs(std::int64_t ms) override;
    void SliceMs(std::int64_t ms) override { inner_.SliceMs(ms); }

  private:
    ZELKUtil::Clock& inner_;
    RoadTimer& timer_;
};

// The controller's process service, noting each tool's run from its start to its exit. The timer
// must outlive the tools it times (their exits may come after this wrapper has gone).
class RoadTools final : public ZELKUtil::ProcessService {
  public:
    RoadTools(ZELKUtil::ProcessService& inner, RoadTimer& timer) : inner_(inner), timer_(timer) {}
    ZELKUtil::Result<std::unique_ptr<ZELKUtil::ChildProcess>> Start(
        const ZELKUtil::StartRequest& request) override;

  private:
    ZELKUtil::ProcessService& inner_;
    RoadTimer& timer_;
};

}  // namespace ZELKSim
