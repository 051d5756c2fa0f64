#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package/zelk_profile.h"

namespace ZELKUtil {

// What start-up finds in a package folder, read once and used alike by the window's start-up and
// by the command-line program: the version file's first line, the profiles, which of them are
// usable (every image they name is there), the images counted, and the download tools.
struct PackageFindings {
    // The version file's first line; none when it cannot be read.
    std::optional<std::string> version;
    // Every profile of the profile file, in file order, usable or not.
    std::vector<ZelkProfile> profiles;
    // The profile file's load or parse error, as the log shows it; empty when it was read.
    std::string profileError;
    // Every image a profile names that lies outside the package folder, as the reason why the
    // package cannot be used: "the profile Q750 names the image ../x.bin, which is outside the
    // package folder".
    std::vector<std::string> outside;
    // Per profile: whether every image it names can be opened in the package folder. Images
    // counted before a missing one stay counted, as start-up counts them.
    std::vector<bool> usable;
    int armImages = 0;
    int fpgaImages = 0;
    bool dfuUtil = false;  // the package holds dfu-util (preferred)
    bool dfuApp = false;   // the package holds DFUAPP

    bool UsableProfiles() const;
    // Why a program that upgrades boxes by itself cannot use the package; none when it can.
    std::optional<std::string> WhyUnusable() const;
};

// Reads the package folder.
PackageFindings ReadPackageFindings(const std::string& folder);

// Where an image a profile names is: the name joined to the package folder, when the file lies in
// that folder or below it once every link is followed; none when it lies elsewhere ("..", an
// absolute name, a link out), since a package may bring only its own files into a box. A name
// under which nothing is found is given joined all the same, so that it is missing as before.
std::optional<std::string> PackageImagePath(const std::string& folder, const std::string& name);

}  // namespace ZELKUtil
