#include "demo.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "console_view.h"
#include "controller/upgrade_controller.h"
#include "demo_world.h"
#include "platform/steady_clock.h"
#include "scenario_world.h"

namespace fs = std::filesystem;

namespace ZELKSim {
namespace {

constexpr std::int64_t kConsoleLimitMs = std::int64_t{10} * 60 * 1000;

// A private copy, so that the demo's tools can write their logs without touching the original.
std::string CopyPackage(const std::string& source, ScratchFolder& copy) {
    if (std::string error = copy.Create(); !error.empty()) {
        return error;
    }
    std::error_code ec;
    fs::copy(source, copy.Root(), fs::copy_options::recursive, ec);
    return ec ? "cannot copy " + source + ": " + ec.message() : "";
}

int RunConsole(const std::string& package) {
    DemoWorld world(package);
    ZELKUtil::SteadyClock clock;
    ZELK device(world.hid, world.probe, clock, world.modes);
    // The log as it grows, and the label changes on lines of their own.
    ConsoleView view(ConsoleEcho{&std::cout, true, {}});
    ZELKUtil::UpgradeController controller({view, clock, device, world.tools, package, "x86_64"});
    controller.InitializeApplication();
    const std::int64_t start = clock.NowMs();
    // Nobody sits at a console demo: where the package waits for the operator, the demo acts as
    // one would, and says so.
    bool started = controller.State().upgradeMode != ZELKUtil::manual_upgrade;
    bool replugged = false;
    // The timer: a poll, then a second, until the road is done.
    while (view.log.find("Upgrade Complete") == std::string::npos &&
           view.log.find("Error") == std::string::npos && clock.NowMs() - start < kConsoleLimitMs) {
        controller.TimerCheck_Tick();
        if (!started && controller.State().connected != 0) {
            std::cout << "\n[The operator presses \"Start\"]" << std::endl;
            controller.buttonRestart_Click();
            started = true;
        }
        // The FPGA programmer stays until the box is restarted; the operator re-plugs it.
        if (!replugged && view.log.find("FPGA Done") != std::string::npos &&
            controller.State().currently_programming_fpga == 0) {
            std::cout << "\n[The operator re-plugs the box]" << std::endl;
            world.box.Unplug();
            world.box.Plug();
            controller.Main_OnDeviceChange();
            replugged = true;
        }
        clock.SleepMs(1000);
    }
    controller.Dispose();
    std::cout << "\n\nDemo ended after " << (clock.NowMs() - start) / 1000 << " s." << std::endl;
    return view.log.find("Upgrade Complete") != std::string::npos ? 0 : 1;
}

}  // namespace

int RunDemo(int argc, char** argv, const std::string& package) {
    const std::string source = package.empty() ? DefaultDemoPackage() : package;
    ScratchFolder copy;
    if (const std::string error = CopyPackage(source, copy); !error.empty()) {
        std::fprintf(stderr, "zelk-sim demo: %s\n", error.c_str());
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
