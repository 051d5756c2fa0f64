#include "package/package_folder.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

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

std::string EnterPackageFolder() {
    std::array<char, 4096> program{};
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), program.size() - 1);
    if (length < 0) {
        return std::string("readlink /proc/self/exe: ") + std::strerror(errno);
    }
    std::array<char, 4096> here{};
    if (::getcwd(here.data(), here.size()) == nullptr) {
        return std::string("getcwd: ") + std::strerror(errno);
    }
    const auto folder = PackageFolderToEnter(
        here.data(), std::string(program.data(), static_cast<std::size_t>(length)));
    if (folder && ::chdir(folder->c_str()) != 0) {
        return "chdir " + *folder + ": " + std::strerror(errno);
    }
    return "";
}

}  // namespace ZELKUtil
