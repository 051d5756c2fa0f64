#include "cli/programmer_turn.h"

#include <algorithm>
#include <variant>

namespace ZELKUtil::Cli {

std::optional<std::string> ProgrammerTurn::TryTake(const std::string& port) {
    const std::lock_guard<std::mutex> lock(lock_);
    if (holder_ == port) {
        return std::nullopt;
    }
    waiting_.insert(port);
    if (holder_) {
        return holder_;
    }
    // Where several wait, the bench goes in port order, never in the order threads wake.
    if (*waiting_.begin() != port) {
        return *waiting_.begin();
    }
    // Only the first in the queue looks at the bus, once a poll.
    std::vector<std::string> programmers;
    if (programmersOn_) {
        programmers = programmersOn_();
    }
    const auto other = std::find_if(programmers.begin(), programmers.end(),
                                    [&port](const std::string& on) { return on != port; });
    if (other != programmers.end()) {
        return *other;
    }
    waiting_.erase(port);
    holder_ = port;
    return std::nullopt;
}

void ProgrammerTurn::Leave(const std::string& port) {
    const std::lock_guard<std::mutex> lock(lock_);
    waiting_.erase(port);
    if (holder_ == port) {
        holder_.reset();
    }
}

std::optional<std::string> ProgrammerHold::TryTake() {
    return turn_ ? turn_->TryTake(port_) : std::nullopt;
}

void ProgrammerHold::Leave() {
    if (turn_) {
        turn_->Leave(port_);
    }
}

void ProgrammerHold::Follow(const RoadEvent& event) {
    if (std::holds_alternative<RoadEvents::InProgrammer>(event)) {
        inProgrammer_ = true;
    } else if (std::holds_alternative<RoadEvents::InBootloader>(event) ||
               std::holds_alternative<RoadEvents::Connected>(event)) {
        inProgrammer_ = false;
    }
    // An erase is followed by the programming, in the same stay as the programmer: the turn is
    // kept until the FPGA is programmed. The box stays the programmer after that, until it is
    // unplugged, which the turn sees on the bus.
    const auto* step = std::get_if<RoadEvents::FpgaStep>(&event);
    if ((step != nullptr && step->step == RoadEvents::FpgaStepKind::Done) ||
        std::holds_alternative<RoadEvents::Ended>(event)) {
        Leave();
    }
}

void ProgrammerHold::Present(bool boxPresent) {
    // Only unplugging ends a stay as the programmer: its road's clocks may still wait for it to
    // come back, but the bus no longer has it.
    if (!boxPresent && std::exchange(inProgrammer_, false)) {
        Leave();
    }
}

}  // namespace ZELKUtil::Cli
