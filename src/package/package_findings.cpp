#include "package/package_findings.h"

#include <algorithm>

#include "package/package_files.h"
#include "package/profile_file.h"
#include "package/version_file.h"
#include "platform/files.h"

namespace ZELKUtil {

PackageFindings ReadPackageFindings(const std::string& folder) {
    PackageFindings found;
    found.version = ReadFirstLine(Files::Join(folder, PackageFiles::kVersionFile));
    auto file = ReadProfileFile(Files::Join(folder, PackageFiles::kProfileFile));
    if (file) {
        found.profiles = std::move(file).value();
    } else {
        found.profileError = file.error().Text();
    }
    const auto opens = [&folder](const std::string& name) {
        return Files::CanOpenForReading(Files::Join(folder, name));
    };
    for (const ZelkProfile& profile : found.profiles) {
        // A profile is usable when every image it names can be opened; the first missing one
        // ends its check.
        bool usable = true;
        if (!profile.LPC3131.empty()) {
            usable = opens(profile.LPC3131);
            found.armImages += usable ? 1 : 0;
        }
        for (const std::string* fpga : {&profile.A3P060, &profile.A3PN060}) {
            if (usable && !fpga->empty()) {
                usable = opens(*fpga);
                found.fpgaImages += usable ? 1 : 0;
            }
        }
        found.usable.push_back(usable);
    }
    found.dfuUtil = Files::Exists(Files::Join(folder, PackageFiles::kDfuUtil));
    found.dfuApp = Files::Exists(Files::Join(folder, PackageFiles::kDfuApp));
    return found;
}

bool PackageFindings::UsableProfiles() const {
    return std::find(usable.begin(), usable.end(), true) != usable.end();
}

std::optional<std::string> PackageFindings::WhyUnusable() const {
    if (!version || version->empty()) {
        return "it has no version (CurrentVersion.txt)";
    }
    if (!profileError.empty()) {
        return "its profile file cannot be read: " + profileError;
    }
    if (!UsableProfiles()) {
        return "no profile of it names images that are there";
    }
    if (armImages == 0 && fpgaImages == 0) {
        return "it holds no image";
    }
    if (!dfuUtil && !dfuApp) {
        return "it holds no download tool";
    }
    return std::nullopt;
}

}  // namespace ZELKUtil
