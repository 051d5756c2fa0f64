// The words a human reads of each box: one line for each step of its road, said from the events
// alone, and a last line that says plainly how the box ended and that it may be unplugged. The
// window's own log lines are shown only with -v, marked as the window's: the window speaks of the
// step it has reached, which for a package with both images is not yet the end of the road.
#include "cli/events.h"
#include "platform/utf8.h"

namespace ZELKUtil::Cli {
namespace {

// "Q750 2.01", "Q750", "version 2.01" or "": what the box told of itself; its product string
// where no profile names it ("ZELK Q750 2.01" without a package).
std::string Identity(const Events::Found& e) {
    const std::string& name = e.model.empty() ? e.product : e.model;
    if (name.empty()) {
        return e.version.empty() ? "" : "version " + e.version;
    }
    return e.version.empty() ? name : name + " " + e.version;
}

std::string FoundLine(const Events::Found& e) {
    std::string line = std::string("found, ") + ModeName(e.mode) + " mode";
    if (const std::string identity = Identity(e); !identity.empty()) {
        line += ", " + identity;
    }
    if (!e.serial.empty()) {
        line += ", serial " + e.serial;
    }
    if (!e.verdict.empty()) {
        line += ", " + e.verdict;
    } else if (e.upToDate) {
        line += std::string(", ") + VerdictOf(true, e.upToDate);
    }
    return line;
}

// The step a state begins, as a line; none for the states that are no step of the road.
std::optional<std::string> StepLine(BoxState state) {
    switch (state) {
        case BoxState::CountingDown:
            return "counting down";
        case BoxState::Restarting:
            return "restarting into its bootloader";
        case BoxState::InBootloader:
            return "in its bootloader";
        case BoxState::Downloading:
            return "downloading its ARM firmware";
        case BoxState::RestartingWithNewFirmware:
            return "restarting with its new ARM firmware";
        case BoxState::InProgrammer:
            return "in its FPGA programmer mode";
        case BoxState::DownloadingProgrammer:
            return "downloading the FPGA programmer";
        case BoxState::ErasingFpga:
            return "erasing its FPGA";
        case BoxState::ProgrammingFpga:
            return "programming its FPGA";
        case BoxState::Unplugged:
            return "unplugged";
        case BoxState::WaitingForInstaller:
            return "waiting for another box's driver installer";
        case BoxState::Waiting:
        case BoxState::Connected:
        case BoxState::WaitingForBox:
            break;
    }
    return std::nullopt;
}

std::string EndLine(const Events::Ended& e) {
    const std::string result = ResultName(e.result);
    switch (e.result) {
        case BoxResult::Upgraded:
            return result + (e.version.empty() ? std::string() : " to " + e.version) +
                   (e.arm || e.fpga ? ", " + WrittenText(e.arm, e.fpga) : std::string()) +
                   ": unplug the box";
        case BoxResult::UpToDate:
            return result + (e.version.empty() ? std::string() : " at " + e.version) +
                   ": nothing to do, unplug the box";
        case BoxResult::Failed:
        case BoxResult::Interrupted:
        case BoxResult::Stopped:
        case BoxResult::LeftAlone:
            break;
    }
    return result + (e.reason.empty() ? std::string() : ": " + e.reason);
}

// "3 min ago", "2 h ago": how old the record is, so that a stale one shows.
std::string Age(std::int64_t seconds) {
    constexpr std::int64_t kMinute = 60;
    constexpr std::int64_t kHour = 60 * kMinute;
    constexpr std::int64_t kDay = 24 * kHour;
    if (seconds < 2 * kMinute) {
        return std::to_string(seconds) + " s ago";
    }
    if (seconds < 2 * kHour) {
        return std::to_string(seconds / kMinute) + " min ago";
    }
    if (seconds < 2 * kDay) {
        return std::to_string(seconds / kHour) + " h ago";
    }
    return std::to_string(seconds / kDay) + " days ago";
}

std::string ResumeLine(const Events::Resumed& e) {
    const std::string who = e.model + (e.serial.empty() ? "" : ", serial " + e.serial);
    if (e.byOperator) {
        return "writing the package's image for " + e.model +
               " into the box in its bootloader or programmer mode, as the operator named it" +
               (e.recordedModel.empty() ? ""
                                        : " (its history record named " + e.recordedModel + ")");
    }
    return "resuming the box left unfinished by run " + e.run +
           (e.ageSeconds ? ", " + Age(*e.ageSeconds) : std::string()) + " (" + who + ")";
}

struct Human {
    bool verbose;
    std::optional<std::string> operator()(const Events::Found& e) const { return FoundLine(e); }
    std::optional<std::string> operator()(const Events::State& e) const {
        return StepLine(e.state);
    }
    std::optional<std::string> operator()(const Events::Progress& /*e*/) const {
        return std::nullopt;
    }
    std::optional<std::string> operator()(const Events::Download& e) const {
        return "downloading its ARM firmware: " + std::to_string(e.percent) + " %";
    }
    std::optional<std::string> operator()(const Events::Log& e) const {
        return verbose ? std::optional<std::string>("[window] " + e.text) : std::nullopt;
    }
    std::optional<std::string> operator()(const Events::Tool& e) const {
        return "[" + e.tool + "] " + e.text;
    }
    std::optional<std::string> operator()(const Events::Decision& e) const {
        if (!verbose) {
            return std::nullopt;
        }
        return "decision: " + (e.run ? e.work : std::string("hold")) + ", " + e.reason;
    }
    std::optional<std::string> operator()(const Events::Resumed& e) const { return ResumeLine(e); }
    std::optional<std::string> operator()(const Events::Ended& e) const { return EndLine(e); }
};

}  // namespace

std::optional<std::string> ToHumanLine(const BoxEvent& event, bool verbose) {
    const std::optional<std::string> text = std::visit(Human{verbose}, event);
    if (!text) {
        return std::nullopt;
    }
    // A box may send any byte: nothing it says may move a terminal's cursor, change its colours
    // or start a line of its own.
    return OneLineText(PortOf(event) + ": " + *text);
}

}  // namespace ZELKUtil::Cli
