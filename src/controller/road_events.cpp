#include "controller/road_events.h"

namespace ZELKUtil {

const char* WorkName(Work work) {
    switch (work) {
        case Work::Nothing:
            return "nothing";
        case Work::ArmDownload:
            return "ARM download";
        case Work::ProgrammerFirmware:
            return "programmer firmware";
        case Work::FpgaProgramming:
            return "FPGA programming";
    }
    return "?";
}

const char* OutcomeName(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Done:
            return "done";
        case DownloadOutcome::CutShort:
            return "cut short";
        case DownloadOutcome::Failed:
            return "failed";
        case DownloadOutcome::NoDevice:
            return "no device";
        case DownloadOutcome::NotStarted:
            return "not started";
    }
    return "?";
}

namespace {

const char* FixedReasonText(Reason reason) {
    switch (reason) {
        case Reason::None:
            return "";
        case Reason::UpgradeDue:
            return "its firmware is not the package's version";
        case Reason::UpToDate:
            return "it has the package's version";
        case Reason::WrongPackage:
            return "the box names no profile of the package";
        case Reason::NoImage:
            return "the package holds no image";
        case Reason::WaitsForOperator:
            return "the package waits for the operator's ticks";
        case Reason::AutoDownloadsUsedUp:
            return "its automatic downloads are used up: they did not bring it to the package's "
                   "version";
        case Reason::NotBroughtToVersion:
            return "its download did not bring it to the package's version";
        case Reason::ErrorState:
            return "a run failed: the error state waits for \"Boot\"";
        case Reason::AnotherBox:
            return "another box took its place on the port";
        case Reason::OperatorTicks:
            return "the operator's ticks";
        case Reason::RoadTicks:
            return "its road's ticks";
        case Reason::BackOnRoad:
            return "back in its bootloader on its road";
        case Reason::NotRecognised:
            return "not recognised on this port in normal mode";
        case Reason::LeftBeforeRequest:
            return "the box recognised on this port left before its bootloader request: this may "
                   "be another box";
        case Reason::AnotherBoxsTicks:
            return "the road's ticks were made for another box, or for a road that has ended";
        case Reason::RoadComplete:
            return "the box of this port has had its upgrade: this may be another box";
        case Reason::BootAlone:
            return "\"Boot\" alone began this visit";
        case Reason::NoVersion:
            return "the package has no version to reach";
        case Reason::DriverNotReady:
            return "its bootloader's driver is not the one the download tool needs";
        case Reason::DownloadMade:
            return "its download in this bootloader visit has been made";
        case Reason::NothingTicked:
            return "nothing is ticked";
        case Reason::NothingForProgrammer:
            return "nothing is ticked for the programmer";
        case Reason::ArmNeedsReplug:
            return "\"Program ARM\" is ticked, and only a re-plug brings the box from its "
                   "programmer mode to its bootloader";
        case Reason::ProgrammerFirmwareUsedUp:
            return "its programmer firmware downloads are used up";
        case Reason::ModelUnknown:
            return "the box's model is not known";
        case Reason::ToolFailed:
            return "a tool could not be run";
        case Reason::FpgaFailed:
            return "the FPGA could not be programmed";
        case Reason::NoDevice:
            return "the download tool found no device in its bootloader, pass after pass";
        case Reason::KeepsLeaving:
        case Reason::SeveralBoxes:
            break;
    }
    return "?";
}

const char* RoadEndName(RoadEnd end) {
    switch (end) {
        case RoadEnd::Completed:
            return "completed";
        case RoadEnd::UpToDate:
            return "up to date";
        case RoadEnd::Failed:
            return "failed";
        case RoadEnd::Interrupted:
            return "interrupted";
        case RoadEnd::LeftAlone:
            return "left alone";
    }
    return "?";
}

const char* FpgaStepName(RoadEvents::FpgaStepKind step) {
    switch (step) {
        case RoadEvents::FpgaStepKind::Erasing:
            return "erasing";
        case RoadEvents::FpgaStepKind::Programming:
            return "programming";
        case RoadEvents::FpgaStepKind::Progress:
            return "progress";
        case RoadEvents::FpgaStepKind::Verifying:
            return "verifying";
        case RoadEvents::FpgaStepKind::Erased:
            return "erased";
        case RoadEvents::FpgaStepKind::Done:
            return "done";
    }
    return "?";
}

std::string PortName(const std::string& port) {
    return port.empty() ? "(no port)" : port;
}

std::string WrittenName(bool arm, bool fpga) {
    if (arm && fpga) {
        return " (ARM and FPGA)";
    }
    return arm ? " (ARM)" : fpga ? " (FPGA)" : "";
}

namespace RE = RoadEvents;

struct Describe {
    std::string operator()(const RE::Connected& e) const {
        return "connected " + PortName(e.port) + " " + e.model + " " + e.version +
               (e.serial.empty() ? "" : " serial " + e.serial) +
               (e.backFromRoad ? " (back from its road)" : "");
    }
    std::string operator()(const RE::CountingDown& e) const {
        return "countdown " + PortName(e.port) + " " + std::to_string(e.left);
    }
    std::string operator()(const RE::SentToBootloader& e) const {
        return "sent to bootloader " + PortName(e.port);
    }
    std::string operator()(const RE::InBootloader& e) const {
        return "in bootloader " + PortName(e.port);
    }
    std::string operator()(const RE::InProgrammer& e) const {
        return "in programmer mode " + PortName(e.port);
    }
    std::string operator()(const RE::Decided& e) const {
        const Decision& d = e.decision;
        std::string what = " hold";
        if (d.run && d.moment != Moment::Connected) {
            what = std::string(" run ") + WorkName(d.work);
        } else if (d.run) {
            // In normal mode a box goes on its road by its countdown, or at once by the ticks.
            what = d.reason == Reason::UpgradeDue ? " count down" : " restart to its bootloader";
        }
        return "decision " + PortName(d.port) + what + ": " + ReasonText(d.reason, d.count);
    }
    std::string operator()(const RE::DownloadStarted& e) const {
        return "download " + PortName(e.port) + " started: " + WorkName(e.work) + " " + e.image;
    }
    std::string operator()(const RE::DownloadProgress& e) const {
        return "download " + PortName(e.port) + " progress " + std::to_string(e.marks) + "/" +
               std::to_string(e.marksExpected);
    }
    std::string operator()(const RE::DownloadEnded& e) const {
        return "download " + PortName(e.port) + " ended: " + OutcomeName(e.outcome);
    }
    std::string operator()(const RE::FpgaStep& e) const {
        return "fpga " + PortName(e.port) + " " + FpgaStepName(e.step) +
               (e.step == RE::FpgaStepKind::Progress ? " " + std::to_string(e.marks) : "");
    }
    std::string operator()(const RE::Returned& e) const {
        return "returned " + PortName(e.port) + " " + e.version;
    }
    std::string operator()(const RE::Ended& e) const {
        std::string line = std::string("end ") + PortName(e.port) + " " + RoadEndName(e.end);
        if (!e.version.empty()) {
            line += " " + e.version;
        }
        line += WrittenName(e.arm, e.fpga);
        if (e.reason != Reason::None) {
            line += ": " + ReasonText(e.reason, e.count);
        }
        return line;
    }
};

}  // namespace

std::string ReasonText(Reason reason, int count) {
    switch (reason) {
        case Reason::KeepsLeaving:
            return "it left its last " + std::to_string(count) + " downloads in the middle";
        case Reason::SeveralBoxes:
            return std::to_string(count) + " boxes on the bus";
        default:
            return FixedReasonText(reason);
    }
}

std::string DescribeRoadEvent(const RoadEvent& event) {
    return std::visit(Describe{}, event);
}

}  // namespace ZELKUtil
