#include <fstream>
#include <string>
#include <vector>

#include "package/package_files.h"
#include "platform/files.h"
#include "tools/emulated_tools.h"
#include "tools/tool_script.h"

// The download tools' runs: dfu-util (both of its progress bars), DFUAPP and the programmer
// firmware's download.
namespace ZELKSim {

namespace PackageFiles = ZELKUtil::PackageFiles;

EmulatedProcessService::Script EmulatedProcessService::ProgrammerFirmwareScript(
    EmulatedBox& box) const {
    // Started by the shell in the Tools folder, no output read. It acts only on the box it found
    // in its bootloader when it started.
    Script script;
    script.steps.push_back({settings_.stepMs * 10, "",
                            [&box, firmware = settings_.programmerFirmware] {
                                if (firmware == ProgrammerFirmware::Works) {
                                    box.BecomeFpgaProgrammer();
                                } else if (firmware == ProgrammerFirmware::FallsBack) {
                                    box.Restart(BoxMode::Normal, EmulatedBox::kDefaultRestartMs);
                                }
                            },
                            false, BoxUse::Holds});
    return script;
}

EmulatedProcessService::Script EmulatedProcessService::DfuUtilScript(EmulatedBox* box,
                                                                     bool several) {
    const std::int64_t ms = settings_.stepMs;

    const bool current = settings_.dfuUtil == DfuUtilBehaviour::WorksCurrent ||
                         settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent;
    // dfu-util tells of a device lost mid-transfer on its error stream: its output just stops.
    Script script;
    script.goneError = "dfu-util: Error during download get_status\n";
    std::vector<Step>& steps = script.steps;
    steps.push_back({ms,
                     std::string("dfu-util ") + (current ? "0.11" : "0.7") +
                         "\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko "
                         "Inc.\nCopyright 2010-2012 Tormod Volden and Stefan Schmidt\nThis "
                         "program is Free Software and has ABSOLUTELY NO WARRANTY\n\n",
                     nullptr});
    const int pass = dfuUtilPasses_++;
    const bool inBootloader = box != nullptr && box->Mode() == BoxMode::Bootloader;
    // More than one DFU device, or (current dfu-util) none: it says so on its error stream only.
    if (settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent || (current && !inBootloader) ||
        box == nullptr) {
        script.endError = several ? "dfu-util: More than one DFU capable USB device found! Try "
                                    "`--list' and specify the serial number or disconnect all "
                                    "but one device\n"
                                  : "dfu-util: No DFU capable USB device available\n";
        return script;
    }
    steps.push_back({ms, "Opening DFU capable USB device...\n", nullptr});
    if (settings_.dfuUtil == DfuUtilBehaviour::OnlyOpening ||
        pass < settings_.dfuUtilOpeningPasses || !inBootloader) {
        script.endError = inBootloader ? "dfu-util: Cannot open DFU device 0471:df55\n"
                                       : "dfu-util: No DFU capable USB device found\n";
        return script;
    }
    // The device's set-up, a line after each USB request, as the tool prints it: a box that
    // leaves between two of them cuts the pass short before its bar.
    const char* const setUp[] = {
        "ID 0471:df55\n",
        "Run-time device DFU version 0100\n",
        "Claiming USB DFU Interface...\n",
        "Setting Alternate Setting #0 ...\n",
        "Determining device status: state = dfuIDLE, status = 0\ndfuIDLE, continuing\n",
        "DFU mode device DFU version 0100\n",
        "Device returned transfer size 2048\nCopying data from PC to DFU device\n",
    };
    for (const char* line : setUp) {
        steps.push_back(
            {ms, line, nullptr, false, line == setUp[0] ? BoxUse::Opens : BoxUse::Holds});
    }
    const auto complete = [box, version = NewVersion()] { box->CompleteArmDownload(version); };
    if (current) {
        AddCurrentDfuUtilTransfer(steps, complete);
    } else {
        AddOldDfuUtilTransfer(steps, complete);
    }
    return script;
}

// dfu-util 0.11 and later: a progress bar redrawn after a carriage return.
void EmulatedProcessService::AddCurrentDfuUtilTransfer(
    std::vector<Step>& steps, const std::function<void()>& complete) const {
    const std::int64_t ms = settings_.stepMs;
    const int length = settings_.dfuUtilBarLength;
    for (int fill = 0; fill <= length; ++fill) {
        const int percent = length == 0 ? 100 : 100 * fill / length;
        steps.push_back({ms,
                         "\rDownload\t[" + std::string(static_cast<std::size_t>(fill), '=') +
                             std::string(static_cast<std::size_t>(length - fill), ' ') + "] " +
                             std::to_string(percent) + "%  " + std::to_string(fill * 2048) +
                             " bytes",
                         nullptr, false, BoxUse::Holds});
    }
    steps.push_back({ms,
                     "\nDownload done.\nstate(7) = dfuMANIFEST, status(0) = No error "
                     "condition is present\nDone!\n",
                     complete, false, BoxUse::Holds});
}

// dfu-util 0.7: a bar of hashes that grows on one line.
void EmulatedProcessService::AddOldDfuUtilTransfer(std::vector<Step>& steps,
                                                   const std::function<void()>& complete) const {
    const std::int64_t ms = settings_.stepMs;
    steps.push_back({ms, "Starting download: [", nullptr, false, BoxUse::Holds});
    for (int i = 0; i < settings_.dfuUtilBarLength; ++i) {
        steps.push_back({ms, "#", nullptr, false, BoxUse::Holds});
    }
    if (settings_.dfuUtil == DfuUtilBehaviour::FinishedMissing) {
        steps.push_back({ms, "] error during download\n", nullptr, false, BoxUse::Holds});
        return;
    }
    steps.push_back({ms,
                     "] finished!\nstate(2) = dfuIDLE, status(0) = No error condition is "
                     "present\nDone!\n",
                     complete, false, BoxUse::Holds});
}

EmulatedProcessService::Script EmulatedProcessService::DfuAppScript(EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    // DFUAPP writes its log into the package's Tools folder, where the utility reads it.
    const std::string log = ZELKUtil::Files::Join(packageFolder_, PackageFiles::kDfuAppLog);
    const auto append = [log](std::string text) {
        return [log, text = std::move(text)] {
            std::ofstream out(log, std::ios::app | std::ios::binary);
            out << text;
        };
    };
    Script script;
    script.goneEffect = append("An error has occurred.\r\n");
    std::vector<Step>& steps = script.steps;
    steps.push_back(
        {ms, "", append("DFUAPP started\r\nDevice found: 0471:DF55\r\n"), false, BoxUse::Opens});
    const int blocks = settings_.dfuAppBlocks;
    const bool fails = settings_.dfuApp == DfuAppBehaviour::Fails;
    for (int i = 0; i < (fails ? blocks / 2 : blocks); ++i) {
        steps.push_back({ms, "",
                         append("Device has received a block and is waiting for the host to "
                                "solicit the status via DFU_GETSTATUS\r\n"),
                         false, BoxUse::Holds});
    }
    if (fails) {
        steps.push_back({ms, "", append("An error has occurred.\r\n")});
        return script;
    }
    steps.push_back({ms, "",
                     [&box, write = append("Device Reset after Download successful\r\n"),
                      version = NewVersion()] {
                         write();
                         box.CompleteArmDownload(version);
                     },
                     false, BoxUse::Holds});
    return script;
}

// The player's identification run (DEVICE_INFO): the FPGA's IDCODE and checksum, from a
// programmer that answers.

}  // namespace ZELKSim
