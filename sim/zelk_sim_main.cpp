// zelk-sim: the box emulator's programs. Each subcommand is one branch of main.
#include <iostream>
#include <string>
#include <vector>

#include "scenario_runner.h"

namespace {

void Usage(std::ostream& out) {
    out << "usage: zelk-sim run FILE [--trace]\n"
           "  run    plays a scenario file in virtual time and prints the final log and labels;\n"
           "         with --trace also every poll, wait, tool start and label change\n";
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
    if (!arguments.empty() && arguments[0] == "run") {
        return Run({arguments.begin() + 1, arguments.end()});
    }
    Usage(std::cerr);
    return 2;
}
