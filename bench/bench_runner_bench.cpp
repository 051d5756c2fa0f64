// zelk-bench-boxes: the bench runner's wall time for several emulated boxes upgraded at once,
// against one box alone; and how far a box's estimate of the time left was from the truth at a
// quarter, half and three quarters of its road (the ARM road, the FPGA road and both). The ARM road
// runs the boxes side by side (each dfu-util told its port) but their driver installers one at a
// time, so eight take longer than one by the installers' runs; the FPGA road runs them one at a
// time (the STAPL player cannot be told which programmer), so its figure grows with the boxes.
//
//   zelk-bench-boxes [--smoke]
//
// The emulator's time runs faster than the wall clock (the figures are scaled back to emulated
// seconds); the controller's waits, the tools' output and the boxes' restarts keep their lengths
// in emulated time.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_runs/bench_world.h"
#include "package/package_files.h"

namespace {

constexpr int kSpeed = 20;

// One progress event of the first box: when it came (emulated ms from the start) and what it said.
struct Estimate {
    std::int64_t atMs = 0;
    int percent = 0;
    std::int64_t secondsLeft = -1;
};

struct Figure {
    double seconds = 0;
    int upgraded = 0;
    // The first box's progress events, and when its result came.
    std::vector<Estimate> estimates;
    std::int64_t firstDoneMs = 0;
};

// What the estimate said at a share of the road, against the time that was really left: the
// error as a share of the truth.
double ErrorAt(const std::vector<Estimate>& estimates, std::int64_t totalMs, double share) {
    const auto at = static_cast<std::int64_t>(static_cast<double>(totalMs) * share);
    const Estimate* said = nullptr;
    for (const Estimate& e : estimates) {
        if (e.atMs <= at && e.secondsLeft >= 0) {
            said = &e;
        }
    }
    if (said == nullptr) {
        return -1;
    }
    const double left = static_cast<double>(totalMs - said->atMs) / 1000.0;
    return left > 0 ? std::abs(static_cast<double>(said->secondsLeft) - left) / left : -1;
}

enum class Road { Arm, Fpga, Both };

// Upgrades `boxes` emulated boxes at once on the package's road; emulated seconds it took.
Figure UpgradeBoxes(Road road, int boxes) {
    ZELKSim::ScratchFolder folder;
    if (!folder.Create()) {
        return {};
    }
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details =
        std::string(R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")") +
        R"( name="ZELK Q750" )" +
        (road == Road::Fpga  ? R"(LPC3131="" A3P060="kr.stp" A3PN060=""/>)"
         : road == Road::Arm ? R"(LPC3131="q750.bin" A3P060="" A3PN060=""/>)"
                             : R"(LPC3131="q750.bin" A3P060="kr.stp" A3PN060=""/>)");
    package.files = {"q750.bin", "kr.stp"};
    package.tools = {ZELKUtil::PackageFiles::kDfuUtil, ZELKUtil::PackageFiles::kStaplPlayer};
    if (!ZELKSim::WritePackage(folder.Root(), package)) {
        return {};
    }
    ZELKSim::BenchWorld world(folder.Root(), kSpeed);
    for (int i = 0; i < boxes; ++i) {
        ZELKSim::EmulatedBox& box =
            world.AddBox("1-" + std::to_string(i + 1), {0x14E3, 0x0706, L"ZELK Q750"}, "2.01");
        box.SetFpgaIdcode(0x029121CF);
        box.SetFpgaChecksum(0x1234);
    }
    ZELKUtil::Cli::Options options;
    options.command = ZELKUtil::Cli::Command::Upgrade;
    options.all = true;
    options.json = true;
    options.history = folder.Root() + "/history.jsonl";
    Figure figure;
    const std::int64_t startMs = world.clock.NowMs();
    world.onLine = [&](const std::string& line) {
        const auto event = ZELKUtil::Cli::FromJsonLine(line);
        if (!event || ZELKUtil::Cli::PortOf(*event) != "1-1") {
            return;
        }
        const std::int64_t at = world.clock.NowMs() - startMs;
        if (const auto* progress = std::get_if<ZELKUtil::Cli::Events::Progress>(&*event)) {
            figure.estimates.push_back({at, progress->percent, progress->secondsLeft.value_or(-1)});
        } else if (std::holds_alternative<ZELKUtil::Cli::Events::Ended>(*event)) {
            figure.firstDoneMs = at;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    world.Run(options);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    figure.seconds = took.count() * kSpeed;
    for (const std::string& line : world.out) {
        if (line.find(R"("event":"result")") != std::string::npos &&
            line.find(R"("text":"upgraded")") != std::string::npos) {
            ++figure.upgraded;
        }
    }
    return figure;
}

}  // namespace

// How far the first box's estimate of the time left was from the truth at a quarter, half and
// three quarters of its road.
void PrintEstimate(const char* road, const Figure& figure) {
    std::printf("%-5s road, estimate of the time left (off by):", road);
    for (const double share : {0.25, 0.5, 0.75}) {
        const double error = ErrorAt(figure.estimates, figure.firstDoneMs, share);
        if (error < 0) {
            std::printf("  at %2.0f %%: none", share * 100);
        } else {
            std::printf("  at %2.0f %%: %3.0f %%", share * 100, error * 100);
        }
    }
    std::printf("  (road %.1f s)\n", static_cast<double>(figure.firstDoneMs) / 1000.0);
}

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int many = smoke ? 2 : 8;
    std::printf("Boxes upgraded at once by the bench runner (emulated seconds; time runs %dx).\n",
                kSpeed);
    const Figure armOne = UpgradeBoxes(Road::Arm, 1);
    const Figure armMany = UpgradeBoxes(Road::Arm, many);
    std::printf("ARM road:  1 box %6.1f s;  %d boxes %6.1f s (%d upgraded);  ratio %.2f\n",
                armOne.seconds, many, armMany.seconds, armMany.upgraded,
                armOne.seconds > 0 ? armMany.seconds / armOne.seconds : 0.0);
    const int fpgaBoxes = smoke ? 1 : 2;
    const Figure fpgaOne = UpgradeBoxes(Road::Fpga, 1);
    const Figure fpgaMany = UpgradeBoxes(Road::Fpga, fpgaBoxes);
    std::printf(
        "FPGA road: 1 box %6.1f s;  %d boxes %6.1f s (%d upgraded, one at a time);  "
        "ratio %.2f\n",
        fpgaOne.seconds, fpgaBoxes, fpgaMany.seconds, fpgaMany.upgraded,
        fpgaOne.seconds > 0 ? fpgaMany.seconds / fpgaOne.seconds : 0.0);
    const Figure both = UpgradeBoxes(Road::Both, 1);
    PrintEstimate("ARM", armOne);
    PrintEstimate("FPGA", fpgaOne);
    PrintEstimate("Both", both);
    return armMany.upgraded == many && fpgaMany.upgraded == fpgaBoxes && both.upgraded == 1 ? 0 : 1;
}
