#include "package/package_folder.h"

#include "package/package_files.h"
#include "platform/files.h"

namespace ZELKUtil {

std::optional<std::string> PackageFolderToEnter(const std::string& workingDirectory,
                                                const std::string& programFile) {
    const std::size_t slash = programFile.rfind('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    const std::string programFolder = slash == 0 ? "/" : programFile.substr(0, slash);
    if (Files::Exists(Files::Join(workingDirectory, PackageFiles::kProfileFile)) ||
        !Files::Exists(Files::Join(programFolder, PackageFiles::kProfileFile))) {
        return std::nullopt;
    }
    return programFolder;
}

}  // namespace ZELKUtil
