// Two boxes on two USB ports of the guest kernel (dummy_hcd with two controllers, one box on
// each): the Linux backends know each by its port, and Debian's dfu-util refuses to choose
// between two bootloaders unless it is given the port with -p.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "box/dfu_bootloader.h"
#include "box/emulated_box.h"
#include "guest_files.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "kernel/gadget_box.h"
#include "time/real_time_clock.h"

namespace ZELKKernelTest {
namespace {

using ZELKSim::BoxMode;
using ZELKSim::GadgetBox;
using ZELKSim::PortOfController;

constexpr unsigned short kVid = 0x14E3;
constexpr unsigned short kPid = 0x0706;
constexpr int kBootloaderVid = 0x0471;
constexpr int kBootloaderPid = 0xDF55;
constexpr const char* kImage = "/tmp/two-ports.bin";

std::vector<std::string> Sorted(std::vector<std::string> ports) {
    std::sort(ports.begin(), ports.end());
    return ports;
}

// Debian's dfu-util with the arguments: its exit status, what it wrote to stdout and to stderr.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};
ToolRun RunDfuUtil(const std::string& arguments) {
    const int status =
        std::system(("dfu-util " + arguments + " >/tmp/dfu.out 2>/tmp/dfu.err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            ReadWholeFile("/tmp/dfu.out").value_or(""), ReadWholeFile("/tmp/dfu.err").value_or("")};
}

// Box A on the first controller, box B with another product name on the second, both in `mode`.
struct TwoBoxes {
    ZELKSim::RealTimeClock clock;
    ZELKSim::EmulatedBox boxA{clock, {0x14E3, 0x0706, L"ZELK Q750"}};
    ZELKSim::EmulatedBox boxB{clock, {0x14E3, 0x0706, L"ZELK Q750 B"}};
    GadgetBox gadgetA{boxA, clock, {}, 0};
    GadgetBox gadgetB{boxB, clock, {}, 1};
    ZELKUtil::Hid::HidrawTransport hid;
    ZELKUtil::Hid::SysfsDeviceProbe probe{"/sys", "/run/udev"};
    const std::string portA = PortOfController(0);
    const std::string portB = PortOfController(1);

    explicit TwoBoxes(BoxMode mode) {
        for (ZELKSim::EmulatedBox* box : {&boxA, &boxB}) {
            box->SetFirmwareVersion("2.01");
            box->Plug(mode);
        }
    }
    bool Started() {
        std::string error;
        if (!gadgetA.Start(&error) || !gadgetB.Start(&error)) {
            ADD_FAILURE() << error;
            return false;
        }
        std::printf("[  FIGURE  ] box A on port %s, box B on port %s\n", portA.c_str(),
                    portB.c_str());
        return !portA.empty() && !portB.empty() && portA != portB;
    }
};

TEST(TwoPorts, TheHidrawTransportKnowsEachBoxByItsPort) {
    TwoBoxes rig(BoxMode::Normal);
    ASSERT_TRUE(rig.Started());
    auto& hid = rig.hid;
    ASSERT_TRUE(WaitFor([&] { return hid.hid_ports(kVid, kPid).size() == 2; }, 20000));
    EXPECT_EQ(Sorted(hid.hid_ports(kVid, kPid)), Sorted({rig.portA, rig.portB}));

    for (const auto& [port, product] : {std::pair{rig.portA, std::wstring(L"ZELK Q750")},
                                        std::pair{rig.portB, std::wstring(L"ZELK Q750 B")}}) {
        SCOPED_TRACE(port);
        hid.hid_confine_to_port(port);
        EXPECT_EQ(hid.hid_ports(kVid, kPid), std::vector<std::string>{port});
        hid_device* box = hid.hid_open(kVid, kPid, nullptr, 1);
        ASSERT_NE(box, nullptr);
        std::array<wchar_t, 64> name{};
        ASSERT_EQ(hid.hid_get_product_string(box, name.data(), name.size()), 0);
        EXPECT_EQ(std::wstring(name.data()), product);
        EXPECT_EQ(hid.hid_port(box), port);
        hid.hid_close(box);
    }
    EXPECT_EQ(rig.gadgetA.PumpError() + rig.gadgetB.PumpError(), "");
}

TEST(TwoPorts, TwoBootloadersAreFoundByPortAndDfuUtilDownloadsOnlyWithThePort) {
    TwoBoxes rig(BoxMode::Bootloader);
    ASSERT_TRUE(rig.Started());
    auto& probe = rig.probe;
    ASSERT_TRUE(WaitFor(
        [&] { return probe.FindDevices(kBootloaderVid, kBootloaderPid).size() == 2; }, 20000));
    RunCommand("udevadm settle");
    const std::vector<ProbeMatch> found = probe.FindDevices(kBootloaderVid, kBootloaderPid);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(Sorted({found[0].port, found[1].port}), Sorted({rig.portA, rig.portB}));
    for (const ProbeMatch& match : found) {
        EXPECT_GE(match.code, 1) << match.port;  // processed by udev, the generic driver runs
        probe.ConfineToPort(match.port);
        EXPECT_EQ(probe.FindDevice(kBootloaderVid, kBootloaderPid, 0), match.code);
        ASSERT_EQ(probe.FindDevices(kBootloaderVid, kBootloaderPid).size(), 1U);
        EXPECT_EQ(probe.FindDevices(kBootloaderVid, kBootloaderPid)[0].port, match.port);
    }
    probe.ConfineToPort(std::nullopt);

    // dfu-util names a device by the same path as the kernel's folder.
    const ToolRun list = RunDfuUtil("-l");
    for (const std::string& port : {rig.portA, rig.portB}) {
        EXPECT_NE(list.out.find("path=\"" + port + "\""), std::string::npos) << list.out;
    }
    std::string error;
    ASSERT_TRUE(WriteFileBytes(kImage, ZELKSim::MakeFirmwareImage("2.04", 16384), &error)) << error;
    const std::string download = std::string(" -d 0x0471:0xdf55 -t 2048 -R -D ") + kImage;
    const ToolRun refused = RunDfuUtil(download);
    EXPECT_EQ(refused.out.find("Download"), std::string::npos) << refused.out;
    const std::size_t refusal = refused.err.find("More than one DFU capable USB device found!");
    ASSERT_NE(refusal, std::string::npos) << refused.err;
    std::printf("[  FIGURE  ] dfu-util with two bootloaders (exit status %d): %s", refused.status,
                refused.err.substr(refusal, refused.err.find('\n', refusal) + 1 - refusal).c_str());

    // Its exit status tells nothing here (0.11 ends a whole download with -R with 74 as well):
    // the output and the boxes tell what happened.
    const ToolRun one = RunDfuUtil("-p " + rig.portB + download);
    EXPECT_NE(one.out.find("Download done."), std::string::npos) << one.out << one.err;
    EXPECT_TRUE(WaitFor([&] { return rig.boxB.Mode() == BoxMode::Normal; }, 20000));
    EXPECT_EQ(rig.boxB.FirmwareVersion(), "2.04");
    EXPECT_EQ(rig.boxA.FirmwareVersion(), "2.01");
    EXPECT_EQ(rig.boxA.Mode(), BoxMode::Bootloader);
    EXPECT_EQ(rig.gadgetA.PumpError() + rig.gadgetB.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
