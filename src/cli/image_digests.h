#pragma once

#include <map>
#include <string>
#include <vector>

#include "cli/history.h"
#include "package/zelk_profile.h"

namespace ZELKUtil::Cli {

// The package-relative name of every image a run of the package may write into a box: each
// profile's ARM and FPGA images and, when any profile programs an FPGA, the programmer firmware.
std::vector<std::string> PackageImageNames(const std::vector<ZelkProfile>& profiles);

// The SHA-256 of each image's file in the package folder, by its name; an image that cannot be
// read (missing, outside the folder, too large) has the reason instead. Read once, at the run's
// start, however many boxes it is written into.
std::map<std::string, ImageDigest> DigestImages(const std::string& packageFolder,
                                                const std::vector<std::string>& names);

}  // namespace ZELKUtil::Cli
