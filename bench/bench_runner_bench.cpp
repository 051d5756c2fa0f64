// zelk-bench-boxes: the bench runner's wall time for several emulated boxes upgraded at once,
// against one box alone; and how far a box's estimate of the time left was from the truth at a
// quarter, half and three quarters of its road (the ARM road, the FPGA road and both). The ARM road
// runs the boxes side by side (each dfu-util told its port) but their driver installers one at a
// time, so eight take longer than one by the installers' runs; the FPGA stretch of a road (from
// the programmer firmware's download to the box unplugged after its FPGA run) goes one box at a
// time (the STAPL player cannot be told which programmer), so a road with one grows with the
// boxes by that stretch: its figure is printed beside its goal, one box's road and then each
// further box's FPGA stretch and installer run. The emulated operator unplugs each box as soon
// as its result says so.
// Over each recorded road it also prints the worst single reading of the time left, how many
// progress events a second of road brought, and the most estimates told within 100 ms (one is
// right: a bar whose countdown flickers between two figures is read as neither). The large road
// carries an 8 MiB image at dfu-util's usual pace, 50 marks to its bar, as on a real box.
//
//   zelk-bench-boxes [--smoke] [--trace]   (--trace: the first box's progress events as well)
//
// The emulator's time runs faster than the wall clock (the figures are scaled back to emulated
// seconds); the controller's waits, the tools' output and the boxes' restarts keep their lengths
// in emulated time.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
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
    // The first box's FPGA stretch: from the start of its programmer firmware's download to the
    // end of its road, when the operator unplugs it (0: it had none, or waited for it).
    std::int64_t fpgaStretchMs = 0;
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

// The worst reading among those with at least `floorMs` really left (closer to the end a whole
// second of rounding is already a large share), as a share of the truth.
double WorstError(const std::vector<Estimate>& estimates, std::int64_t totalMs,
                  std::int64_t floorMs) {
    double worst = 0;
    for (const Estimate& e : estimates) {
        const std::int64_t leftMs = totalMs - e.atMs;
        if (e.secondsLeft >= 0 && leftMs >= floorMs) {
            const double left = static_cast<double>(leftMs) / 1000.0;
            worst = std::max(worst, std::abs(static_cast<double>(e.secondsLeft) - left) / left);
        }
    }
    return worst;
}

// The most distinct estimates of the time left told within any 100 ms.
int MostEstimatesIn100Ms(const std::vector<Estimate>& estimates) {
    int most = 0;
    for (std::size_t i = 0; i < estimates.size(); ++i) {
        std::vector<std::int64_t> told;
        for (std::size_t j = i; j < estimates.size() && estimates[j].atMs - estimates[i].atMs < 100;
             ++j) {
            if (estimates[j].secondsLeft >= 0 &&
                std::find(told.begin(), told.end(), estimates[j].secondsLeft) == told.end()) {
                told.push_back(estimates[j].secondsLeft);
            }
        }
        most = std::max(most, static_cast<int>(told.size()));
    }
    return most;
}

enum class Road { Arm, Fpga, Both };
// The ARM image: the example's few bytes, or 8 MiB whose 50 marks come at 512 KiB/s.
enum class Image { Small, Large };
constexpr std::size_t kLargeImageBytes = std::size_t{8} * 1024 * 1024;
constexpr int kLargeImageMarks = 50;
constexpr std::int64_t kLargeImageStepMs = 16000 / kLargeImageMarks;

