// Latency from a uevent to the start of the poll it runs: the product's hot-plug monitor on the
// window's event loop, the device-tree watch and the controller, as main() wires them. The uevent
// comes from umockdev, which hands libudev's monitor its events through a socket of its own (so
// the program runs under umockdev-wrapper; it starts itself there when it is not).
//
//   zelk-bench-uevent [--smoke] [benchmark flags]
#include <benchmark/benchmark.h>
#include <umockdev.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulated_tree.h"
#include "product_rig.h"
#include "summary_reporter.h"

namespace {

using Clock = std::chrono::steady_clock;

// The product's wiring on umockdev's tree, noting when the poll that a uevent runs starts.
struct Rig : ZELKBench::ProductRig {
    explicit Rig(const std::string& udev_run)
        : ProductRig("/run/udev", udev_run, [this] {
              // The monitor has read the event (and told the watch): the poll starts here.
              poll_started = Clock::now();
              controller.Main_OnDeviceChange();
              if (loop != nullptr) {
                  loop->quit();
              }
          }) {}

    QEventLoop* loop = nullptr;
    Clock::time_point poll_started;
};

void UeventToPoll(benchmark::State& state, UMockdevTestbed* bed, const std::string& syspath,
                  Rig& rig) {
    if (!rig.monitor.Opened()) {
        state.SkipWithError(("no monitor: " + rig.monitor.Opened().error().Text()).c_str());
        return;
    }
    while (state.KeepRunning()) {
        QEventLoop loop;
        rig.loop = &loop;
        rig.poll_started = {};
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(2000);
        const auto sent = Clock::now();
        umockdev_testbed_uevent(bed, syspath.c_str(), "change");
        loop.exec();
        rig.loop = nullptr;
        if (rig.poll_started < sent) {
            state.SkipWithError("the uevent ran no poll within 2 s");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(rig.poll_started - sent).count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!ZELKBench::UnderUmockdev()) {
        return ZELKBench::RestartUnderUmockdev(argc, argv, ZELK_BENCH_UMOCKDEV_WRAPPER);
    }
    const bool smoke = ZELKBench::TakeFlag(argc, argv, "--smoke");
    QCoreApplication app(argc, argv);
    UMockdevTestbed* bed = umockdev_testbed_new();
    gchar* added =
        umockdev_testbed_add_device(bed, "usb", "usb1/1-1", nullptr, "idVendor", "046d",
                                    "idProduct", "c077", nullptr, "DEVTYPE", "usb_device", nullptr);
    const std::string syspath = added != nullptr ? added : "";
    g_free(added);
    // udev's events, as where systemd-udevd runs: the monitor looks for its control socket.
    gchar* root = umockdev_testbed_get_root_dir(bed);
    const std::string udev_run = std::string(root) + "/udev-run";
    g_free(root);
    std::filesystem::create_directories(udev_run);
    std::ofstream(udev_run + "/control").put('\n');

    Rig rig(udev_run);
    std::printf("Uevents from umockdev's testbed (umockdev-wrapper); monitor source: %s.\n",
                rig.monitor.Source().c_str());
    auto* bench = benchmark::RegisterBenchmark(
        "uevent_to_poll_start",
        [&](benchmark::State& state) { UeventToPoll(state, bed, syspath, rig); });
    bench->UseManualTime()->Unit(benchmark::kMicrosecond);
    if (smoke) {
        bench->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    ZELKBench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    g_object_unref(bed);
    return 0;
}
