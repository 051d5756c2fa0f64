#include "controller/road_events.h"

namespace ZELKUtil {
namespace RoadEvents {

const char* FailReasonName(FailReason reason) {
    switch (reason) {
        case FailReason::WrongPackage:
            return "the box names no profile of the package";
        case FailReason::PackageError:
            return "the package cannot upgrade the box";
        case FailReason::ModelUnknown:
            return "the box's model is not known";
        case FailReason::ToolFailed:
            return "a tool could not be run";
        case FailReason::FpgaFailed:
            return "the FPGA could not be programmed";
        case FailReason::KeepsLeaving:
            return "the box keeps leaving the bus during its downloads";
    }
    return "?";
}

namespace {

std::string PortName(const std::string& port) {
    return port.empty() ? "(no port)" : port;
}

const char* FpgaStepName(FpgaStepKind step) {
    switch (step) {
        case FpgaStepKind::Erasing:
            return "erasing";
        case FpgaStepKind::Programming:
            return "programming";
        case FpgaStepKind::Progress:
            return "progress";
        case FpgaStepKind::Verifying:
            return "verifying";
        case FpgaStepKind::Erased:
            return "erased";
        case FpgaStepKind::Done:
            return "done";
    }
    return "?";
}

struct Describe {
    std::string operator()(const Connected& e) const {
        return "connected " + PortName(e.port) + " " + e.model + " " + e.version +
               (e.upToDate ? " (up to date)" : "");
    }
    std::string operator()(const CountingDown& e) const {
        return "countdown " + PortName(e.port) + " " + std::to_string(e.left);
    }
    std::string operator()(const SentToBootloader& e) const {
        return "sent to bootloader " + PortName(e.port);
    }
    std::string operator()(const InBootloader& e) const {
        return "in bootloader " + PortName(e.port);
    }
    std::string operator()(const InProgrammer& e) const {
        return "in programmer mode " + PortName(e.port);
    }
    std::string operator()(const Decided& e) const {
        const Decision& d = e.decision;
        return "decision " + PortName(d.port) +
               (d.run ? std::string(" run ") + WorkName(d.work) : std::string(" hold")) + ": " +
               d.reason;
    }
    std::string operator()(const DownloadStarted& e) const {
        return "download " + PortName(e.port) + " started: " + WorkName(e.work) + " " + e.image;
    }
    std::string operator()(const DownloadProgress& e) const {
        return "download " + PortName(e.port) + " progress " + std::to_string(e.marks) + "/" +
               std::to_string(e.marksExpected);
    }
    std::string operator()(const DownloadEnded& e) const {
        return "download " + PortName(e.port) + " ended: " + OutcomeName(e.outcome);
    }
    std::string operator()(const FpgaStep& e) const {
        return "fpga " + PortName(e.port) + " " + FpgaStepName(e.step) +
               (e.step == FpgaStepKind::Progress ? " " + std::to_string(e.marks) : "");
    }
    std::string operator()(const Completed& e) const {
        return "completed " + PortName(e.port) + " " + e.version;
    }
    std::string operator()(const UpToDate& e) const {
        return "up to date " + PortName(e.port) + " " + e.version;
    }
    std::string operator()(const Failed& e) const {
        return "failed " + PortName(e.port) + ": " + FailReasonName(e.reason);
    }
};

}  // namespace
}  // namespace RoadEvents

std::string DescribeRoadEvent(const RoadEvent& event) {
    return std::visit(RoadEvents::Describe{}, event);
}

}  // namespace ZELKUtil
