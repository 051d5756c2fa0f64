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

#include "box/dfu_bootloader.h"
#include "box_rig.h"
#include "kernel/uhid_box.h"
#include "package/package_files.h"
#include "support/temp_package.h"
#include "wine_program.h"

namespace ZELKKernelTest {
namespace {

using ZELKSim::BoxMode;
using ZELKSim::UhidBox;

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
            box.SendEyeChangedEvent(
                static_cast<std::uint8_t>(std::strtol(request.c_str() + 4, nullptr, 10)));
            return "ok";
        }
        return "unknown request";
    }
    WineRun Run(const std::vector<std::string>& command, const std::string& folder, int ms) {
        return RunUnderWine(
            command, folder, [this](const std::string& request) { return Answer(request); }, ms);
    }
};

// The driver package that the stand-in installer puts in place: the bootloader's IDs with the
// package's description and no service, so that the device stays libusb's.
constexpr const char* kBootloaderInf = R"inf([Version]
Signature="$Windows NT$"
Class=USBDevice
ClassGuid={88BAE032-5A81-49f0-BC3D-A4FF138216D6}
Provider=%Maker%
DriverVer=01/01/2024,1.0.0.0

[Manufacturer]
%Maker%=Models,NTamd64

[Models.NTamd64]
%Bootloader%=Install,USB\VID_0471&PID_DF55

[Install.NTamd64]

[Install.NTamd64.Services]
AddService=,2

[Strings]
Maker="Orvanta"
Bootloader="Orvanta Update"
)inf";

// zelk-cli.exe's automatic ARM road under Wine, from the box in normal mode with 2.01 to
// its "upgraded" line with 2.04: hid.dll and SetupDi through Wine's drivers, CreateProcess and
// ShellExecute of the package's tools, the guest's real dfu-util downloading into the gadget's
// bootloader. It runs first, in the fresh prefix, before any bootloader has been seen: Wine's
// SetupDi goes on listing a USB device that has gone.
TEST(WineGuest, ZelkCliTakesTheArmRoadWithTheRealDfuUtil) {
    constexpr std::size_t kImageSize = std::size_t{64} * 1024;
    WineRig rig;
    rig.box.Plug(BoxMode::Normal);
    ASSERT_TRUE(rig.Start());
    ZELKUtil::Testing::TempPackage pkg;
    namespace Files = ZELKUtil::PackageFiles;
    pkg.Write(Files::kVersionFile, "2.04\r\n");
    // Wine names the box by the kernel's HID name, manufacturer and product (see the HID test),
    // so the profile carries that name.
    pkg.Write(Files::kProfileFile,
              "<?xml version=\"1.0\"?>\n<zelk><detail profile=\"Orvanta ZELK Q750\" "
              "vid=\"0x14E3\" pid=\"0x0706\" id=\"Q750\" name=\"Orvanta ZELK Q750\" "
              "LPC3131=\"images\\q750.bin\" A3P060=\"\" A3PN060=\"\"/></zelk>");
    pkg.Write("images/q750.bin", ZELKSim::MakeFirmwareImage("2.04", kImageSize));
    const auto bridge = ReadWholeFile(Env("ZELK_WINE_DFU_BRIDGE"));
    const auto installer = ReadWholeFile(Env("ZELK_WINE_DRIVER_INSTALLER"));
    ASSERT_TRUE(bridge && installer);
    pkg.Write("Tools/dfu-util.exe", *bridge);
    for (const char* name : {"dpinst.exe", "dpinst_x64.exe"}) {
        pkg.Write(std::string("Drivers/libusbk/") + name, *installer);
    }
    pkg.Write("Drivers/libusbk/zelk-bootloader.inf", kBootloaderInf);

    const WineRun run =
        rig.Run({WindowsPath(Env("ZELK_WINE_CLI")), "--package", WindowsPath(pkg.Root()),
                 "--history", WindowsPath(pkg.Root() + "/history.txt"), "upgrade", "--all"},
                "/tmp", 240000);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(std::find_if(run.lines.begin(), run.lines.end(),
                           [](const std::string& line) {
                               return line.find("upgraded to 2.04, ARM: unplug the box") !=
                                      std::string::npos;
                           }),
              run.lines.end());
    const auto download = rig.gadget.LastDownload();
    ASSERT_TRUE(download.has_value());
    EXPECT_EQ(download->bytes, kImageSize);
    EXPECT_EQ(rig.box.FirmwareVersion(), "2.04");
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

TEST(WineGuest, OurHidTransportAndProbeOverWinesStack) {
    WineRig rig;
    ASSERT_TRUE(rig.Start());
    // ZELK_WINE_TEST_REPEAT runs the Windows tests that many times, to flush out what only
    // sometimes fails.
    const int rounds = static_cast<int>(
        std::clamp(std::strtol(Env("ZELK_WINE_TEST_REPEAT").c_str(), nullptr, 10), 1L, 100L));
    const WineRun run = rig.Run({WindowsPath(Env("ZELK_WINE_HID_TEST")), "--gtest_color=no",
                                 "--gtest_filter=" + Env("ZELK_WINE_TEST_FILTER") + "-WineUhid.*",
                                 "--gtest_repeat=" + std::to_string(rounds)},
                                "/tmp", 150000 * rounds);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

// A uhid box, which answers GET_REPORT and sends its answers as input reports too: the Windows
// test reads through the device class; the box counts the GET_REPORT requests that reach it.
TEST(WineGuest, AUhidBoxThroughWinebus) {
    ZELKSim::RealTimeClock clock;
    ZELKSim::EmulatedBox box{clock, Q750()};
    box.SetFirmwareVersion("2.01");
    UhidBox front(box, true);
    std::string error;
    ASSERT_TRUE(front.Start(&error)) << error;
    const WineRun run = RunUnderWine(
        {WindowsPath(Env("ZELK_WINE_HID_TEST")), "--gtest_color=no", "--gtest_filter=WineUhid.*"},
        "/tmp", [](const std::string&) { return std::string("unknown request"); }, 60000);
    EXPECT_EQ(run.failure, "");
    EXPECT_EQ(run.status, 0);
    // Windows sends IOCTL_HID_GET_INPUT_REPORT to the device as GET_REPORT; winebus answers it
    // from the reports it has read, so none reaches the box.
    EXPECT_EQ(box.ControlReads(), 0);
    EXPECT_EQ(front.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
