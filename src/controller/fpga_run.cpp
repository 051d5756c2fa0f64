// The FPGA run in three stages: the programmer firmware into the box in its bootloader; in
// programmer mode the FPGA's identification and the start of an erase or programming run in the
// background; and, poll by poll, its progress and its result.
#include "controller/operator_texts.h"
#include "controller/stapl_output.h"
#include "controller/tool_arguments.h"
#include "controller/upgrade_controller.h"
#include "package/package_files.h"

namespace ZELKUtil {

bool UpgradeController::DownloadFpgaProgrammer() {
    // The tool's end says nothing about its success; a box still in its bootloader at the next
    // poll does. Three such tries in one visit mean the package cannot make the programmer.
    if (state_.programmerTries >= kMaxProgrammerTries) {
        PackageError();
        return false;
    }
    ++state_.programmerTries;
    if (state_.upgradeMode == auto_upgrade) {
        ++state_.autoDownloads;
    }
    StartRequest request;
    request.program = state_.useDfuUtil != 0 ? PackageFiles::kDfuUtil : PackageFiles::kDfuApp;
    // The tool runs in the Tools folder and is given the firmware by its bare name.
    request.workingDirectory = PackagePath(PackageFiles::kToolsFolder);
    if (state_.useDfuUtil != 0) {
        request.arguments = {"-R", "-t", "2048", "-D", PackageFiles::kFpgaProgrammerImage};
    } else {
        request.arguments = {"/f", PackageFiles::kFpgaProgrammerImage, "/tl", "1000"};
    }
    request.mode = StartMode::Shell;
    std::string reason;
    std::unique_ptr<ChildProcess> tool = processes_.Start(request, &reason);
    if (!tool) {
        PackageError();
        return false;
    }
    WaitForExit(*tool);
    return true;
}

bool UpgradeController::IdentifyFpga(const std::string& file, std::optional<std::uint32_t>& idcode,
                                     std::uint32_t& checksum) {
    StartRequest request;
    request.program = PackageFiles::kStaplPlayer;
    request.arguments = {"-v", "-u", "-r", "-aDEVICE_INFO"};
    if (!file.empty()) {
        request.arguments.push_back(ToolFileArgument(file));
    }
    request.mode = StartMode::DirectRedirected;
    for (int pass = 0; pass < 3 && !idcode; ++pass) {
        std::string reason;
        std::unique_ptr<ChildProcess> player = processes_.Start(request, &reason);
        if (!player) {
            PackageError();
            return false;
        }
        // The whole output is read before anything is decided: the player may exit before its
        // reader gets to an empty line, and lines after that one still count. Only the first
        // IDCODE and the first CHECKSUM line of a pass are taken.
        bool idcodeSeen = false;
        bool checksumSeen = false;
        while (const std::optional<std::string> line = ReadToolLine(*player)) {
            if (!idcodeSeen && line->find("Export: key = \"IDCODE\"") != std::string::npos) {
                idcodeSeen = true;
                const std::optional<std::string> text = TextAfterLast(*line, "HEX ");
                const std::optional<std::uint32_t> value = text ? ParseHex32(*text) : std::nullopt;
                if (value) {
                    idcode = value;
                } else {
                    view_.AppendText("\r\nError Getting FPGA IDCODE");
                    state_.error_occurred = 1;
                }
            }
            if (!checksumSeen && line->find("CHECKSUM:") != std::string::npos) {
                checksumSeen = true;
                const std::optional<std::string> text = TextAfterLast(*line, "CHECKSUM: ");
                const std::optional<std::uint32_t> value = text ? ParseHex32(*text) : std::nullopt;
                if (value) {
                    checksum = *value;
                } else {
                    view_.AppendText("\r\nError Getting FPGA Checksum");
                    state_.error_occurred = 1;
                    checksum = 0;
                }
            }
        }
        WaitForExit(*player);
    }
    return true;
}

void UpgradeController::StartFpgaProgramming() {
    std::string file;
    if (state_.current_profile) {
        file = !state_.current_profile->A3P060.empty() ? state_.current_profile->A3P060
                                                       : state_.current_profile->A3PN060;
    }
    if (state_.diagOutput != 0) {
        view_.AppendText("\r\nFlashing FPGA File: " + file);
    }

    std::optional<std::uint32_t> idcode;
    std::uint32_t checksum = 0;
    if (!IdentifyFpga(file, idcode, checksum)) {
        return;
    }

    state_.fpga_image.clear();
    const FpgaVariant variant = ClassifyIdcode(idcode);
    view_.AppendText(VariantText(variant));
    // Unticked, so that the text is written once and no player starts again until the operator
    // ticks the box.
    if (variant == FpgaVariant::None) {
        view_.SetChecked(Control::CheckProgramFPGA, false);
        return;
    }
    if (state_.current_profile) {
        state_.fpga_image = variant == FpgaVariant::A3PN060 ? state_.current_profile->A3PN060
                                                            : state_.current_profile->A3P060;
    }
    if (state_.fpga_image.empty()) {
        view_.AppendText("\r\nError: FPGA Programming file missing\r\n");
        view_.SetChecked(Control::CheckProgramFPGA, false);
        return;
    }

    // A fresh hand-over for the new run. An earlier run's "Exit code" line must not stand as this
    // run's reason should it print none.
    const std::string previousLine = [this] {
        const std::lock_guard<std::mutex> lock(state_.stapl->lock);
        return state_.stapl->prevStaplLine;
    }();
    state_.stapl = std::make_shared<StaplHandover>();
    state_.stapl->prevStaplLine = previousLine;

    StartRequest request;
    request.program = PackageFiles::kStaplPlayer;
    const std::string speed = "-u" + std::to_string(state_.fpga_usb_quick);
    if (checksum == 0 || checksum == 0xFFFF) {
        view_.AppendText(state_.fpga_usb_quick == 1 ? "\r\nProgramming FPGA..."
                                                    : "\r\nProgramming FPGA (Slowly)...");
        state_.fpga_erase_first = 0;
        request.arguments = {"-v", speed, "-aPROGRAM", ToolFileArgument(state_.fpga_image)};
    } else {
        view_.AppendText("\r\nErasing FPGA...");
        state_.fpga_erase_first = 1;
        request.arguments = {"-v", speed, "-r", "-aERASE", ToolFileArgument(state_.fpga_image)};
    }
    request.mode = StartMode::DirectRedirected;

    std::string reason;
    state_.STAPL_Player = processes_.Start(request, &reason);
    if (!state_.STAPL_Player) {
        view_.AppendText("\r\nError Programming FPGA\r\n");
        state_.error_occurred = 1;
        return;
    }
    std::shared_ptr<StaplHandover> handover = state_.stapl;
    state_.STAPL_Player->DeliverLines(
        [handover](const std::string& line) { return STAPLPlayerOutputHandler(*handover, line); },
        [handover] {
            const std::lock_guard<std::mutex> lock(handover->lock);
            handover->outputEnded = true;
        });
    state_.currently_programming_fpga = 1;
}

bool UpgradeController::STAPLPlayerOutputHandler(StaplHandover& handover, const std::string& line) {
    if (line.empty()) {
        return true;
    }
    const std::lock_guard<std::mutex> lock(handover.lock);
    if (handover.abandoned) {
        return true;
    }
    // Memory stays bounded however fast the player prints: the reader waits for the next poll.
    if (handover.STAPL_Player_Output.size() >= kMaxPendingProgress) {
        return false;
    }
    if (line.find("PERCENT_DONE") != std::string::npos) {
        handover.STAPL_Player_Output += "#";
    }
    if (line.find("Verifying FPGA Array -- pass") != std::string::npos) {
        handover.fpga_just_programmed = 1;
        handover.STAPL_Player_Output += "\r\nFPGA Done\r\n";
    } else if (line.find("Verifying FPGA Array") != std::string::npos) {
        handover.STAPL_Player_Output += "\r\nVerifying FPGA...\r\n";
    } else if (line.find("Exit code = 0... Success") != std::string::npos &&
               handover.prevStaplLine.find("Completed erase") != std::string::npos) {
        handover.fpga_just_programmed = 1;
        handover.STAPL_Player_Output += "\r\nFPGA Erased\r\n";
    }
    if (line.find("Exit code") != std::string::npos) {
        handover.error = line;
    }
    handover.prevStaplLine = line;
    return true;
}

bool UpgradeController::FpgaPollStep() {
    view_.SetText(Control::DeviceLabel, "FPGA programming underway");
    // The run has ended once the player has exited and its reader has handled every line, so a
    // success line printed just before the exit is never missed.
    const bool exited = state_.STAPL_Player == nullptr || state_.STAPL_Player->HasExited();
    std::string progress;
    bool ended = false;
    std::int32_t succeeded = 0;
    std::string error;
    {
        const std::lock_guard<std::mutex> lock(state_.stapl->lock);
        ended = exited && state_.stapl->outputEnded;
        progress.swap(state_.stapl->STAPL_Player_Output);
        succeeded = state_.stapl->fpga_just_programmed;
        error = state_.stapl->error;
    }
    if (!progress.empty()) {
        view_.AppendText(progress);
    }
    if (!ended) {
        return false;
    }

    if (succeeded == 0) {
        view_.AppendText("\r\n");
        view_.AppendText("\r\nError Programming FPGA");
        if (!error.empty()) {
            view_.AppendText(error + "\r\n");
        }
        state_.error_occurred = 1;
    }
    view_.SetChecked(Control::CheckProgramFPGA, state_.fpga_erase_first != 0);
    Wait(3500);
    state_.currently_programming_fpga = 0;
    state_.STAPL_Player.reset();
    return true;
}

}  // namespace ZELKUtil
