#include "controller/dfu_output.h"

namespace ZELKUtil {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

bool IsDfuUtilBannerLine(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos || StartsWith(line, "dfu-util ") ||
           StartsWith(line, "Copyright ") || StartsWith(line, "This program is Free Software") ||
           StartsWith(line, "Please report bugs");
}

std::optional<int> DfuUtilProgressFill(const std::string& line) {
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
    return fill;
}

bool IsDfuUtilDownloadDone(const std::string& line) {
    return line.find("Download done.") != std::string::npos;
}

}  // namespace ZELKUtil
