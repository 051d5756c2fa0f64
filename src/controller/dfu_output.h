#pragma once

#include <optional>
#include <string>

namespace ZELKUtil {

// Recognisers for what the DFU download tools print, kept pure so that they are checked on literal
// output.

// A line of dfu-util's start-up banner (its version line, copyright and licence lines, or a blank
// line): a pass that printed nothing else stopped before it found a device to open.
bool IsDfuUtilBannerLine(const std::string& line);

// Current dfu-util draws its progress as "Download\t[=====    ]  20%   20480 bytes", redrawn in
// place with carriage returns. The number of '=' in the bar, or nullopt for any other line.
std::optional<int> DfuUtilProgressFill(const std::string& line);

// The line current dfu-util prints when the whole image has been sent.
bool IsDfuUtilDownloadDone(const std::string& line);

}  // namespace ZELKUtil
