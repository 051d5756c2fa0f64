// zelk-sim: the box emulator's programs. Each subcommand is one branch of main.
#include <iostream>
#include <string>
#include <vector>

#include "scenario/bench_scenario.h"
#include "scenario/scenario_runner.h"
#ifdef ZELK_WITH_DEMO
#include "demo/demo.h"
#endif

namespace {

void Usage(std::ostream& out) {
    out << "usage: zelk-sim run FILE [--trace]\n"
           "       zelk-sim bench FILE\n"
#ifdef ZELK_WITH_DEMO
           "       zelk-sim demo [PACKAGE]\n"
#endif
           "  run    plays a scenario file in virtual time and prints the final log and labels;\n"
           "         with --trace also every poll, wait, tool start and label change\n"
           "  bench  plays a bench scenario: zelk-cli on emulated boxes, in real time run fast;\n"
           "         prints what the program printed\n"
#ifdef ZELK_WITH_DEMO
           "  demo   the utility's window upgrading an emulated box in real time (in the\n"
           "         console when there is no display); PACKAGE defaults to the demo package\n"
#endif
        ;
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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 2 && arguments[0] == "bench") {
        return ZELKSim::RunBenchScenarioFile(arguments[1], std::cout, std::cerr);
    }
    if (!arguments.empty() && arguments[0] == "run") {
        return Run({arguments.begin() + 1, arguments.end()});
    }
#ifdef ZELK_WITH_DEMO
    if (!arguments.empty() && arguments[0] == "demo" && arguments.size() <= 2) {
        return ZELKSim::RunDemo(argc, argv, arguments.size() == 2 ? arguments[1] : "");
    }
#endif
    Usage(std::cerr);
    return 2;
}
