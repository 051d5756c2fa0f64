#pragma once

#include <string>

namespace ZELKUtil {

// What one line of dfu-util's output is, for the download run to act on. Kept pure, so that it is
// checked on literal output of the tool.
struct DfuUtilLine {
    enum class Kind {
        // Its start-up banner (version, copyright and licence lines, or a blank line): a pass that
        // printed nothing else stopped before it found a device to open.
        Banner,
        // Older dfu-util: "Copying data from PC to DFU device", its '#' bar follows on the line.
        BarStart,
        // Current dfu-util's bar, redrawn in place: "Download\t[=====    ]  20%   20480 bytes";
        // `fill` is the number of '=', `width` the bar's whole length.
        BarProgress,
        // Current dfu-util: the whole image has been sent.
        DownloadDone,
        // The tool is opening the device: a pass that ends on it found none to open.
        OpeningDevice,
        Other,
    };
    Kind kind = Kind::Other;
    int fill = 0;
    int width = 0;
};

DfuUtilLine ReadDfuUtilLine(const std::string& line);

// Whether the rest of the line after older dfu-util's '#' bar says that the download finished.
bool DfuUtilBarFinished(const std::string& rest);

}  // namespace ZELKUtil
