#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "controller/view.h"
#include "platform/clock.h"
#include "platform/process_service.h"

namespace ZELKUtil {

// Reads a tool's output and waits for its exit on the window's thread: only what is there, never
// blocking, waiting in slices on the clock (which keeps the window painting), and giving the event
// loop a turn at least every kOutputTurnBytes however fast the tool prints. One reader serves
// every run, so the count since the last turn carries from one run to the next.
class ToolReader {
  public:
    // The slices in which a wait for a child's exit or output looks again.
    static constexpr std::int64_t kChildPollMs = 50;
    static constexpr std::int64_t kOutputPollMs = 10;
    // The most of a tool's output the window's thread takes before the event loop gets a turn.
    static constexpr std::size_t kOutputTurnBytes = std::size_t{64} * 1024;
    // What a line costs to handle beyond its characters: many short lines keep the window's thread
    // as busy as a few long ones.
    static constexpr std::size_t kLineCost = 64;

    ToolReader(View& view, Clock& clock) : view_(view), clock_(clock) {}

    void WaitForExit(ChildProcess& child);
    // The next line of the tool's output; nullopt at its end.
    std::optional<std::string> ReadLine(ChildProcess& tool);
    // The next character; -1 at the end of the output. Before it waits, it appends the characters
    // gathered in `shown` to the log.
    int ReadChar(ChildProcess& tool, std::string& shown);
    // Appends what is gathered to the log and repaints it.
    void ShowGathered(std::string& shown);

    // Counts output taken by other means (a log file's lines).
    void NoteOutput(std::size_t cost) { outputSinceTurn_ += cost; }
    // Gives the event loop its turn when enough output has been taken since the last.
    void TurnIfDue();
    // Nothing new yet: looks again after a slice, which is a turn of the event loop.
    void Pause();

  private:
    void WaitForOutput(ChildProcess& tool, bool line);

    View& view_;
    Clock& clock_;
    // Tool output taken since the event loop last had a turn.
    std::size_t outputSinceTurn_ = 0;
};

}  // namespace ZELKUtil
