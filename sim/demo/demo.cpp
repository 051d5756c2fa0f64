#include "demo/demo.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

#include "controller/periods.h"
#include "controller/upgrade_controller.h"
#include "demo/demo_world.h"
#include "platform/steady_clock.h"
#include "scenario/console_view.h"
#include "scenario/scenario_world.h"
#include "time/road_timer.h"

namespace fs = std::filesystem;

namespace ZELKSim {
namespace {

constexpr std::int64_t kConsoleLimitMs = std::int64_t{10} * 60 * 1000;

// A private copy, so that the demo's tools can write their logs without touching the original.
ZELKUtil::Result<void> CopyPackage(const std::string& source, ScratchFolder& copy) {
    if (auto created = copy.Create(); !created) {
        return created;
    }
    std::error_code ec;
    fs::copy(source, copy.Root(), fs::copy_options::recursive, ec);
    if (ec) {
        return ErrorFromErrorCode("cannot copy " + source, ec);
    }
    return {};
}

// The window's event loop, for a console: a wait hands each device change that the box reports to
// the controller as it comes.
class ConsoleEvents {
  public:
    void Notify() {
        const std::lock_guard lock(mutex_);
        ++changes_;
        arrived_.notify_one();
    }
    void Wait(std::int64_t ms, const std::function<void()>& deliver) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::unique_lock lock(mutex_);
        for (;;) {
            arrived_.wait_until(lock, deadline, [this] { return changes_ > 0; });
            if (changes_ == 0) {
                return;
            }
            --changes_;
            lock.unlock();
            deliver();
            lock.lock();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    int changes_ = 0;
};

// Nobody sits at a console demo: where the package waits for the operator, the demo acts as one
// would, and says so. It learns where the road is from the controller's road events.
class StandInOperator {
  public:
    explicit StandInOperator(DemoWorld& world) : world_(world) {}

    void Hear(const ZELKUtil::RoadEvent& event) {
        namespace Road = ZELKUtil::RoadEvents;
        if (const auto* decided = std::get_if<Road::Decided>(&event)) {
            const ZELKUtil::Decision& d = decided->decision;
            start_ = start_ || (d.moment == ZELKUtil::Moment::Connected && !d.run &&
                                d.reason == ZELKUtil::Reason::WaitsForOperator);
            replug_ = replug_ || d.reason == ZELKUtil::Reason::ArmNeedsReplug;
        } else if (const auto* step = std::get_if<Road::CountingDown>(&event)) {
            counting_ = step->left > 0;
            countedDown_ = true;
        } else if (const auto* ended = std::get_if<Road::Ended>(&event)) {
            end_ = ended->end;
        }
    }
    // Between two polls, as an operator at the window would.
    void Act(ZELKUtil::UpgradeController& controller) {
        if (std::exchange(start_, false) && !started_) {
            std::cout << "\n[The operator presses \"Start\"]" << std::endl;
            controller.buttonRestart_Click();
            started_ = true;
        }
        // The FPGA programmer stays until the box is restarted; the operator re-plugs it.
        if (std::exchange(replug_, false) && !replugged_) {
            std::cout << "\n[The operator re-plugs the box]" << std::endl;
            world_.box.Unplug();
            world_.box.Plug();
            replugged_ = true;
        }
    }
    bool Counting() const { return counting_; }
    bool CountedDown() const { return countedDown_; }
    const std::optional<ZELKUtil::RoadEnd>& End() const { return end_; }

  private:
    DemoWorld& world_;
    bool start_ = false;
    bool started_ = false;
    bool replug_ = false;
    bool replugged_ = false;
    bool counting_ = false;
    bool countedDown_ = false;
    std::optional<ZELKUtil::RoadEnd> end_;
};

int RunConsole(const std::string& package) {
    // The timer first: a tool that is still running when the road ends (an error mid-run) ends
    // on the world's clock thread until the world has gone, and notes its run in the timer.
    ZELKUtil::SteadyClock clock;
    RoadTimer road(clock);
    DemoWorld world(package);
    RoadClock controllerClock(clock, road);
    RoadTools tools(world.tools, road);
    ZELK device(world.hid, world.probe, clock, world.modes);
    // The log as it grows, and the label changes on lines of their own.
    ConsoleView view(ConsoleEcho{&std::cout, true, {}});
    ZELKUtil::UpgradeController controller(
        {view, controllerClock, device, tools, package, "x86_64"});
    StandInOperator stander(world);
    std::int64_t completed = -1;
    controller.ListenToRoad([&](const ZELKUtil::RoadEvent& event) {
        stander.Hear(event);
        if (std::holds_alternative<ZELKUtil::RoadEvents::Returned>(event) ||
            std::holds_alternative<ZELKUtil::RoadEvents::Ended>(event)) {
            completed = completed < 0 ? clock.NowMs() : completed;
        }
    });
    ConsoleEvents events;
    clock.SetWaiter(
        [&](std::int64_t ms) { events.Wait(ms, [&] { controller.Main_OnDeviceChange(); }); });
    world.box.SetPresenceListener([&events, &road](BoxMode mode) {
        road.BoxOnBus(mode != BoxMode::Absent);
        events.Notify();
    });
    controller.InitializeApplication();
    const std::int64_t start = clock.NowMs();
    // The timer: a poll, then the timer's interval, until the road has ended.
    while (!stander.End() && clock.NowMs() - start < kConsoleLimitMs) {
        controller.TimerCheck_Tick();
        stander.Act(controller);
        // A countdown step waits for the next tick.
        const bool counting = stander.Counting();
        const std::int64_t from = clock.NowMs();
        clock.SleepMs(ZELKUtil::Periods::kPollMs);
        if (counting) {
            road.Add(RoadTimer::Kind::CountdownTick, from, clock.NowMs());
        }
    }
    controller.Dispose();
    world.box.SetPresenceListener({});
    std::cout << "\n\nDemo ended after " << (clock.NowMs() - start) / 1000 << " s." << std::endl;
    const bool upgraded = stander.End() == ZELKUtil::RoadEnd::Completed;
    if (upgraded && stander.CountedDown()) {
        std::cout << road.Report(start, completed) << std::endl;
    }
    return upgraded ? 0 : 1;
}

}  // namespace

int RunDemo(int argc, char** argv, const std::string& package) {
    const std::string source = package.empty() ? DefaultDemoPackage() : package;
    ScratchFolder copy;
    if (const auto copied = CopyPackage(source, copy); !copied) {
        std::fprintf(stderr, "zelk-sim demo: %s\n", copied.error().Text().c_str());
        return 2;
    }
    std::printf("zelk-sim demo: package %s (working copy %s)\n", source.c_str(),
                copy.Root().c_str());
    std::fflush(stdout);
    if (const std::optional<int> rc = RunDemoWindow(argc, argv, copy.Root())) {
        return *rc;
    }
    return RunConsole(copy.Root());
}

}  // namespace ZELKSim
