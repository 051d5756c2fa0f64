#include "cli/progress_board.h"

#include <algorithm>

namespace ZELKUtil::Cli {
namespace {

constexpr int kBarWidth = 20;

}  // namespace

ProgressBoard::Row& ProgressBoard::RowOf(const std::string& port) {
    const auto it =
        std::find_if(rows_.begin(), rows_.end(), [&port](const Row& r) { return r.port == port; });
    if (it != rows_.end()) {
        return *it;
    }
    Row& row = rows_.emplace_back();
    row.port = port;
    return row;
}

std::string ProgressBoard::Text(const Row& row) {
    const int percent = std::clamp(row.percent, 0, 100);
    const int marks = percent * kBarWidth / 100;
    std::string text = row.port + ": [" + std::string(static_cast<std::size_t>(marks), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - marks), ' ') + "] ";
    const std::string number = std::to_string(percent);
    text += std::string(3 - number.size(), ' ') + number + " %";
    if (!row.state.empty()) {
        text += "  " + row.state;
    }
    if (!row.left.empty()) {
        text += (row.state.empty() ? "  " : ", ") + row.left;
    }
    if (text.size() > kWidth) {
        text.resize(kWidth);
    }
    return text;
}

std::string ProgressBoard::Erase() {
    if (drawn_ == 0) {
        return "";
    }
    // To the start of the board's first row, and everything from there down cleared.
    std::string text = "\x1b[" + std::to_string(drawn_) + "F\x1b[J";
    drawn_ = 0;
    return text;
}

std::string ProgressBoard::Draw() {
    std::string text;
    for (const Row& row : rows_) {
        text += Text(row) + "\n";
    }
    drawn_ = rows_.size();
    return text;
}

std::string ProgressBoard::Show(const BoxEvent& event, bool verbose) {
    std::string above;
    const std::string& port = PortOf(event);
    if (const auto* progress = std::get_if<Events::Progress>(&event)) {
        Row& row = RowOf(port);
        row.percent = progress->percent;
        row.left = progress->secondsLeft
                       ? "about " + std::to_string(*progress->secondsLeft) + " s left"
                       : "";
    } else if (const auto* state = std::get_if<Events::State>(&event)) {
        // The board shows what the box does now; the steps are not written above it as well.
        RowOf(port).state = StateName(state->state);
    } else {
        if (std::holds_alternative<Events::Ended>(event)) {
            rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                                       [&port](const Row& r) { return r.port == port; }),
                        rows_.end());
        }
        if (const std::optional<std::string> line = ToHumanLine(event, verbose)) {
            above = *line + "\n";
        } else {
            return "";
        }
    }
    // In this order: the board on the terminal goes before the rows drawn anew count.
    std::string text = Erase();
    text += above;
    text += Draw();
    return text;
}

}  // namespace ZELKUtil::Cli
