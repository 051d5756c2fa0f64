#pragma once

#include <string>

namespace ZELKUtil {

// The package version line: the label's text after "Upgrade Version: ". Empty when the label does
// not carry a package version (the version file could not be read).
std::string PackageVersionLine(const std::string& upgradeLabel);

// Whether the box's version stands in the package version line as a whole: bounded on each side by
// the start or end of the line or by a character that is neither a letter, a digit nor a dot. So a
// box at 1.2 is not taken as up to date with a package at 1.23, while "1.23 (Q750)" still counts
// for 1.23. An empty version never matches.
bool PackageHasVersion(const std::string& packageLine, const std::string& boxVersion);

}  // namespace ZELKUtil
