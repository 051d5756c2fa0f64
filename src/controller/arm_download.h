#pragma once

#include <optional>
#include <string>
#include <utility>

#include "controller/box_ledger.h"
#include "controller/run_seams.h"
#include "controller/tools/dfu_util_output.h"
#include "controller/tools/tool_command.h"

namespace ZELKUtil {

// The ARM firmware download: the package's DFU tool (dfu-util, or DFUAPP with its log file) writes
// the current profile's image into the box in its bootloader, inside the poll, with its progress
// echoed as '#' marks, and is run again (up to three passes) when it stopped right after trying to
// open the device.
class ArmDownload {
  public:
    explicit ArmDownload(RunSeams seams) : s_(std::move(seams)) {}

    // Needs a current profile. What the download came to; none when no download was made (the
    // profile names no image that is there).
    std::optional<DownloadOutcome> Run();

  private:
    struct Pass;

    static ToolCommand Command(const std::string& image, bool dfuUtil,
                               const std::optional<std::string>& port);
    // Starts the pass's tool (DFUAPP after its log file); false when it failed.
    bool StartPass(Pass& pass, const std::string& image);
    // Reads and handles the pass's lines until the tool has exited and nothing more is there;
    // false when the pass failed.
    bool ReadPass(Pass& pass);
    std::optional<std::string> NextDfuUtilLine(Pass& pass, bool& exited);
    // What the pass's end means for a rerun, and the download counted as made.
    void EndPass(Pass& pass);
    // The end of a run whose passes never got to the device's bar: the download-failed line when
    // the box was lost in one of them, else the package error.
    DownloadOutcome GiveUp(bool boxLost);
    // Reports a pass that failed to start or read; always false.
    bool Failed(const std::string& description);

    void HandleDfuUtilLine(Pass& pass, std::optional<std::string>& line);
    // Service mode shows every line as it is, and follows the bar in them for the download's end.
    void FollowServiceLine(Pass& pass, const std::string& line);
    // The older dfu-util's '#' bar, read character by character to its "]"; its rest of the line
    // replaces the line.
    void ReadBar(Pass& pass, std::optional<std::string>& line);
    // Current dfu-util's bar, redrawn in place line by line.
    void FollowRedrawnBar(Pass& pass, const DfuUtilLine& line);
    void DownloadDone(Pass& pass);
    // Another mark of the bar shown.
    void Marked(Pass& pass);
    void HandleDfuAppLine(Pass& pass, const std::string& line);

    RunSeams s_;
    // The retry counter of the run under way, kept across its passes.
    int retry_ = 0;
};

}  // namespace ZELKUtil
