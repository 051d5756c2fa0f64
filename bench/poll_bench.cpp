// CPU of one poll that finds no box, with the product's Linux backends on an emulated device tree
// of 10, 100 and 1000 USB devices and 20 hidraw nodes, beside hidapi's enumeration of the same
// tree in the same run. Prints Google Benchmark's table, then a summary.
//
//   zelk-bench-poll [--smoke] [benchmark flags]     (as root: the tree is bind-mounted on /sys)
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulated_tree.h"
#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "hid/linux/sysfs_file.h"
#include "hidapi_peer.h"
#include "product_rig.h"
#include "summary_reporter.h"

namespace {

using ZELKBench::TreeMount;

constexpr int kHidrawNodes = 20;
constexpr int kSizes[] = {10, 100, 1000};

// The trees, written once, and which one /sys shows now.
struct Trees {
    TreeMount mount;
    std::map<int, std::string> roots;
    std::string udevRunWithControl;  // a folder with "control": udevd runs
    std::string udevRunWithout;
    int shown = 0;

    bool Show(benchmark::State& state, int usb_devices) {
        if (shown != usb_devices && !mount.Show(roots[usb_devices])) {
            state.SkipWithError("the tree cannot be shown on /sys");
            return false;
        }
        shown = usb_devices;
        return true;
    }
    std::string UdevRoot() const { return roots.at(shown) + "/run/udev"; }
};

enum class Heard { Udev, Kernel };

struct PollRig : ZELKBench::ProductRig {
    PollRig(Trees& trees, Heard heard)
        : ProductRig(trees.UdevRoot(),
                     heard == Heard::Udev ? trees.udevRunWithControl : trees.udevRunWithout,
                     [] {}) {}

    // Returns whether the poll ended as a poll without a box does.
    bool Poll() {
        controller.TimerCheck_Tick();
        return view.Text(ZELKUtil::Control::DeviceLabel) == "No device found";
    }
};

void PollWarm(benchmark::State& state, Trees& trees, Heard heard) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    PollRig rig(trees, heard);
    if (!rig.Poll()) {  // the first poll reads everything
        state.SkipWithError("the poll saw a box");
    }
    while (state.KeepRunning()) {
        benchmark::DoNotOptimize(rig.Poll());
    }
}

// What the monitor reads when a HID device is plugged in: the device, its interface and its hidraw
// node come, then the drivers bind. All of it comes before the poll the monitor runs.
void HearPlugIn(PollRig& rig) {
    rig.Uevent("usb", "usb_device", "add", ZELKBench::kFirstDevicePath);
    rig.Uevent("usb", "usb_interface", "add", ZELKBench::kFirstInterfacePath);
    rig.Uevent("hidraw", nullptr, "add", ZELKBench::kFirstHidrawPath);
    rig.Uevent("usb", "usb_interface", "bind", ZELKBench::kFirstInterfacePath);
    rig.Uevent("usb", "usb_device", "bind", ZELKBench::kFirstDevicePath);
}

// What the monitor told the watch before the poll.
enum class Told { PlugIn, SeenDevice, LostEvents };

void PollAfterUevent(benchmark::State& state, Trees& trees, Told told) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    PollRig rig(trees, Heard::Udev);
    rig.Poll();
    while (state.KeepRunning()) {
        if (told == Told::PlugIn) {
            // The device that comes is a new one: its entries are new, so nothing remembered of
            // them is taken and its files are read.
            state.PauseTiming();
            const bool renewed = ZELKBench::RenewFirstDevice();
            state.ResumeTiming();
            if (!renewed) {
                state.SkipWithError("the device's entries cannot be made anew");
                return;
            }
        }
        if (told == Told::LostEvents) {
            rig.Changed();  // the socket overflowed: nobody can say what changed
        } else {
            HearPlugIn(rig);
        }
        benchmark::DoNotOptimize(rig.Poll());
    }
}

// A walk of the whole tree by the probe the program keeps (first_sight: by a new probe, to which
// every device is new).
void Probe(benchmark::State& state, Trees& trees, bool first_sight) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    auto probe = std::make_unique<ZELKUtil::Hid::SysfsDeviceProbe>("/sys", trees.UdevRoot());
    benchmark::DoNotOptimize(probe->FindDevice(0x0471, 0xDF55, 0));
    while (state.KeepRunning()) {
        if (first_sight) {
            probe = std::make_unique<ZELKUtil::Hid::SysfsDeviceProbe>("/sys", trees.UdevRoot());
        }
        benchmark::DoNotOptimize(probe->FindDevice(0x0471, 0xDF55, 0));
    }
}

