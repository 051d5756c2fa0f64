#include "controller/tools/dfuapp_log.h"

#include "controller/tools/line_text.h"

namespace ZELKUtil {

DfuAppLine ReadDfuAppLine(const std::string& line) {
    if (Holds(line,
              "Device has received a block and is waiting for the host to solicit the status "
              "via DFU_GETSTATUS")) {
        return DfuAppLine::BlockReceived;
    }
    if (Holds(line, "Device Reset after Download successful")) {
        return DfuAppLine::ResetAfterDownload;
    }
    if (Holds(line, "An error has occurred.")) {
        return DfuAppLine::Error;
    }
    if (Holds(line, "Opening DFU capable USB device...")) {
        return DfuAppLine::OpeningDevice;
    }
    return DfuAppLine::Other;
}

}  // namespace ZELKUtil
