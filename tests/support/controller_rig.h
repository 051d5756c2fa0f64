#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "emulated_box.h"
#include "emulated_device_probe.h"
#include "emulated_hid_transport.h"
#include "emulated_tools.h"
#include "support/fake_view.h"
#include "support/temp_package.h"
#include "virtual_clock.h"

namespace ZELKUtil::Testing {

// The controller's clock in tests: the virtual clock, with every wait the controller asks for
// written down.
class RecordingClock final : public Clock {
  public:
    explicit RecordingClock(ZELKSim::VirtualClock& clock) : clock_(clock) {}
    std::int64_t NowMs() override { return clock_.NowMs(); }
    void SleepMs(std::int64_t ms) override {
        sleeps.push_back(ms);
        clock_.SleepMs(ms);
    }
    // The waits in order, without the short slices in which it looks at a running child.
    std::vector<std::int64_t> Waits() const;
    std::vector<std::int64_t> sleeps;

  private:
    ZELKSim::VirtualClock& clock_;
};

// A whole emulated world around one controller: a package folder, the fake window, a box behind
// the emulated transport and probe, the emulated tools and virtual time.
struct ControllerRig {
    explicit ControllerRig(ZELKSim::BoxIdentity identity = {});
    ~ControllerRig();

    // Writes the version file, a profile file with the given "detail" elements, and the tools.
    void Package(const std::string& version, const std::string& details,
                 const std::vector<std::string>& tools = {"Tools/dfu-util"});
    // Start-up.
    UpgradeController& Start();
    // One timer tick, then the timer's interval.
    void Tick();
    void Ticks(int count);
    UpgradeState& State() { return controller->State(); }

    TempPackage pkg;
    FakeView view;
    ZELKSim::VirtualClock clock;
    RecordingClock controllerClock{clock};
    ZELKSim::EmulatedBox box;
    ZELKSim::EmulatedHidTransport hid{box};
    ZELKSim::EmulatedDeviceProbe probe{box};
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};
    ZELKSim::EmulatedProcessService tools{clock, box, pkg.Root()};
    std::string machine = "x86_64";
    // Real child processes in place of the emulated tools, when a test sets it.
    ProcessService* processes = nullptr;
    std::unique_ptr<UpgradeController> controller;
};

// A "detail" element.
std::string Detail(const std::string& type, const std::string& id, const std::string& name,
                   const std::string& arm, const std::string& a3p = "",
                   const std::string& a3pn = "", const std::string& pid = "0x0706");

}  // namespace ZELKUtil::Testing
