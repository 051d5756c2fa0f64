#pragma once

#include <string>

namespace ZELKUtil {

// What one line of DFUAPP's log file is, for the download run to act on. Kept pure, so that it is
// checked on literal lines of the log.
enum class DfuAppLine {
    // The device took one block of the image: every other one is a mark of the bar.
    BlockReceived,
    // The device restarts with the new firmware.
    ResetAfterDownload,
    Error,
    // The tool is opening the device: a pass that ends on it found none to open.
    OpeningDevice,
    Other,
};

DfuAppLine ReadDfuAppLine(const std::string& line);

}  // namespace ZELKUtil
