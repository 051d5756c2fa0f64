// zelk-bench-boxes: the bench runner's wall time for several emulated boxes upgraded at once,
// against one box alone. The ARM road runs the boxes side by side (each dfu-util told its port),
// so eight should take barely longer than one; the FPGA road runs them one at a time (the STAPL
// player cannot be told which programmer), so its figure grows with the boxes.
//
//   zelk-bench-boxes [--smoke]
//
// The emulator's time runs faster than the wall clock (the figures are scaled back to emulated
// seconds); the controller's waits, the tools' output and the boxes' restarts keep their lengths
// in emulated time.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "package/package_files.h"
#include "scenario/bench_world.h"

namespace {

constexpr int kSpeed = 20;

struct Figure {
    double seconds = 0;
    int upgraded = 0;
};

// Upgrades `boxes` emulated boxes at once on the package's road; emulated seconds it took.
Figure UpgradeBoxes(bool fpga, int boxes) {
    ZELKSim::ScratchFolder folder;
    if (!folder.Create()) {
        return {};
    }
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details =
        std::string(R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")") +
        R"( name="ZELK Q750" )" +
        (fpga ? R"(LPC3131="" A3P060="kr.stp" A3PN060=""/>)"
              : R"(LPC3131="q750.bin" A3P060="" A3PN060=""/>)");
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
    const auto start = std::chrono::steady_clock::now();
    world.Run(options);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    Figure figure{took.count() * kSpeed, 0};
    for (const std::string& line : world.out) {
        if (line.find(R"("event":"result")") != std::string::npos &&
            line.find(R"("text":"upgraded")") != std::string::npos) {
            ++figure.upgraded;
        }
    }
    return figure;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const int many = smoke ? 2 : 8;
    std::printf("Boxes upgraded at once by the bench runner (emulated seconds; time runs %dx).\n",
                kSpeed);
    const Figure armOne = UpgradeBoxes(false, 1);
    const Figure armMany = UpgradeBoxes(false, many);
    std::printf("ARM road:  1 box %6.1f s;  %d boxes %6.1f s (%d upgraded);  ratio %.2f\n",
                armOne.seconds, many, armMany.seconds, armMany.upgraded,
                armOne.seconds > 0 ? armMany.seconds / armOne.seconds : 0.0);
    const int fpgaBoxes = smoke ? 1 : 2;
    const Figure fpgaOne = UpgradeBoxes(true, 1);
    const Figure fpgaMany = UpgradeBoxes(true, fpgaBoxes);
    std::printf(
        "FPGA road: 1 box %6.1f s;  %d boxes %6.1f s (%d upgraded, one at a time);  "
        "ratio %.2f\n",
        fpgaOne.seconds, fpgaBoxes, fpgaMany.seconds, fpgaMany.upgraded,
        fpgaOne.seconds > 0 ? fpgaMany.seconds / fpgaOne.seconds : 0.0);
    return armMany.upgraded == many && fpgaMany.upgraded == fpgaBoxes ? 0 : 1;
}
