// What a tool prints, fed through the real controller as a user's tool would feed it: the emulated
// download tool, DFUAPP's log or the STAPL player print the fuzzer's bytes in pieces, and the polls
// of a download or an FPGA run read them. The first byte picks the run and service mode; 0xFF ends
// a piece of output; for the FPGA run the first piece is the identification's output. Whatever the
// tool prints, the polls end and the log stays in proportion to it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scenario/scenario_world.h"

namespace {

using ZELKSim::BoxMode;

// One package folder per download tool, made once: the tool is found by its name at start-up.
const std::string& Package(bool dfuApp) {
    static const auto make = [](bool withDfuApp) {
        static std::vector<std::unique_ptr<ZELKSim::ScratchFolder>> folders;
        folders.push_back(std::make_unique<ZELKSim::ScratchFolder>());
        ZELKSim::ScratchFolder& folder = *folders.back();
        ZELKSim::PackageContents contents;
        contents.version = "2.04";
        contents.details = R"(<detail profile="ZELK" vid="0x14E3" pid="0x0706" id="Q750" )"
                           R"(name="ZELK" LPC3131="a.bin" A3P060="f.stp" A3PN060=""/>)";
        contents.files = {"a.bin", "f.stp"};
        contents.tools = {withDfuApp ? "Tools/DFUAPP" : "Tools/dfu-util", "Tools/STAPL Player"};
        if (!folder.Create() || !ZELKSim::WritePackage(folder.Root(), contents)) {
            std::abort();
        }
        return folder.Root();
    };
    static const std::string dfuUtilPackage = make(false);
    static const std::string dfuAppPackage = make(true);
    return dfuApp ? dfuAppPackage : dfuUtilPackage;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool fpga = (data[0] & 1) != 0;
    const bool dfuApp = (data[0] & 2) != 0;
    const bool service = (data[0] & 4) != 0;
    std::vector<std::string> pieces(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF) {
            pieces.emplace_back();
        } else {
            pieces.back() += static_cast<char>(data[i]);
        }
    }

    ZELKSim::BoxIdentity identity;
    identity.product = L"ZELK";
    ZELKSim::ScenarioWorld world(Package(dfuApp), identity);
    ZELKSim::ToolSettings& tools = world.tools.Settings();
    tools.stepMs = 10;
    if (fpga) {
        tools.ownIdentification = {pieces.front()};
        tools.ownOutput.assign(pieces.begin() + 1, pieces.end());
    } else {
        tools.ownOutput = pieces;
    }
    tools.ownOutput.emplace_back();  // never empty: the tool prints this output, not its own
    world.Start();
    if (service) {
        world.controller->UpdateForm_KeyDown(ZELKUtil::Key::M, true);
    }
    world.box.Plug(fpga ? BoxMode::FpgaProgrammer : BoxMode::Bootloader);
    world.view.SetChecked(
        fpga ? ZELKUtil::Control::CheckProgramFPGA : ZELKUtil::Control::CheckProgramArm, true);
    for (int tick = 0; tick < 8; ++tick) {
        world.Tick();
    }
    // Each byte of output gives at most a few characters of log: a "#" a line, a line break and
    // a fixed text a line, the line itself in service mode.
    if (world.view.log.size() > 64 * size + 4096) {
        std::abort();
    }
    return 0;
}
