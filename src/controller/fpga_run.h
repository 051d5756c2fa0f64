#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "controller/box_ledger.h"
#include "controller/poll_flow.h"
#include "controller/run_seams.h"
#include "controller/tools/tool_command.h"

namespace ZELKUtil {

// The FPGA run in three stages: the programmer firmware into the box in its bootloader; in
// programmer mode the FPGA's identification and the start of an erase or programming run in the
// background; and, poll by poll, its progress and its result, handed over from the player's output
// reader.
class FpgaRun {
  public:
    // The most progress text that waits for the next poll; the reader holds further lines (and so
    // the player) meanwhile.
    static constexpr std::size_t kMaxPendingProgress = std::size_t{64} * 1024;
    // What stage 2 started.
    enum class Started { Nothing, Erase, Programming };

    explicit FpgaRun(RunSeams seams) : s_(std::move(seams)) {}
    // A player that outlives the window still has its output read to the end, without keeping it.
    ~FpgaRun();
    FpgaRun(const FpgaRun&) = delete;
    FpgaRun& operator=(const FpgaRun&) = delete;

    // Stage 1, for a box in its bootloader: Done once the tool has run (its end says nothing of
    // its success), NotStarted when it could not start (the poll then ends).
    DownloadOutcome DownloadProgrammer();
    // Stage 2, for a box in programmer mode: identifies the FPGA and starts the player.
    // `mayErase`: the FPGA job may still erase a design.
    Started StartProgramming(bool mayErase);
    // Stage 3, at every poll while the player runs.
    PollFlow PollStep();

    // Handles one line of the background run, on the output-reading thread. False when the line
    // cannot be taken yet: the polls have not taken the progress text gathered so far.
    static bool STAPLPlayerOutputHandler(StaplHandover& handover, const std::string& line);

  private:
    // A checksum of a blank FPGA (or none read).
    static bool Blank(std::uint32_t checksum) { return checksum == 0 || checksum == 0xFFFF; }
    // The identification runs; false when they have ended the poll.
    bool Identify(const std::string& file, std::optional<std::uint32_t>& idcode,
                  std::uint32_t& checksum);
    // Reads one identification run's output to its end.
    void ReadIdentification(ChildProcess& player, std::optional<std::uint32_t>& idcode,
                            std::uint32_t& checksum);
    // Sets fpga_image for the detected variant; false when nothing is to start.
    bool ChooseImage(std::optional<std::uint32_t> idcode);
    // The erase or programming command for the checksum, with its line in the log.
    ToolCommand PlayerCommand(std::uint32_t checksum);
    // Sets the error state after the FPGA run's own line.
    void FpgaFailed();
    // Starts the player in the background with a fresh hand-over; false when it could not start.
    bool StartPlayer(const ToolCommand& command);
    // Tells the events of the player's progress handed over since the last poll.
    void TellProgress(int marks, bool verifying);

    RunSeams s_;
    // What the polls have told of the player's run so far.
    int marksTold_ = 0;
    bool verifyingTold_ = false;
};

}  // namespace ZELKUtil
