#include "controller/fpga_run.h"

#include <utility>

#include "controller/tools/stapl_output.h"
#include "controller/waits.h"
#include "package/package_files.h"

namespace ZELKUtil {

FpgaRun::~FpgaRun() {
    const std::lock_guard<std::mutex> lock(s_.state.stapl->lock);
    s_.state.stapl->abandoned = true;
}

DownloadOutcome FpgaRun::DownloadProgrammer() {
    UpgradeState& state = s_.state;
    const bool dfuUtil = state.useDfuUtil != 0;
    ToolCommand command(dfuUtil ? PackageFiles::kDfuUtil : PackageFiles::kDfuApp, StartMode::Shell);
    // The tool runs in the Tools folder and is given the firmware by its bare name.
    command.WorkingDirectory(s_.PackagePath(PackageFiles::kToolsFolder));
    if (dfuUtil) {
        command.Options({"-R"});
        if (s_.dfuUtilPort) {
            command.Options({"-p"}).File(*s_.dfuUtilPort);
        }
        command.Options({"-t", "2048", "-D"}).File(PackageFiles::kFpgaProgrammerImage);
    } else {
        command.Options({"/f"}).File(PackageFiles::kFpgaProgrammerImage).Options({"/tl", "1000"});
    }
    s_.Tell(RoadEvents::DownloadStarted{s_.port, Work::ProgrammerFirmware,
                                        PackageFiles::kFpgaProgrammerImage});
    const auto tool = s_.processes.Start(command.Request());
    if (!tool) {
        s_.PackageError();
        s_.Fail(Reason::ToolFailed);
        s_.Tell(RoadEvents::DownloadEnded{s_.port, DownloadOutcome::NotStarted});
        return DownloadOutcome::NotStarted;
    }
    s_.reader.WaitForExit(*tool.value());
    s_.Tell(RoadEvents::DownloadEnded{s_.port, DownloadOutcome::Done});
    return DownloadOutcome::Done;
}

FpgaRun::Started FpgaRun::StartProgramming(bool mayErase) {
    UpgradeState& state = s_.state;
    std::string file;
    if (state.current_profile) {
        file = !state.current_profile->A3P060.empty() ? state.current_profile->A3P060
                                                      : state.current_profile->A3PN060;
    }
    if (state.diagOutput != 0) {
        s_.view.AppendText("\r\nFlashing FPGA File: " + file);
    }

    // The player runs the file's own actions on the box, the identification too: a file from
    // outside the package is not played at all.
    if (!file.empty() && !s_.ImagePath(file)) {
        s_.view.AppendText(OperatorTexts::kPackageError);
        s_.view.SetChecked(Control::CheckProgramFPGA, false);
        s_.Fail(Reason::NoImage);
        return Started::Nothing;
    }
    std::optional<std::uint32_t> idcode;
    std::uint32_t checksum = 0;
    if (!Identify(file, idcode, checksum) || !ChooseImage(idcode)) {
        return Started::Nothing;
    }
    if (!Blank(checksum) && !mayErase) {
        // The erase said it was done, yet the FPGA still shows a design: erasing it again would
        // change nothing. "Program FPGA" stays ticked, so "Boot" tries the job afresh.
        s_.view.AppendText(OperatorTexts::kFpgaStillHoldsDesign);
        FpgaFailed();
        return Started::Nothing;
    }
    if (!StartPlayer(PlayerCommand(checksum))) {
        return Started::Nothing;
    }
    return Blank(checksum) ? Started::Programming : Started::Erase;
}

void FpgaRun::FpgaFailed() {
    s_.state.error_occurred = 1;
    s_.Fail(Reason::FpgaFailed);
}

bool FpgaRun::Identify(const std::string& file, std::optional<std::uint32_t>& idcode,
                       std::uint32_t& checksum) {
    ToolCommand command(PackageFiles::kStaplPlayer, StartMode::DirectRedirected);
    command.Options({"-v", "-u", "-r", "-aDEVICE_INFO"}).File(file);
    const StartRequest request = command.Request();
    for (int pass = 0; pass < 3 && !idcode; ++pass) {
        const auto player = s_.processes.Start(request);
        if (!player) {
            s_.view.AppendText(OperatorTexts::kPackageError);
            s_.state.error_occurred = 1;
            s_.Fail(Reason::ToolFailed);
            return false;
        }
        ReadIdentification(*player.value(), idcode, checksum);
        s_.reader.WaitForExit(*player.value());
    }
    return true;
}

void FpgaRun::ReadIdentification(ChildProcess& player, std::optional<std::uint32_t>& idcode,
                                 std::uint32_t& checksum) {
    // The whole output is read before anything is decided: the player may exit before its reader
    // gets to an empty line, and lines after that one still count. Only the first IDCODE and the
    // first CHECKSUM line of a pass are taken.
    bool idcodeSeen = false;
    bool checksumSeen = false;
    while (const std::optional<std::string> line = s_.reader.ReadLine(player)) {
        const StaplIdentificationLine read = ReadStaplIdentificationLine(*line);
        if (!idcodeSeen && read.idcodeLine) {
            idcodeSeen = true;
            if (read.idcode) {
                idcode = read.idcode;
            } else {
                s_.view.AppendText("\r\nError Getting FPGA IDCODE");
                FpgaFailed();
            }
        }
        if (!checksumSeen && read.checksumLine) {
            checksumSeen = true;
            if (!read.checksum) {
                s_.view.AppendText("\r\nError Getting FPGA Checksum");
                FpgaFailed();
            }
            checksum = read.checksum.value_or(0);
        }
    }
}

bool FpgaRun::ChooseImage(std::optional<std::uint32_t> idcode) {
    UpgradeState& state = s_.state;
    state.fpga_image.clear();
    const FpgaVariant variant = ClassifyIdcode(idcode);
    s_.view.AppendText(VariantText(variant));
    // Unticked, so that the text is written once and no player starts again until the operator
    // ticks the box.
    if (variant == FpgaVariant::None) {
        s_.view.SetChecked(Control::CheckProgramFPGA, false);
        s_.Fail(Reason::FpgaFailed);
        return false;
    }
    if (state.current_profile) {
        state.fpga_image = variant == FpgaVariant::A3PN060 ? state.current_profile->A3PN060
                                                           : state.current_profile->A3P060;
    }
    if (!state.fpga_image.empty() && !s_.ImagePath(state.fpga_image)) {
        s_.view.AppendText(OperatorTexts::kPackageError);
        state.fpga_image.clear();
        s_.view.SetChecked(Control::CheckProgramFPGA, false);
        s_.Fail(Reason::NoImage);
        return false;
    }
    if (state.fpga_image.empty()) {
        s_.view.AppendText("\r\nError: FPGA Programming file missing\r\n");
        s_.view.SetChecked(Control::CheckProgramFPGA, false);
        s_.Fail(Reason::NoImage);
        return false;
    }
    return true;
}

ToolCommand FpgaRun::PlayerCommand(std::uint32_t checksum) {
    UpgradeState& state = s_.state;
    ToolCommand command(PackageFiles::kStaplPlayer, StartMode::DirectRedirected);
    const std::string speed = "-u" + std::to_string(state.fpga_usb_quick);
    if (Blank(checksum)) {
        s_.view.AppendText(state.fpga_usb_quick == 1 ? "\r\nProgramming FPGA..."
                                                     : "\r\nProgramming FPGA (Slowly)...");
        s_.Tell(RoadEvents::FpgaStep{s_.port, RoadEvents::FpgaStepKind::Programming, 0,
                                     state.fpga_image});
        state.fpga_erase_first = 0;
        command.Options({"-v", speed, "-aPROGRAM"});
    } else {
        s_.view.AppendText("\r\nErasing FPGA...");
        s_.Tell(RoadEvents::FpgaStep{s_.port, RoadEvents::FpgaStepKind::Erasing, 0});
        state.fpga_erase_first = 1;
        command.Options({"-v", speed, "-r", "-aERASE"});
    }
    command.File(state.fpga_image);
    return command;
}

bool FpgaRun::StartPlayer(const ToolCommand& command) {
    UpgradeState& state = s_.state;
    // A fresh hand-over for the new run. An earlier run's "Exit code" line must not stand as this
    // run's reason should it print none.
    const std::string previousLine = [&state] {
        const std::lock_guard<std::mutex> lock(state.stapl->lock);
        return state.stapl->prevStaplLine;
    }();
    state.stapl = std::make_shared<StaplHandover>();
    state.stapl->prevStaplLine = previousLine;

    auto started = s_.processes.Start(command.Request());
    if (!started) {
        state.STAPL_Player.reset();
        s_.view.AppendText("\r\nError Programming FPGA\r\n");
        FpgaFailed();
        return false;
    }
    state.STAPL_Player = std::move(started).value();
    std::shared_ptr<StaplHandover> handover = state.stapl;
    state.STAPL_Player->DeliverLines(
        [handover](const std::string& line) { return STAPLPlayerOutputHandler(*handover, line); },
        [handover] {
            const std::lock_guard<std::mutex> lock(handover->lock);
            handover->outputEnded = true;
        });
    state.currently_programming_fpga = 1;
    marksTold_ = 0;
    verifyingTold_ = false;
    return true;
}

bool FpgaRun::STAPLPlayerOutputHandler(StaplHandover& handover, const std::string& line) {
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
    const StaplProgressLine read = ReadStaplProgressLine(line, handover.prevStaplLine);
    if (read.step) {
        handover.STAPL_Player_Output += "#";
        ++handover.marks;
    }
    if (read.verifyPassed) {
        handover.fpga_just_programmed = 1;
        handover.STAPL_Player_Output += "\r\nFPGA Done\r\n";
    } else if (read.verifying) {
        handover.STAPL_Player_Output += "\r\nVerifying FPGA...\r\n";
        handover.verifying = true;
    } else if (read.erased) {
        handover.fpga_just_programmed = 1;
        handover.STAPL_Player_Output += "\r\nFPGA Erased\r\n";
    }
    if (read.exitCode) {
        handover.error = line;
    }
    handover.prevStaplLine = line;
    return true;
}

PollFlow FpgaRun::PollStep() {
    UpgradeState& state = s_.state;
    s_.view.SetText(Control::DeviceLabel, "FPGA programming underway");
    // The run has ended once the player has exited and its reader has handled every line, so a
    // success line printed just before the exit is never missed.
    const bool exited = state.STAPL_Player == nullptr || state.STAPL_Player->HasExited();
    std::string progress;
    bool ended = false;
    std::int32_t succeeded = 0;
    std::string error;
    int marks = 0;
    bool verifying = false;
    {
        const std::lock_guard<std::mutex> lock(state.stapl->lock);
        ended = exited && state.stapl->outputEnded;
        progress.swap(state.stapl->STAPL_Player_Output);
        succeeded = state.stapl->fpga_just_programmed;
        error = state.stapl->error;
        marks = state.stapl->marks;
        verifying = state.stapl->verifying;
    }
    if (!progress.empty()) {
        s_.view.AppendText(progress);
    }
    TellProgress(marks, verifying);
    if (!ended) {
        return PollFlow::GoOn;
    }

    if (succeeded == 0) {
        s_.view.AppendText("\r\n");
        s_.view.AppendText("\r\nError Programming FPGA");
        if (!error.empty()) {
            s_.view.AppendText(error + "\r\n");
        }
        FpgaFailed();
    } else {
        const bool erased = state.fpga_erase_first != 0;
        s_.Tell(RoadEvents::FpgaStep{
            s_.port, erased ? RoadEvents::FpgaStepKind::Erased : RoadEvents::FpgaStepKind::Done,
            marks});
        if (!erased) {
            state.ledger.FpgaProgrammed(s_.port);
        }
    }
    s_.view.SetChecked(Control::CheckProgramFPGA, state.fpga_erase_first != 0);
    s_.clock.SleepMs(Waits::kAfterFpgaRunMs);
    state.currently_programming_fpga = 0;
    state.STAPL_Player.reset();
    return PollFlow::Ended;
}

void FpgaRun::TellProgress(int marks, bool verifying) {
    if (marks > marksTold_) {
        marksTold_ = marks;
        s_.Tell(RoadEvents::FpgaStep{s_.port, RoadEvents::FpgaStepKind::Progress, marks});
    }
    if (verifying && !std::exchange(verifyingTold_, true)) {
        s_.Tell(RoadEvents::FpgaStep{s_.port, RoadEvents::FpgaStepKind::Verifying, marks});
    }
}

}  // namespace ZELKUtil
