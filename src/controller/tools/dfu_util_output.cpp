#include "controller/tools/dfu_util_output.h"

#include <optional>
#include <utility>

#include "controller/tools/line_text.h"

namespace ZELKUtil {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool IsBanner(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos || StartsWith(line, "dfu-util ") ||
           StartsWith(line, "Copyright ") || StartsWith(line, "This program is Free Software") ||
           StartsWith(line, "Please report bugs");
}

// The bar's fill and its whole width.
std::optional<std::pair<int, int>> ProgressFill(const std::string& line) {
    const std::string head = "Download\t[";
    const std::size_t at = line.find(head);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t begin = at + head.size();
    const std::size_t end = line.find(']', begin);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    int fill = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (line[i] == '=') {
            ++fill;
        } else if (line[i] != ' ') {
            return std::nullopt;
        }
    }
    return std::make_pair(fill, static_cast<int>(end - begin));
}

}  // namespace

DfuUtilLine ReadDfuUtilLine(const std::string& line) {
    using Kind = DfuUtilLine::Kind;
    if (IsBanner(line)) {
        return {Kind::Banner};
    }
    if (Holds(line, "Copying data from PC to DFU device")) {
        return {Kind::BarStart};
    }
    if (const auto bar = ProgressFill(line)) {
        return {Kind::BarProgress, bar->first, bar->second};
    }
    if (Holds(line, "Download done.")) {
        return {Kind::DownloadDone};
    }
    if (Holds(line, "Opening DFU capable USB device...")) {
        return {Kind::OpeningDevice};
    }
    return {};
}

bool DfuUtilBarFinished(const std::string& rest) {
    return Holds(rest, "finished");
}

}  // namespace ZELKUtil
