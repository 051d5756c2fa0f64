#pragma once

#include <optional>
#include <string>

#include "box/emulated_box.h"
#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "device/zelk.h"
#include "time/real_time_clock.h"
#include "tools/emulated_tools.h"

namespace ZELKSim {

// Everything the demo runs on, but the view and the clock the controller sees: a box that looks
// like the package's first variant with older firmware, and the package's tools, emulated in real
// time and slow enough to watch.
struct DemoWorld {
    explicit DemoWorld(const std::string& package);

    RealTimeClock timeline;
    EmulatedBox box;
    EmulatedHidTransport hid{box};
    EmulatedDeviceProbe probe{box};
    EmulatedProcessService tools;
    ReadPathModes modes;
};

// The package the demo runs on when none is named: the project's demo package on Linux, the folder
// that holds the program on Windows (the Windows zip's root is a demo package).
std::string DefaultDemoPackage();

// The utility's window on the package with the demo's side panel (unplug, plug in, events), until
// the window is closed; the exit code then. Nothing when no window can be shown here (no
// display): the demo then runs in the console. One implementation per window toolkit.
std::optional<int> RunDemoWindow(int argc, char** argv, const std::string& package);

}  // namespace ZELKSim
