#include "controller/tools/tool_reader.h"

namespace ZELKUtil {

void ToolReader::WaitForExit(ChildProcess& child) {
    while (!child.HasExited()) {
        clock_.SliceMs(kChildPollMs);
    }
}

void ToolReader::TurnIfDue() {
    if (outputSinceTurn_ >= kOutputTurnBytes) {
        Pause();
    }
}

void ToolReader::Pause() {
    clock_.SliceMs(kOutputPollMs);
    outputSinceTurn_ = 0;
}

void ToolReader::WaitForOutput(ChildProcess& tool, bool line) {
    TurnIfDue();
    // Nothing is read before a whole line (or character) is there, so the read that follows
    // never blocks.
    while (!(line ? tool.LineReady() : tool.OutputReady())) {
        Pause();
    }
}

std::optional<std::string> ToolReader::ReadLine(ChildProcess& tool) {
    WaitForOutput(tool, true);
    std::optional<std::string> line = tool.ReadLine();
    NoteOutput(kLineCost + (line ? line->size() : 0));
    return line;
}

int ToolReader::ReadChar(ChildProcess& tool, std::string& shown) {
    if (outputSinceTurn_ >= kOutputTurnBytes || !tool.OutputReady()) {
        // What is gathered for the log goes there before the window gets its turn.
        ShowGathered(shown);
        WaitForOutput(tool, false);
    }
    NoteOutput(1);
    return tool.ReadChar();
}

void ToolReader::ShowGathered(std::string& shown) {
    if (!shown.empty()) {
        view_.AppendText(shown);
        view_.Refresh();
        shown.clear();
    }
}

}  // namespace ZELKUtil