// Upgrades `boxes` emulated boxes at once on the package's road; emulated seconds it took.
Figure UpgradeBoxes(Road road, int boxes, Image image = Image::Small) {
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
    if (image == Image::Large &&
        !ZELKSim::WritePackageFile(folder.Root(), "q750.bin", std::string(kLargeImageBytes, 'x'),
                                   false)) {
        return {};
    }
    ZELKSim::BenchWorld world(folder.Root(), kSpeed);
    if (image == Image::Large) {
        world.tools.dfuUtilBarLength = kLargeImageMarks;
        world.tools.stepMs = kLargeImageStepMs;
    }
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
    std::int64_t stretchFrom = -1;
    world.onLine = [&](const std::string& line) {
        const auto event = ZELKUtil::Cli::FromJsonLine(line);
        if (!event) {
            return;
        }
        const std::string port = ZELKUtil::Cli::PortOf(*event);
        // The operator unplugs each box once it is upgraded, as the line tells: a box stays the
        // FPGA programmer until then, and the next box cannot be one meanwhile.
        if (std::holds_alternative<ZELKUtil::Cli::Events::Ended>(*event)) {
            if (ZELKSim::EmulatedBox* box = world.bus.OnPort(port)) {
                box->Unplug();
            }
        }
        if (port != "1-1") {
            return;
        }
        const std::int64_t at = world.clock.NowMs() - startMs;
        if (const auto* state = std::get_if<ZELKUtil::Cli::Events::State>(&*event)) {
            const auto now = state->state;
            if (now == ZELKUtil::Cli::BoxState::DownloadingProgrammer && stretchFrom < 0) {
                stretchFrom = at;
            } else if (now == ZELKUtil::Cli::BoxState::WaitingForBox) {
                stretchFrom = -2;  // its stretch is not one box's alone
            }
        }
        if (const auto* progress = std::get_if<ZELKUtil::Cli::Events::Progress>(&*event)) {
            figure.estimates.push_back({at, progress->percent, progress->secondsLeft.value_or(-1)});
        } else if (std::holds_alternative<ZELKUtil::Cli::Events::Ended>(*event)) {
            figure.firstDoneMs = at;
            figure.fpgaStretchMs = stretchFrom >= 0 ? at - stretchFrom : 0;
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
    const double seconds = static_cast<double>(figure.firstDoneMs) / 1000.0;
    std::printf(
        "      worst reading off by %3.0f %% (of those 5 s or more from the end), %3.0f %% (2 s "
        "or more);  %.1f events/s;  at most %d estimates in 100 ms\n",
        WorstError(figure.estimates, figure.firstDoneMs, 5000) * 100,
        WorstError(figure.estimates, figure.firstDoneMs, 2000) * 100,
        seconds > 0 ? static_cast<double>(figure.estimates.size()) / seconds : 0.0,
        MostEstimatesIn100Ms(figure.estimates));
}

void PrintTrace(const char* road, const Figure& figure) {
    std::printf("%s road's progress events (emulated ms: percent, seconds left, really left):\n",
                road);
    for (const Estimate& e : figure.estimates) {
        std::printf("  %6lld: %3d %%  %3lld s  %5.1f s\n", static_cast<long long>(e.atMs),
                    e.percent, static_cast<long long>(e.secondsLeft),
                    static_cast<double>(figure.firstDoneMs - e.atMs) / 1000.0);
    }
}

// N boxes at once against one alone. A road with an FPGA stretch has a goal besides: one box's
// road, then each further box's FPGA stretch and driver installer's run one after the other (the
// two things that cannot be shared), everything else side by side.
bool PrintBatch(const char* name, Road road, const Figure& one, int boxes) {
    const Figure many = UpgradeBoxes(road, boxes);
    std::printf("%-4s road: 1 box %6.1f s;  %d boxes %6.1f s (%d upgraded);  ratio %.2f", name,
                one.seconds, boxes, many.seconds, many.upgraded,
                one.seconds > 0 ? many.seconds / one.seconds : 0.0);
    if (one.fpgaStretchMs > 0) {
        const double turns =
            static_cast<double>(one.fpgaStretchMs + ZELKSim::ToolSettings{}.installerMs) / 1000.0;
        const double goal = static_cast<double>(one.firstDoneMs) / 1000.0 + (boxes - 1) * turns;
        std::printf(";  goal %6.1f s (FPGA stretch %.1f s), batch/goal %.2f", goal,
                    static_cast<double>(one.fpgaStretchMs) / 1000.0, many.seconds / goal);
    }
    std::printf("\n");
    return many.upgraded == boxes;
}

int main(int argc, char** argv) {
    bool smoke = false;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        smoke = smoke || std::strcmp(argv[i], "--smoke") == 0;
        trace = trace || std::strcmp(argv[i], "--trace") == 0;
    }
    std::printf("Boxes upgraded at once by the bench runner (emulated seconds; time runs %dx).\n",
                kSpeed);
    const std::vector<int> batches = smoke ? std::vector<int>{2} : std::vector<int>{4, 8};
    const Figure armOne = UpgradeBoxes(Road::Arm, 1);
    const Figure fpgaOne = UpgradeBoxes(Road::Fpga, 1);
    const Figure both = UpgradeBoxes(Road::Both, 1);
    bool allUpgraded = armOne.upgraded == 1 && fpgaOne.upgraded == 1;
    for (const auto& [road, name, one] :
         {std::tuple{Road::Arm, "ARM", &armOne}, std::tuple{Road::Fpga, "FPGA", &fpgaOne},
          std::tuple{Road::Both, "Both", &both}}) {
        for (const int n : batches) {
            allUpgraded = PrintBatch(name, road, *one, n) && allUpgraded;
        }
    }
    const Figure large = UpgradeBoxes(Road::Arm, 1, Image::Large);
    PrintEstimate("ARM", armOne);
    PrintEstimate("FPGA", fpgaOne);
    PrintEstimate("Both", both);
    PrintEstimate("Large", large);
    if (trace) {
        PrintTrace("ARM", armOne);
        PrintTrace("FPGA", fpgaOne);
        PrintTrace("Large", large);
    }
    return allUpgraded && both.upgraded == 1 && large.upgraded == 1 ? 0 : 1;
}
