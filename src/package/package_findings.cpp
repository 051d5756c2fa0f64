#include "package/package_findings.h"

#include <algorithm>

#include "package/package_files.h"
#include "package/profile_file.h"
#include "package/version_file.h"
#include "platform/files.h"

namespace ZELKUtil {

namespace {

// What the profile is called in a message: its short model name, else its display name.
std::string ProfileName(const ZelkProfile& profile) {
    const std::string name = profile.id.empty() ? profile.type.value_or("") : profile.id;
    return name.empty() ? "a profile without a name" : "the profile " + name;
}

// Notes every image of the profile that lies outside the folder, missing or not.
void NoteImagesOutside(const std::string& folder, const ZelkProfile& profile,
                       PackageFindings& found) {
    for (const std::string* image : {&profile.LPC3131, &profile.A3P060, &profile.A3PN060}) {
        if (!image->empty() && !PackageImagePath(folder, *image)) {
            found.outside.push_back(ProfileName(profile) + " names the image " + *image +
                                    ", which is outside the package folder");
        }
    }
}

}  // namespace

std::optional<std::string> PackageImagePath(const std::string& folder, const std::string& name) {
    std::string path = Files::Join(folder, name);
    const Result<bool> inside = Files::IsInside(folder, path);
    if (inside) {
        return inside.value() ? std::optional<std::string>(std::move(path)) : std::nullopt;
    }
    // Either is not there: a missing image is missing wherever its name points; one that is there
    // in a folder that is not cannot be inside it.
    return Files::Resolve(path) ? std::nullopt : std::optional<std::string>(std::move(path));
}

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
        const std::optional<std::string> path = PackageImagePath(folder, name);
        return path && Files::CanOpenForReading(*path);
    };
    for (const ZelkProfile& profile : found.profiles) {
        NoteImagesOutside(folder, profile, found);
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
    if (!outside.empty()) {
        std::string all = outside.front();
        for (std::size_t i = 1; i < outside.size(); ++i) {
            all += "; " + outside[i];
        }
        return all;
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
