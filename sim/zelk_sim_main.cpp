// zelk-sim: the box emulator's programs. Each subcommand is one branch of main.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench_runs/bench_scenario.h"
#include "box/dfu_bootloader.h"
#include "scenario/scenario_runner.h"
#ifdef ZELK_WITH_DEMO
#include "demo/demo.h"
#endif
#ifdef ZELK_WITH_KERNEL_FRONTS
#include <signal.h>

#include <ctime>

#include "kernel/present_box.h"
#endif

namespace {

void Usage(std::ostream& out) {
    out << "usage: zelk-sim run FILE [--trace]\n"
           "       zelk-sim bench FILE\n"
           "       zelk-sim image VERSION BYTES FILE\n"
#ifdef ZELK_WITH_KERNEL_FRONTS
           "       zelk-sim present [--uhid] [--version V] [--product TEXT] [--serial S]\n"
           "                        [--mode normal|bootloader] [--controller N] [--state FILE]\n"
#endif
#ifdef ZELK_WITH_DEMO
           "       zelk-sim demo [PACKAGE]\n"
#endif
           "  run    plays a scenario file in virtual time and prints the final log and labels;\n"
           "         with --trace also every poll, wait, tool start and label change\n"
           "  bench  plays a bench scenario: zelk-cli on emulated boxes, in real time run fast;\n"
           "         prints what the program printed\n"
           "  image  writes an ARM firmware image of BYTES bytes that an emulated box takes as\n"
           "         VERSION (any image without its trailer is refused by the box's bootloader)\n"
#ifdef ZELK_WITH_KERNEL_FRONTS
           "  present  an emulated box on this machine's own buses until Ctrl+C (as root): on a\n"
           "         dummy_hcd USB device controller in all its modes, or with --uhid in normal\n"
           "         mode only; the real programs then find it as they would a box. --state\n"
           "         keeps its firmware in FILE from one present to the next\n"
#endif
#ifdef ZELK_WITH_DEMO
           "  demo   the utility's window upgrading an emulated box in real time (in the\n"
           "         console when there is no display); PACKAGE defaults to the demo package\n"
#endif
        ;
}

// `image VERSION BYTES FILE`: an image for an emulated box's download, as a package carries it.
int Image(const std::vector<std::string>& arguments) {
    const std::string& bytes = arguments[2];
    if (bytes.empty() || bytes.size() > 8 ||
        bytes.find_first_not_of("0123456789") != std::string::npos) {
        std::cerr << "zelk-sim image: BYTES is a number up to 99999999\n";
        return 2;
    }
    std::ofstream file(arguments[3], std::ios::binary | std::ios::trunc);
    file << ZELKSim::MakeFirmwareImage(arguments[1], std::stoul(bytes));
    if (!file.flush()) {
        std::cerr << "zelk-sim image: cannot write " << arguments[3] << "\n";
        return 1;
    }
    return 0;
}

int Run(const std::vector<std::string>& arguments) {
    std::string file;
    bool trace = false;
    for (const std::string& argument : arguments) {
        if (argument == "--trace") {
            trace = true;
        } else if (file.empty() && !argument.empty() && argument[0] != '-') {
            file = argument;
        } else {
            Usage(std::cerr);
            return ZELKSim::kScenarioUnplayable;
        }
    }
    if (file.empty()) {
        Usage(std::cerr);
        return ZELKSim::kScenarioUnplayable;
    }
    return ZELKSim::RunScenarioFile(file, trace, std::cout, std::cerr);
}

#ifdef ZELK_WITH_KERNEL_FRONTS
// SIGINT and SIGTERM are blocked before the box's threads start, and taken here between looks.
int Present(const std::vector<std::string>& arguments) {
    std::string error;
    const auto options = ZELKSim::ParsePresentArguments(arguments, &error);
    if (!options) {
        std::cerr << "zelk-sim present: " << error << "\n";
        Usage(std::cerr);
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::cerr << "zelk-sim present: the stop signals cannot be blocked\n";
        return 1;
    }
    const auto stopWait = [&stopSignals](int ms) {
        const timespec timeout{0, static_cast<long>(ms) * 1000000L};
        return sigtimedwait(&stopSignals, nullptr, &timeout) >= 0;
    };
    return ZELKSim::PresentBox(*options, stopWait, std::cout, std::cerr);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 2 && arguments[0] == "bench") {
        return ZELKSim::RunBenchScenarioFile(arguments[1], std::cout, std::cerr);
    }
    if (arguments.size() == 4 && arguments[0] == "image") {
        return Image(arguments);
    }
    if (!arguments.empty() && arguments[0] == "run") {
        return Run({arguments.begin() + 1, arguments.end()});
    }
#ifdef ZELK_WITH_KERNEL_FRONTS
    if (!arguments.empty() && arguments[0] == "present") {
        return Present({arguments.begin() + 1, arguments.end()});
    }
#endif
#ifdef ZELK_WITH_DEMO
    if (!arguments.empty() && arguments[0] == "demo" && arguments.size() <= 2) {
        return ZELKSim::RunDemo(argc, argv, arguments.size() == 2 ? arguments[1] : "");
    }
#endif
    Usage(std::cerr);
    return 2;
}
