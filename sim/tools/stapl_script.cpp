#include <cstdio>
#include <string>
#include <vector>

#include "package/package_files.h"
#include "tools/emulated_tools.h"
#include "tools/tool_script.h"

// The STAPL player's runs: the FPGA's identification, erase and programming.
namespace ZELKSim {
namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

using ZELKUtil::StartRequest;
namespace PackageFiles = ZELKUtil::PackageFiles;

void EmulatedProcessService::IdentificationSteps(std::vector<Step>& steps, bool programmer,
                                                 EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    const int run = deviceInfoRuns_++;
    const StaplBehaviour b = settings_.stapl;
    if (programmer && b != StaplBehaviour::NoIdcode && run >= settings_.staplMissedIdcodes) {
        const std::string id =
            b == StaplBehaviour::GarbageIdcode ? "XYZ" : Hex(box.FpgaIdcode(), 8);
        const std::string sum =
            b == StaplBehaviour::GarbageChecksum ? "n/a" : Hex(box.FpgaChecksum(), 4);
        const std::string lines[] = {"Export: key = \"IDCODE\", value = HEX " + id + "\n",
                                     "Export: key = \"USERCODE\", CHECKSUM: " + sum + "\n",
                                     "Exit code = 0... Success\n\n"};
        if (b == StaplBehaviour::BlankLineFirst) {
            steps.front().output += "\n" + lines[0] + lines[1] + lines[2];
            steps.front().exits = true;
            steps.front().box = BoxUse::Opens;
        } else {
            BoxUse use = BoxUse::Opens;
            for (const std::string& line : lines) {
                steps.push_back({ms, line, nullptr, false, std::exchange(use, BoxUse::Holds)});
            }
        }
    } else {
        steps.push_back({ms,
                         "Error: device not found in the JTAG chain\nExit code = 9... "
                         "Unrecognized device\n\n",
                         nullptr});
    }
}

EmulatedProcessService::Script EmulatedProcessService::StaplScript(const StartRequest& request,
                                                                   EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    Script script;
    script.device = BoxMode::FpgaProgrammer;
    // The player loses its JTAG chain with the programmer.
    script.goneOutput = "Error: the JTAG chain is gone\nExit code = 1... Checking chain failure\n";
    std::vector<Step>& steps = script.steps;
    steps.push_back({ms, "STAPL Player Version 2.2\nCopyright (C) 1997-2012\n", nullptr});
    const bool programmer = box.Mode() == BoxMode::FpgaProgrammer;
    if (Has(request.arguments, "-aDEVICE_INFO")) {
        IdentificationSteps(steps, programmer, box);
        return script;
    }
    const bool erase = Has(request.arguments, "-aERASE");
    const std::string action = erase ? "ERASE" : "PROGRAM";
    const BoxUse first = programmer ? BoxUse::Opens : BoxUse::None;
    const BoxUse later = programmer ? BoxUse::Holds : BoxUse::None;
    for (int i = 1; i <= settings_.staplPercentLines; ++i) {
        steps.push_back({ms,
                         "Action " + action + ": PERCENT_DONE = " +
                             std::to_string(100 * i / settings_.staplPercentLines) + "\n",
                         nullptr, false, i == 1 ? first : later});
    }
    if (!programmer || settings_.stapl == StaplBehaviour::Fails) {
        steps.push_back({ms, "Exit code = 10... Failure\n", nullptr});
        return script;
    }
    if (settings_.stapl == StaplBehaviour::FailsSilently) {
        return script;
    }
    if (erase) {
        const bool clears = settings_.stapl != StaplBehaviour::EraseLeavesDesign;
        steps.push_back({ms, "Completed erase\nExit code = 0... Success\n",
                         [&box, clears] {
                             if (clears) {
                                 box.SetFpgaChecksum(0);
                             }
                         },
                         false, BoxUse::Holds});
    } else {
        steps.push_back({ms,
                         "Verifying FPGA Array\nVerifying FPGA Array -- pass\nExit code = 0... "
                         "Success\n",
                         [&box, sum = settings_.programmedChecksum] { box.SetFpgaChecksum(sum); },
                         false, BoxUse::Holds});
    }
    return script;
}

}  // namespace ZELKSim
