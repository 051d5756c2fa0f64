#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "box/emulated_box.h"
#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "platform/result.h"
#include "scenario/console_view.h"
#include "time/virtual_clock.h"
#include "tools/emulated_tools.h"

namespace ZELKSim {

// The controller's clock in an emulated world: the virtual clock, with every wait the controller
// asks for written down (and, when someone listens, told as it begins).
class RecordingClock final : public ZELKUtil::Clock {
  public:
    explicit RecordingClock(VirtualClock& clock) : clock_(clock) {}
    std::int64_t NowMs() override { return clock_.NowMs(); }
    void SleepMs(std::int64_t ms) override;
    void SliceMs(std::int64_t ms) override;
    // The waits in order, without the short slices in which the controller looks at a running
    // child again.
    const std::vector<std::int64_t>& Waits() const { return waits_; }
    // Told of each of those waits as it begins.
    std::function<void(std::int64_t ms)> onWait;
    // Runs at the end of every sleep (as the window's event loop runs during a wait).
    std::function<void()> afterWait;
    // Told of every sleep, the short slices too, as it begins: each is a turn of the window's
    // event loop in the product.
    std::function<void(std::int64_t ms)> onSleep;
    std::vector<std::int64_t> sleeps;

  private:
    VirtualClock& clock_;
    std::vector<std::int64_t> waits_;
};

// What a package folder holds.
struct PackageContents {
    // The version file holds this text and CR LF; none: no version file.
    std::optional<std::string> version;
    // The "detail" elements of the profile file; none: no profile file.
    std::optional<std::string> details;
    // Other files (images), package-relative, each with a short content of its own.
    std::vector<std::string> files;
    // Package-relative programs that exist (the tools the emulated process service runs).
    std::vector<std::string> tools;
    // Both driver folders with both installers.
    bool drivers = true;
};

// Writes the contents into the folder; stops at the first failure.
ZELKUtil::Result<void> WritePackage(const std::string& root, const PackageContents& contents);
// Writes one file (making its folders), replacing any earlier content.
ZELKUtil::Result<void> WritePackageFile(const std::string& root, const std::string& relative,
                                        const std::string& content, bool executable);
// The Error of a failed filesystem call.
ZELKUtil::Error ErrorFromErrorCode(std::string operation, const std::error_code& ec);

// A fresh temporary folder for a package, removed with the object.
class ScratchFolder {
  public:
    ScratchFolder() = default;
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ZELKUtil::Result<void> Create();
    const std::string& Root() const { return root_; }

  private:
    std::string root_;
};

// A whole emulated world around one controller: the console window, a box behind the emulated
// transport and probe, the emulated tools and virtual time, over a package folder that the owner
// provides. Tests and the scenario runner build on it.
struct ScenarioWorld {
    explicit ScenarioWorld(std::string packageFolder, BoxIdentity identity = {});
    ~ScenarioWorld();
    ScenarioWorld(const ScenarioWorld&) = delete;
    ScenarioWorld& operator=(const ScenarioWorld&) = delete;

    // Start-up. The controller starts its tools through `processes` when given (it must outlive
    // the controller), else through `tools`.
    ZELKUtil::UpgradeController& Start(ZELKUtil::ProcessService* processes = nullptr);
    // One timer tick, then the timer's interval.
    void Tick();
    void Ticks(int count);
    ZELKUtil::UpgradeState& State() { return controller->State(); }

    static constexpr std::int64_t kTimerIntervalMs = 1000;

    // Another box on the bus, plugged in in normal mode on the port; the box already there when
    // the port is taken.
    EmulatedBox& AddBox(const std::string& port);
    // Told of every change of presence of every box, those added later too.
    void SetPresenceListener(const std::function<void(BoxMode)>& listener);

    std::string packageRoot;
    ConsoleView view;
    VirtualClock clock;
    RecordingClock controllerClock{clock};
    // The first box, on the default port; more can be added.
    EmulatedBox box;
    std::deque<EmulatedBox> moreBoxes;
    EmulatedBus bus{box};
    EmulatedHidTransport hid{bus};
    EmulatedDeviceProbe probe{bus};
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};
    EmulatedProcessService tools{clock, bus, packageRoot};
    std::function<void(BoxMode)> presenceListener;
    std::string machine = "x86_64";
    std::unique_ptr<ZELKUtil::UpgradeController> controller;
};

}  // namespace ZELKSim
