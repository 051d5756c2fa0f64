// The ARM firmware download: the package's DFU tool writes the profile's image into the box in its
// bootloader, inside the poll, with its progress echoed as '#' marks, and is run again (up to three
// passes) when it stopped right after trying to open the device.
#include "controller/dfu_output.h"
#include "controller/operator_texts.h"
#include "controller/tool_arguments.h"
#include "controller/upgrade_controller.h"
#include "package/package_files.h"
#include "platform/files.h"
#include "platform/log_follower.h"

namespace ZELKUtil {
namespace {

using OperatorTexts::kDownloadFailed;
using OperatorTexts::kPackageError;
constexpr const char* kOpeningDevice = "Opening DFU capable USB device...";
// A run makes at most three passes, also when a pass that finished still ends on the opening line.
constexpr int kMaxArmPasses = 3;
// What a line costs to handle beyond its characters, in the count of output between two turns of
// the event loop: many short lines keep the window's thread as busy as a few long ones.
constexpr std::size_t kLineCost = 64;

}  // namespace

// What one pass reads its lines from: dfu-util's output, or DFUAPP's log file.
struct UpgradeController::ArmPass {
    bool dfuUtil = false;
    std::unique_ptr<ChildProcess> tool;
    LogFollower log;
    std::string failure;  // set when a read failed
    // Current dfu-util: its redrawn progress bar after "Copying data from PC to DFU device".
    bool barMode = false;
    bool barDone = false;
    int barFill = 0;
    bool barEcho = true;
    // Every line so far was dfu-util's banner: it never got to open a device.
    bool bannerOnly = true;
};

void UpgradeController::NoteOutput(std::size_t cost) {
    outputSinceTurn_ += cost;
}

void UpgradeController::TurnIfDue() {
    // However fast a tool prints, the window's thread gives the event loop a turn after each
    // kOutputTurnBytes of it.
    if (outputSinceTurn_ >= kOutputTurnBytes) {
        Wait(kOutputPollMs);
        outputSinceTurn_ = 0;
    }
}

void UpgradeController::WaitForOutput(ChildProcess& tool, bool line) {
    TurnIfDue();
    // Waiting in slices on the clock keeps the window painting meanwhile; nothing is read before
    // a whole line (or character) is there, so the read that follows never blocks.
    while (!(line ? tool.LineReady() : tool.OutputReady())) {
        Wait(kOutputPollMs);
        outputSinceTurn_ = 0;
    }
}

std::optional<std::string> UpgradeController::ReadToolLine(ChildProcess& tool) {
    WaitForOutput(tool, true);
    std::optional<std::string> line = tool.ReadLine();
    NoteOutput(kLineCost + (line ? line->size() : 0));
    return line;
}

int UpgradeController::ReadToolChar(ChildProcess& tool, std::string& shown) {
    if (outputSinceTurn_ >= kOutputTurnBytes || !tool.OutputReady()) {
        // What is gathered for the log goes there before the window gets its turn.
        ShowGathered(shown);
        WaitForOutput(tool, false);
    }
    NoteOutput(1);
    return tool.ReadChar();
}

void UpgradeController::ShowGathered(std::string& shown) {
    if (!shown.empty()) {
        view_.AppendText(shown);
        view_.Refresh();
        shown.clear();
    }
}

bool UpgradeController::RunArmDownload() {
    const ZelkProfile& profile = *state_.current_profile;
    // Without an image the tool would run on nothing and the box would stay in its bootloader
    // with no word to the operator.
    if (profile.LPC3131.empty() || !Files::CanOpenForReading(PackagePath(profile.LPC3131))) {
        view_.AppendText(kPackageError);
        view_.SetChecked(Control::CheckProgramArm, false);
        return true;
    }

    view_.AppendText("\r\nDownloading " + profile.type.value_or("") + " Upgrade");
    if (state_.upgradeMode == auto_upgrade) {
        ++state_.autoDownloads;
    }
    int retry = 0;
    for (int passes = 1;; ++passes) {
        const bool dfuUtil = state_.useDfuUtil != 0;
        StartRequest request;
        std::string argumentText;
        if (dfuUtil) {
            request.program = PackageFiles::kDfuUtil;
            request.arguments = {
                "-R", "-d", "0x0471:0xdf55", "-t", "2048", "-D", ToolFileArgument(profile.LPC3131)};
            request.mode = StartMode::DirectRedirected;
            argumentText = "-R -d 0x0471:0xdf55 -t 2048 -D " + profile.LPC3131;
        } else {
            request.program = PackageFiles::kDfuApp;
            request.arguments = {"/tl", "1000",
                                 "/l",  PackageFiles::kDfuAppLogArgument,
                                 "/f",  ToolFileArgument(profile.LPC3131)};
            request.mode = StartMode::Direct;
            argumentText = std::string(" /tl 1000 /l ") + PackageFiles::kDfuAppLogArgument +
                           " /f " + profile.LPC3131;
        }
        if (state_.diagOutput != 0) {
            view_.AppendText("\r\n");
            view_.AppendText("Loading File: " + profile.LPC3131);
            view_.AppendText("\r\n");
            view_.AppendText(request.program + argumentText);
            view_.AppendText("\r\n");
        }

        ArmPass pass;
        pass.dfuUtil = dfuUtil;
        std::string failure;
        if (!dfuUtil && !pass.log.Start(PackagePath(PackageFiles::kDfuAppLog), &failure)) {
            return ArmPassFailed(failure);
        }
        pass.tool = processes_.Start(request, &failure);
        if (!pass.tool) {
            return ArmPassFailed(failure);
        }

        // Reading loop: until the tool has exited and nothing more is there to read. The exit is
        // looked at before the read, so that what the tool wrote just before it ended is read.
        std::optional<std::string> current;
        std::optional<std::string> last;
        for (;;) {
            TurnIfDue();
            if (current) {
                if (dfuUtil) {
                    HandleDfuUtilLine(pass, current, retry);
                } else {
                    HandleDfuAppLine(*current);
                }
                if (!pass.failure.empty()) {
                    return ArmPassFailed(pass.failure);
                }
                view_.Refresh();
            }
            last = current;
            bool exited = pass.tool->HasExited();
            if (dfuUtil) {
                current = ReadToolLine(*pass.tool);
                if (!current && !exited) {
                    // The output has ended; the line before stays the last line of the pass.
                    WaitForExit(*pass.tool);
                    exited = true;
                    current = ReadToolLine(*pass.tool);
                }
                if (current && !IsDfuUtilBannerLine(*current)) {
                    pass.bannerOnly = false;
                }
            } else {
                current = pass.log.NextLine(exited, &pass.failure);
                if (!pass.failure.empty()) {
                    return ArmPassFailed(pass.failure);
                }
                NoteOutput(current ? kLineCost + current->size() : 0);
            }
            if (!current && exited) {
                break;
            }
            if (!current) {
                // Nothing new in the log yet: look again shortly instead of spinning a core.
                Wait(kOutputPollMs);
                outputSinceTurn_ = 0;
            }
        }

        if (pass.barMode && !pass.barDone) {
            view_.AppendText(kDownloadFailed);
        }
        // Current dfu-util says that it found no device on its error stream only; a pass that
        // printed nothing but its banner stopped where the older tool printed the opening line.
        const bool noDevice = dfuUtil && pass.bannerOnly;
        if (last && (!last->empty() || noDevice)) {
            if (last->find(kOpeningDevice) != std::string::npos || noDevice) {
                if (retry == 0) {
                    retry = 4;
                }
            } else {
                retry = 0;
            }
        }
        pass.log.Close();
        state_.arm_just_programmed = 1;
        view_.SetChecked(Control::CheckProgramArm, false);
        state_.operation_underway = 1;

        if (retry == 0) {
            return true;
        }
        --retry;
        if (retry <= 1 || passes >= kMaxArmPasses) {
            view_.AppendText(kPackageError);
            return true;
        }
        Wait(3000);
    }
}

bool UpgradeController::ArmPassFailed(const std::string& description) {
    if (state_.diagOutput != 0) {
        view_.AppendText("\r\nException: " + description);
    }
    view_.AppendText(kPackageError);
    state_.error_occurred = 1;
    return false;
}

void UpgradeController::HandleDfuUtilLine(ArmPass& pass, std::optional<std::string>& line,
                                          int& retry) {
    if (state_.diagOutput != 0) {
        view_.AppendText("\r\n" + *line);
        return;
    }
    if (pass.barMode) {
        if (const std::optional<int> fill = DfuUtilProgressFill(*line)) {
            // The same marks as the '#' bar: every other step of the bar.
            for (; pass.barFill < *fill; ++pass.barFill) {
                if (pass.barEcho) {
                    view_.AppendText("#");
                }
                pass.barEcho = !pass.barEcho;
            }
        } else if (!pass.barDone && IsDfuUtilDownloadDone(*line)) {
            pass.barDone = true;
            view_.AppendText("\r\nDone.");
            view_.AppendText("\r\nPerforming Upgrade...\r\n");
            retry = 0;
        }
        return;
    }
    if (line->find("Copying data from PC to DFU device") == std::string::npos) {
        return;
    }
    view_.AppendText("\r\n");
    bool echo = true;
    bool first = true;
    // The bar is read to its "]" or the end of the output, also when the tool has exited by then:
    // what it wrote before its exit is still to be shown. Its marks go to the log in pieces, each
    // before the window gets a turn, however long the bar.
    std::string shown;
    for (;;) {
        const int c = ReadToolChar(*pass.tool, shown);
        if (c < 0) {
            break;
        }
        if (first && (c == '\r' || c == '\n')) {
            // Current dfu-util: the bar is redrawn in place; its lines follow.
            pass.barMode = true;
            line = std::string();
            return;
        }
        first = false;
        if (c == '#') {
            if (echo) {
                shown += '#';
            }
            echo = !echo;
        } else {
            shown += static_cast<char>(c);
        }
        if (c == ']') {
            break;
        }
    }
    ShowGathered(shown);
    std::optional<std::string> rest = ReadToolLine(*pass.tool);
    if (!rest) {
        pass.failure = "the download tool's output ended in its progress line";
        return;
    }
    if (rest->find("finished") != std::string::npos) {
        view_.AppendText("\r\nDone.");
        view_.AppendText("\r\nPerforming Upgrade...\r\n");
        retry = 0;
    } else {
        view_.AppendText(kDownloadFailed);
    }
    line = std::move(rest);
}

void UpgradeController::HandleDfuAppLine(const std::string& line) {
    if (line.find("Device has received a block and is waiting for the host to solicit the status "
                  "via DFU_GETSTATUS") != std::string::npos) {
        if (state_.skip != 0) {
            view_.AppendText("#");
        }
        state_.skip = state_.skip != 0 ? 0 : 1;
    }
    if (line.find("Device Reset after Download successful") != std::string::npos) {
        view_.AppendText("\r\nPerforming Upgrade...\r\n");
    }
    if (line.find("An error has occurred.") != std::string::npos) {
        view_.AppendText(kDownloadFailed);
    }
}

}  // namespace ZELKUtil
