#include "controller/tools/dfuapp_log.h"

namespace ZELKUtil {

DfuAppLine ReadDfuAppLine(const std::string& line) {
    const auto holds = [&line](const char* part) { return line.find(part) != std::string::npos; };
    if (holds("Device has received a block and is waiting for the host to solicit the status "
              "via DFU_GETSTATUS")) {
        return DfuAppLine::BlockReceived;
    }
    if (holds("Device Reset after Download successful")) {
        return DfuAppLine::ResetAfterDownload;
    }
    if (holds("An error has occurred.")) {
        return DfuAppLine::Error;
    }
    if (holds("Opening DFU capable USB device...")) {
        return DfuAppLine::OpeningDevice;
    }
    return DfuAppLine::Other;
}

}  // namespace ZELKUtil
