#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/events.h"

namespace ZELKUtil::Cli {

// The progress lines of the boxes under way, kept at the foot of a terminal, one per box and each
// redrawn in place: every other line (a box's log, its result) is printed above them. Pure: it
// only makes the text to write, cursor movements included.
class ProgressBoard {
  public:
    // A terminal line is cut to this many characters, so that no row wraps and the cursor moves
    // back over exactly the rows drawn.
    static constexpr std::size_t kWidth = 79;

    // What to write for the event: its line above the board, or the board redrawn with the box's
    // new state or progress. A box's row goes with its result. `verbose`: -v's lines as well.
    std::string Show(const BoxEvent& event, bool verbose = false);
    // What to write around a line of the error stream: the board taken away before it, and drawn
    // again after it.
    std::string Erase();
    std::string Draw();

  private:
    struct Row {
        std::string port;
        std::string state;
        int percent = 0;
        std::string left;
    };
    Row& RowOf(const std::string& port);
    static std::string Text(const Row& row);

    std::vector<Row> rows_;
    // The rows on the terminal now, below the cursor's line.
    std::size_t drawn_ = 0;
};

}  // namespace ZELKUtil::Cli
