// zelk-sim: the box emulator's programs. Each subcommand is one branch of main.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench_runs/bench_scenario.h"
#include "box/dfu_bootloader.h"
#include "cleanup/stop_signals.h"
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

// Each subcommand's synopsis and what it does, for the usage and for its own --help.
struct Command {
    const char* name;
    const char* synopsis;
    const char* about;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"run", "zelk-sim run FILE [--trace]\n",
         "  run    plays a scenario file in virtual time and prints the final log and labels;\n"
         "         with --trace also every poll, wait, tool start and label change\n"},
        {"bench", "zelk-sim bench FILE [--live] [--time-limit SECONDS]\n",
         "  bench  plays a bench scenario: zelk-cli on emulated boxes, in real time run fast;\n"
         "         prints what the program printed, after the run or, with --live, each line as\n"
         "         it is printed (its error stream's on standard error). A run that takes more\n"
         "         than SECONDS of the emulated clock (600, 50 times the wall clock's; 0: no\n"
         "         limit) gets Ctrl+C and fails\n"},
        {"image", "zelk-sim image VERSION BYTES FILE\n",
         "  image  writes an ARM firmware image of BYTES bytes that an emulated box takes as\n"
         "         VERSION (any image without its trailer is refused by the box's bootloader)\n"},
#ifdef ZELK_WITH_KERNEL_FRONTS
        {"present",
         "zelk-sim present [--uhid] [--version V] [--product TEXT] [--serial S]\n"
         "                        [--mode normal|bootloader] [--controller N] [--state FILE]\n",
         "  present  an emulated box on this machine's own buses until Ctrl+C (as root): on a\n"
         "         dummy_hcd USB device controller in all its modes, or with --uhid in normal\n"
         "         mode only; the real programs then find it as they would a box. --state\n"
         "         keeps its firmware in FILE from one present to the next\n"},
#endif
#ifdef ZELK_WITH_DEMO
        {"demo", "zelk-sim demo [PACKAGE]\n",
         "  demo   the utility's window upgrading an emulated box in real time (in the\n"
         "         console when there is no display); PACKAGE defaults to the demo package\n"},
#endif
    };
    return commands;
}

void Usage(std::ostream& out) {
    const char* lead = "usage: ";
    for (const Command& command : Commands()) {
        out << lead << command.synopsis;
        lead = "       ";
    }
    for (const Command& command : Commands()) {
        out << command.about;
    }
    out << "Each subcommand takes --help.\n";
}

// `SUBCOMMAND --help`: that subcommand's usage on standard output. Returns whether it was asked.
bool Help(const std::vector<std::string>& arguments) {
    const auto asked = [](const std::string& a) { return a == "--help" || a == "-h"; };
    if (asked(arguments[0]) || arguments[0] == "help") {
        Usage(std::cout);
        return true;
    }
    if (std::none_of(arguments.begin() + 1, arguments.end(), asked)) {
        return false;
    }
    for (const Command& command : Commands()) {
        if (arguments[0] == command.name) {
            std::cout << "usage: " << command.synopsis << command.about;
            return true;
        }
    }
    return false;
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

// `bench FILE [--live] [--time-limit SECONDS]`.
int Bench(const std::vector<std::string>& arguments) {
    ZELKSim::BenchPlay play;
    std::string file;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--live") {
            play.live = true;
        } else if (argument == "--time-limit" && i + 1 < arguments.size()) {
            const std::string& seconds = arguments[++i];
            if (seconds.empty() || seconds.size() > 7 ||
                seconds.find_first_not_of("0123456789") != std::string::npos) {
                std::cerr << "zelk-sim bench: --time-limit takes whole seconds, up to 9999999\n";
                return ZELKSim::kScenarioUnplayable;
            }
            play.timeLimitMs = std::stoll(seconds) * 1000;
        } else if (file.empty() && !argument.empty() && argument[0] != '-') {
            file = argument;
        } else {
            file.clear();
            break;
        }
    }
    if (file.empty()) {
        Usage(std::cerr);
        return ZELKSim::kScenarioUnplayable;
    }
    return ZELKSim::RunBenchScenarioFile(file, play, std::cout, std::cerr);
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

// The subcommands that make temporary folders remove them when a stop signal ends them too.
void RemoveTempFoldersOnStop() {
    if (const auto heard = ZELKSim::RemoveTempFoldersOnStop(); !heard) {
        std::cerr << "zelk-sim: a stop signal will leave the temporary folders behind: "
                  << heard.error().Text() << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        Usage(std::cerr);
        return 2;
    }
    if (Help(arguments)) {
        return 0;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (arguments[0] == "bench") {
        RemoveTempFoldersOnStop();
        return Bench(rest);
    }
    if (arguments.size() == 4 && arguments[0] == "image") {
        return Image(arguments);
    }
    if (arguments[0] == "run") {
        RemoveTempFoldersOnStop();
        return Run(rest);
    }
#ifdef ZELK_WITH_KERNEL_FRONTS
    if (arguments[0] == "present") {
        return Present(rest);
    }
#endif
#ifdef ZELK_WITH_DEMO
    if (arguments[0] == "demo" && arguments.size() <= 2) {
        RemoveTempFoldersOnStop();
        return ZELKSim::RunDemo(argc, argv, arguments.size() == 2 ? arguments[1] : "");
    }
#endif
    Usage(std::cerr);
    return 2;
}
