#include "controller/version_match.h"

#include <cctype>

namespace ZELKUtil {
namespace {

constexpr const char* kLabelPrefix = "Upgrade Version: ";

bool IsBoundary(char c) {
    const auto u = static_cast<unsigned char>(c);
    // Bytes of multi-byte UTF-8 characters count as letters: they never bound a version.
    return u < 0x80 && std::isalnum(u) == 0 && c != '.';
}

}  // namespace

std::string PackageVersionLine(const std::string& upgradeLabel) {
    const std::string prefix = kLabelPrefix;
    if (upgradeLabel.compare(0, prefix.size(), prefix) != 0) {
        return {};
    }
    return upgradeLabel.substr(prefix.size());
}

bool PackageHasVersion(const std::string& packageLine, const std::string& boxVersion) {
    if (boxVersion.empty()) {
        return false;
    }
    for (std::size_t at = packageLine.find(boxVersion); at != std::string::npos;
         at = packageLine.find(boxVersion, at + 1)) {
        const std::size_t end = at + boxVersion.size();
        const bool startBounded = at == 0 || IsBoundary(packageLine[at - 1]);
        const bool endBounded = end == packageLine.size() || IsBoundary(packageLine[end]);
        if (startBounded && endBounded) {
            return true;
        }
    }
    return false;
}

}  // namespace ZELKUtil
