#include "cli/image_digests.h"

#include <algorithm>

#include "package/package_files.h"
#include "package/package_findings.h"
#include "platform/files.h"
#include "platform/sha256.h"

namespace ZELKUtil::Cli {
namespace {

// Far above any image a box takes (its flash holds a few megabytes); a larger file is no image.
constexpr std::size_t kMaxImageBytes = std::size_t{256} * 1024 * 1024;

ImageDigest Digest(const std::string& folder, const std::string& name) {
    ImageDigest digest{name, "", ""};
    const std::optional<std::string> path = PackageImagePath(folder, name);
    if (!path) {
        digest.error = "outside the package folder";
        return digest;
    }
    const Result<std::string> bytes = Files::ReadHead(*path, kMaxImageBytes + 1);
    if (!bytes) {
        digest.error = bytes.error().Text();
    } else if (bytes.value().size() > kMaxImageBytes) {
        digest.error = "larger than " + std::to_string(kMaxImageBytes >> 20) + " MiB";
    } else {
        digest.sha256 = Sha256Hex(bytes.value());
    }
    return digest;
}

}  // namespace

std::vector<std::string> PackageImageNames(const std::vector<ZelkProfile>& profiles) {
    std::vector<std::string> names;
    const auto add = [&names](const std::string& name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    };
    for (const ZelkProfile& profile : profiles) {
        add(profile.LPC3131);
        add(profile.A3P060);
        add(profile.A3PN060);
    }
    if (std::any_of(profiles.begin(), profiles.end(),
                    [](const ZelkProfile& p) { return p.HasFpgaImage(); })) {
        add(Files::Join(PackageFiles::kToolsFolder, PackageFiles::kFpgaProgrammerImage));
    }
    return names;
}

std::map<std::string, ImageDigest> DigestImages(const std::string& packageFolder,
                                                const std::vector<std::string>& names) {
    std::map<std::string, ImageDigest> digests;
    for (const std::string& name : names) {
        digests.emplace(name, Digest(packageFolder, name));
    }
    return digests;
}

}  // namespace ZELKUtil::Cli
