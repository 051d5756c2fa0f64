// The Windows programs under Wine against the box on the guest's dummy USB bus: the rig puts the
// emulated box on the bus as a gadget (gadget_box.h), runs the Windows build's programs under the
// guest's Wine (wine_program.h) and does what they ask of the box. Wine's winebus.sys presents the
// box's hidraw node as a HID device, wineusb.sys the bootloader as a USB device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "box_rig.h"
#include "dfu_bootloader.h"
#include "package/package_files.h"
#include "support/temp_package.h"
#include "wine_program.h"

namespace ZELKKernelTest {
namespace {

using ZELKSim::BoxMode;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool UsbDevicePresent(const std::string& port) {
    return ::access(("/sys/bus/usb/devices/" + port).c_str(), F_OK) == 0;
}

// The box on the first port of the dummy bus, and the requests of the Windows programs.
struct WineRig {
    ZELKSim::RealTimeClock boxClock;
    ZELKSim::EmulatedBox box{boxClock, Q750()};
    GadgetBox gadget{box, boxClock};
    const std::string port = PortOfController(0);

    WineRig() {
        box.SetFirmwareVersion("2.01");
        box.SetSerial("QS0042");
        box.Unplug();
    }
    bool Start() {
        std::string error;
        const bool started = gadget.Start(&error);
        EXPECT_TRUE(started) << error;
        return started;
    }
    // Does what a request asks and answers "ok" once the kernel shows it.
    std::string Answer(const std::string& request) {
        const auto plug = [this](BoxMode mode) {
            // Plugging the box again would be a re-plug the gadget does not follow: the box's
            // side of it would lose its handle. A box already in the mode stays as it is.
            if (box.Mode() != mode) {
                box.Plug(mode);
            }
            return WaitFor([this] { return UsbDevicePresent(port); }, 20000) ? "ok" : "not bound";
        };
        if (request == "plug normal") {
            return plug(BoxMode::Normal);
        }
        if (request == "plug bootloader") {
            return plug(BoxMode::Bootloader);
        }
        if (request == "unplug") {
            box.Unplug();
            return WaitFor([this] { return !UsbDevicePresent(port); }, 20000) ? "ok"
                                                                              : "still bound";
        }
        if (request == "hold 1" || request == "hold 0") {
            gadget.HoldHostReports(request == "hold 1");
            return "ok";
        }
        if (request.rfind("eye ", 0) == 0) {
            box.SendEyeChangedEvent(static_cast<std::uint8_t>(std::atoi(request.c_str() + 4)));
            return "ok";
        }
        return "unknown request";
    }
    WineRun Run(const std::vector<std::string>& command, const std::string& folder, int ms) {
        return RunUnderWine(
            command, folder, [this](const std::string& request) { return Answer(request); }, ms);
    }
};

TEST(WineGuest, OurHidTransportAndProbeOverWinesStack) {
    WineRig rig;
    ASSERT_TRUE(rig.Start());
    // ZELK_WINE_TEST_REPEAT runs the Windows tests that many times, to flush out what only
    // sometimes fails.
    const std::string repeat = Env("ZELK_WINE_TEST_REPEAT");
    const WineRun run = rig.Run({WindowsPath(Env("ZELK_WINE_HID_TEST")), "--gtest_color=no",
                                 "--gtest_filter=" + Env("ZELK_WINE_TEST_FILTER"),
                                 "--gtest_repeat=" + (repeat.empty() ? std::string("1") : repeat)},
                                "/tmp", 150000 * std::max(1, std::atoi(repeat.c_str())));
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