// The hidraw nodes with the box's IDs, as each open of a poll lists them when nothing is kept.
void Enumerate(benchmark::State& state, Trees& trees, bool first_sight) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    auto hid = std::make_unique<ZELKUtil::Hid::HidrawTransport>("/sys", "/dev");
    hid->hid_free_enumeration(hid->hid_enumerate(0x14E3, 0x0706));
    while (state.KeepRunning()) {
        if (first_sight) {
            hid = std::make_unique<ZELKUtil::Hid::HidrawTransport>("/sys", "/dev");
        }
        hid->hid_free_enumeration(hid->hid_enumerate(0x14E3, 0x0706));
    }
}

void HidapiEnumerate(benchmark::State& state, Trees& trees) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    while (state.KeepRunning()) {
        benchmark::DoNotOptimize(ZELKBench::HidapiEnumerate(0x14E3, 0));
    }
}

// What "one small read" costs here: open, read and close one USB device's idVendor.
void SmallRead(benchmark::State& state, Trees& trees) {
    if (!trees.Show(state, static_cast<int>(state.range(0)))) {
        return;
    }
    while (state.KeepRunning()) {
        benchmark::DoNotOptimize(
            ZELKUtil::Hid::ReadAttribute("/sys/bus/usb/devices/1-2", "idVendor"));
    }
}

bool WriteTrees(Trees& trees) {
    try {
        for (const int size : kSizes) {
            const std::string root = trees.mount.Scratch() + "/tree" + std::to_string(size);
            ZELKBench::WriteUsbTree(root, size, kHidrawNodes);
            trees.roots[size] = root;
        }
        trees.udevRunWithControl = trees.mount.Scratch() + "/udev-run";
        trees.udevRunWithout = trees.mount.Scratch() + "/no-udev-run";
        std::filesystem::create_directories(trees.udevRunWithControl);
        std::filesystem::create_directories(trees.udevRunWithout);
        std::ofstream(trees.udevRunWithControl + "/control").put('\n');
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelk-bench-poll: %s\n", error.what());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!ZELKBench::TreeMount::CanBind() && !ZELKBench::UnderUmockdev()) {
        return ZELKBench::RestartUnderUmockdev(argc, argv, ZELK_BENCH_UMOCKDEV_WRAPPER);
    }
    const bool smoke = ZELKBench::TakeFlag(argc, argv, "--smoke");
    Trees trees;  // first: the mount namespace is made before any thread starts
    QCoreApplication app(argc, argv);
    if (!trees.mount.Usable() || !WriteTrees(trees)) {
        std::fprintf(stderr,
                     "zelk-bench-poll: no emulated tree (%s); run as root or under "
                     "umockdev-wrapper\n",
                     trees.mount.Method().c_str());
        return 1;
    }
    if (!ZELKBench::HidapiInit()) {
        std::fprintf(stderr, "zelk-bench-poll: hid_init failed\n");
        return 1;
    }
    std::printf("Device tree: %s; %d hidraw nodes; CPU time of the calling thread per call.\n",
                trees.mount.Method().c_str(), kHidrawNodes);
#ifndef ZELK_BENCH_KEEPS_TREE
    std::printf("This build keeps nothing between polls: every poll reads the tree.\n");
#endif

    const std::vector<std::pair<std::string, std::function<void(benchmark::State&)>>> cases = {
        {"poll_warm", [&](benchmark::State& s) { PollWarm(s, trees, Heard::Udev); }},
        {"poll_after_uevent",
         [&](benchmark::State& s) { PollAfterUevent(s, trees, Told::PlugIn); }},
        {"poll_after_uevent_seen_device",
         [&](benchmark::State& s) { PollAfterUevent(s, trees, Told::SeenDevice); }},
        {"poll_after_lost_events",
         [&](benchmark::State& s) { PollAfterUevent(s, trees, Told::LostEvents); }},
        {"poll_kernel_events_only",
         [&](benchmark::State& s) { PollWarm(s, trees, Heard::Kernel); }},
        {"probe", [&](benchmark::State& s) { Probe(s, trees, false); }},
        {"probe_first_sight", [&](benchmark::State& s) { Probe(s, trees, true); }},
        {"enumerate", [&](benchmark::State& s) { Enumerate(s, trees, false); }},
        {"enumerate_first_sight", [&](benchmark::State& s) { Enumerate(s, trees, true); }},
        {"hidapi_enumerate", [&](benchmark::State& s) { HidapiEnumerate(s, trees); }},
        {"small_read", [&](benchmark::State& s) { SmallRead(s, trees); }},
    };
    for (const auto& [name, body] : cases) {
        auto* bench = benchmark::RegisterBenchmark(name.c_str(), body);
        bench->Unit(benchmark::kMicrosecond);
        for (const int size : kSizes) {
            bench->Arg(size);
        }
        if (smoke) {
            bench->Iterations(1);
        }
    }
    benchmark::Initialize(&argc, argv);
    ZELKBench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintPollSummary(std::cout, {10, 100, 1000});
    benchmark::Shutdown();
    ZELKBench::HidapiExit();
    return 0;
}
