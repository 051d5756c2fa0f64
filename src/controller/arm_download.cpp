#include "controller/arm_download.h"

#include <memory>
#include <optional>

#include "controller/tools/dfu_util_output.h"
#include "controller/tools/dfuapp_log.h"
#include "controller/waits.h"
#include "package/package_files.h"
#include "platform/files.h"
#include "platform/log_follower.h"

namespace ZELKUtil {
namespace {

using OperatorTexts::kDownloadFailed;
using OperatorTexts::kPackageError;
// A run makes at most three passes, also when a pass that finished still ends on the opening line.
constexpr int kMaxArmPasses = 3;

}  // namespace

// What one pass reads its lines from: dfu-util's output, or DFUAPP's log file.
struct ArmDownload::Pass {
    bool dfuUtil = false;
    std::unique_ptr<ChildProcess> tool;
    LogFollower log;
    std::string failure;  // set when the tool's output cannot be followed
    // The line handled last when the reading ended.
    std::optional<std::string> last;
    // Current dfu-util: its redrawn progress bar after "Copying data from PC to DFU device".
    bool barMode = false;
    bool barDone = false;
    int barFill = 0;
    bool barEcho = true;
    // Service mode: a bar has begun and its end has not been seen yet.
    bool barOpen = false;
    // Every line so far was dfu-util's banner: it never got to open a device.
    bool bannerOnly = true;
    // dfu-util began to open the device; its bar began.
    bool opened = false;
    bool barStarted = false;
    // The tool says that the whole image was sent.
    bool finished = false;
    // The output stopped inside the progress bar: the box left mid-transfer.
    bool interrupted = false;
    // The tool opened the device and lost it while setting it up, before its bar.
    bool lostInSetUp = false;
    // Marks shown, of the marks a whole bar shows (0: not known).
    int marks = 0;
    int marksExpected = 0;
};

std::optional<DownloadOutcome> ArmDownload::Run() {
    UpgradeState& state = s_.state;
    const ZelkProfile& profile = *state.current_profile;
    // Without an image the tool would run on nothing and the box would stay in its bootloader
    // with no word to the operator.
    const std::optional<std::string> image =
        profile.LPC3131.empty() ? std::nullopt : s_.ImagePath(profile.LPC3131);
    if (!image || !Files::CanOpenForReading(*image)) {
        s_.view.AppendText(kPackageError);
        s_.view.SetChecked(Control::CheckProgramArm, false);
        s_.Fail(Reason::NoImage);
        return std::nullopt;
    }

    s_.view.AppendText("\r\nDownloading " + profile.type.value_or("") + " Upgrade");
    s_.Tell(RoadEvents::DownloadStarted{s_.port, Work::ArmDownload, profile.LPC3131});
    retry_ = 0;
    DownloadOutcome outcome = DownloadOutcome::Failed;
    // The box left the bus, came back in another mode or stopped answering in one of the passes:
    // if none gets through, the cable or the box is to blame, not the package. So it is when the
    // box's last download was cut short: the package's tool opened the box then, and one that
    // stopped answering mid-transfer (a hung box) cannot be opened now.
    const BoxRecord* record = state.ledger.Find(s_.port);
    bool boxLost = record != nullptr && record->interruptedInRow > 0;
    for (int passes = 1;; ++passes) {
        Pass pass;
        pass.dfuUtil = state.useDfuUtil != 0;
        if (!StartPass(pass, profile.LPC3131) || !ReadPass(pass)) {
            outcome = DownloadOutcome::NotStarted;
            break;
        }
        EndPass(pass);
        outcome = pass.interrupted ? DownloadOutcome::CutShort
                  : pass.finished  ? DownloadOutcome::Done
                                   : DownloadOutcome::Failed;
        if (pass.interrupted || retry_ == 0) {
            break;
        }
        boxLost = boxLost || pass.lostInSetUp || (s_.bootloaderHere && !s_.bootloaderHere());
        --retry_;
        if (retry_ <= 1 || passes >= kMaxArmPasses) {
            outcome = GiveUp(boxLost);
            break;
        }
        s_.clock.SleepMs(Waits::kBetweenDownloadPassesMs);
    }
    retry_ = 0;
    s_.Tell(RoadEvents::DownloadEnded{s_.port, outcome});
    return outcome;
}

DownloadOutcome ArmDownload::GiveUp(bool boxLost) {
    if (boxLost) {
        s_.view.AppendText(kDownloadFailed);
        return DownloadOutcome::CutShort;
    }
    s_.view.AppendText(kPackageError);
    return DownloadOutcome::NoDevice;
}

ToolCommand ArmDownload::Command(const std::string& image, bool dfuUtil,
                                 const std::optional<std::string>& port) {
    if (dfuUtil) {
        ToolCommand command(PackageFiles::kDfuUtil, StartMode::DirectRedirected);
        command.Options({"-R", "-d", "0x0471:0xdf55"});
        if (port) {
            command.Options({"-p"}).File(*port);
        }
        command.Options({"-t", "2048", "-D"}).File(image);
        return command;
    }
    ToolCommand command(PackageFiles::kDfuApp, StartMode::Direct);
    command.TextLead(" ")
        .Options({"/tl", "1000", "/l", PackageFiles::kDfuAppLogArgument, "/f"})
        .File(image);
    return command;
}

bool ArmDownload::StartPass(Pass& pass, const std::string& image) {
    const ToolCommand command = Command(image, pass.dfuUtil, s_.dfuUtilPort);
    if (s_.state.diagOutput != 0) {
        s_.view.AppendText("\r\n");
        s_.view.AppendText("Loading File: " + image);
        s_.view.AppendText("\r\n");
        s_.view.AppendText(command.Program() + command.ArgumentText());
        s_.view.AppendText("\r\n");
    }
    if (!pass.dfuUtil) {
        if (auto opened = pass.log.Start(s_.PackagePath(PackageFiles::kDfuAppLog)); !opened) {
            return Failed(opened.error().Text());
        }
    }
    auto started = s_.processes.Start(command.Request());
    if (!started) {
        return Failed(started.error().Text());
    }
    pass.tool = std::move(started).value();
    return true;
}

bool ArmDownload::ReadPass(Pass& pass) {
    // The exit is looked at before the read, so that what the tool wrote just before it ended is
    // read.
    std::optional<std::string> current;
    for (;;) {
        s_.reader.TurnIfDue();
        if (current) {
            if (pass.dfuUtil) {
                HandleDfuUtilLine(pass, current);
            } else {
                HandleDfuAppLine(pass, *current);
            }
            if (!pass.failure.empty()) {
                return Failed(pass.failure);
            }
            s_.view.Refresh();
        }
        pass.last = current;
        bool exited = pass.tool->HasExited();
        if (pass.dfuUtil) {
            current = NextDfuUtilLine(pass, exited);
        } else {
            auto next = pass.log.NextLine(exited);
            if (!next) {
                return Failed(next.error().reason);
            }
            current = std::move(next).value();
            s_.reader.NoteOutput(current ? ToolReader::kLineCost + current->size() : 0);
        }
        if (!current && exited) {
            return true;
        }
        if (!current) {
            // Nothing new in the log yet: look again shortly instead of spinning a core.
            s_.reader.Pause();
        }
    }
}

std::optional<std::string> ArmDownload::NextDfuUtilLine(Pass& pass, bool& exited) {
    std::optional<std::string> line = s_.reader.ReadLine(*pass.tool);
    if (!line && !exited) {
        // The output has ended; the line before stays the last line of the pass.
        s_.reader.WaitForExit(*pass.tool);
        exited = true;
        line = s_.reader.ReadLine(*pass.tool);
    }
    if (line) {
        const DfuUtilLine::Kind kind = ReadDfuUtilLine(*line).kind;
        pass.bannerOnly = pass.bannerOnly && kind == DfuUtilLine::Kind::Banner;
        pass.opened = pass.opened || kind == DfuUtilLine::Kind::OpeningDevice;
        pass.barStarted = pass.barStarted || kind == DfuUtilLine::Kind::BarStart;
    }
    return line;
}

void ArmDownload::EndPass(Pass& pass) {
    if ((pass.barMode && !pass.barDone) || pass.barOpen) {
        s_.view.AppendText(kDownloadFailed);
        pass.interrupted = true;
    }
    // Current dfu-util says that it found no device on its error stream only; a pass that printed
    // nothing but its banner stopped where the older tool printed the opening line. One that
    // stopped after opening the device but before its bar lost the device while setting it up
    // (each of those lines follows a USB request): it is tried again like the opening line, never
    // left to end in silence.
    const bool noDevice = pass.dfuUtil && pass.bannerOnly;
    const bool setUpCut = pass.dfuUtil && pass.opened && !pass.barStarted;
    const std::optional<std::string>& last = pass.last;
    if (last && (!last->empty() || noDevice)) {
        const bool opening = pass.dfuUtil
                                 ? ReadDfuUtilLine(*last).kind == DfuUtilLine::Kind::OpeningDevice
                                 : ReadDfuAppLine(*last) == DfuAppLine::OpeningDevice;
        // Past the opening line the tool had the device: losing it there is the box's doing.
        pass.lostInSetUp = setUpCut && !opening;
        if (opening || noDevice || setUpCut) {
            if (retry_ == 0) {
                retry_ = 4;
            }
        } else {
            retry_ = 0;
        }
    }
    pass.log.Close();
    s_.state.arm_just_programmed = 1;
    s_.view.SetChecked(Control::CheckProgramArm, false);
    s_.state.operation_underway = 1;
}

bool ArmDownload::Failed(const std::string& description) {
    if (s_.state.diagOutput != 0) {
        s_.view.AppendText("\r\nException: " + description);
    }
    s_.view.AppendText(kPackageError);
    s_.state.error_occurred = 1;
    s_.Fail(Reason::ToolFailed);
    return false;
}

void ArmDownload::HandleDfuUtilLine(Pass& pass, std::optional<std::string>& line) {
    if (s_.state.diagOutput != 0) {
        s_.view.AppendText("\r\n" + *line);
        FollowServiceLine(pass, *line);
        return;
    }
    const DfuUtilLine event = ReadDfuUtilLine(*line);
    if (pass.barMode) {
        FollowRedrawnBar(pass, event);
    } else if (event.kind == DfuUtilLine::Kind::BarStart) {
        ReadBar(pass, line);
    }
}

void ArmDownload::ReadBar(Pass& pass, std::optional<std::string>& line) {
    s_.view.AppendText("\r\n");
    bool echo = true;
    bool first = true;
    // The bar is read to its "]" or the end of the output, also when the tool has exited by then:
    // what it wrote before its exit is still to be shown. Its marks go to the log in pieces, each
    // before the window gets a turn, however long the bar.
    std::string shown;
    for (;;) {
        const int c = s_.reader.ReadChar(*pass.tool, shown);
        if (c < 0) {
            break;
        }
        if (first && (c == '\r' || c == '\n')) {
            // Current dfu-util: the bar is redrawn in place; its lines follow.
            pass.barMode = true;
            s_.reader.ShowGathered(shown);
            line = std::string();
            return;
        }
        first = false;
        if (c == '#') {
            if (echo) {
                shown += '#';
                Marked(pass);
            }
            echo = !echo;
        } else {
            shown += static_cast<char>(c);
        }
        if (c == ']') {
            break;
        }
    }
    s_.reader.ShowGathered(shown);
    std::optional<std::string> rest = s_.reader.ReadLine(*pass.tool);
    if (!rest) {
        // The tool lost the box mid-transfer: the same event as a bar not followed by
        // "finished", and nothing wrong with the package.
        s_.view.AppendText(kDownloadFailed);
        pass.interrupted = true;
        line = std::string();
        return;
    }
    if (DfuUtilBarFinished(*rest)) {
        DownloadDone(pass);
    } else {
        s_.view.AppendText(kDownloadFailed);
    }
    line = std::move(rest);
}

void ArmDownload::FollowRedrawnBar(Pass& pass, const DfuUtilLine& line) {
    if (line.kind == DfuUtilLine::Kind::BarProgress) {
        pass.marksExpected = (line.width + 1) / 2;
        // The same marks as the '#' bar: every other step of the bar.
        for (; pass.barFill < line.fill; ++pass.barFill) {
            if (pass.barEcho) {
                s_.view.AppendText("#");
                Marked(pass);
            }
            pass.barEcho = !pass.barEcho;
        }
    } else if (!pass.barDone && line.kind == DfuUtilLine::Kind::DownloadDone) {
        pass.barDone = true;
        DownloadDone(pass);
    }
}

void ArmDownload::FollowServiceLine(Pass& pass, const std::string& line) {
    const DfuUtilLine event = ReadDfuUtilLine(line);
    if (event.kind == DfuUtilLine::Kind::BarStart) {
        pass.barOpen = true;
    } else if (pass.barOpen && event.kind == DfuUtilLine::Kind::DownloadDone) {
        pass.barOpen = false;
        pass.finished = true;
    } else if (pass.barOpen && event.kind != DfuUtilLine::Kind::BarProgress &&
               line.find(']') != std::string::npos) {
        // The older tool's bar, whole on one line: ended, well or not.
        pass.barOpen = false;
        pass.finished = DfuUtilBarFinished(line.substr(line.find(']')));
    }
}

void ArmDownload::DownloadDone(Pass& pass) {
    s_.view.AppendText("\r\nDone.");
    s_.view.AppendText("\r\nPerforming Upgrade...\r\n");
    retry_ = 0;
    pass.finished = true;
}

void ArmDownload::Marked(Pass& pass) {
    ++pass.marks;
    s_.Tell(RoadEvents::DownloadProgress{s_.port, pass.marks, pass.marksExpected});
}

void ArmDownload::HandleDfuAppLine(Pass& pass, const std::string& line) {
    UpgradeState& state = s_.state;
    switch (ReadDfuAppLine(line)) {
        case DfuAppLine::BlockReceived:
            if (state.skip != 0) {
                s_.view.AppendText("#");
                Marked(pass);
            }
            state.skip = state.skip != 0 ? 0 : 1;
            break;
        case DfuAppLine::ResetAfterDownload:
            s_.view.AppendText("\r\nPerforming Upgrade...\r\n");
            pass.finished = true;
            break;
        case DfuAppLine::Error:
            s_.view.AppendText(kDownloadFailed);
            break;
        case DfuAppLine::OpeningDevice:
        case DfuAppLine::Other:
            break;
    }
}

}  // namespace ZELKUtil
