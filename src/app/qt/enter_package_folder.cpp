#include "app/qt/enter_package_folder.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "package/package_folder.h"

namespace ZELKUtil {

Result<void> EnterPackageFolder() {
    std::array<char, 4096> program{};
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), program.size() - 1);
    if (length < 0) {
        return ErrorFromErrno("readlink /proc/self/exe", errno);
    }
    std::array<char, 4096> here{};
    if (::getcwd(here.data(), here.size()) == nullptr) {
        return ErrorFromErrno("getcwd", errno);
    }
    const auto folder = PackageFolderToEnter(
        here.data(), std::string(program.data(), static_cast<std::size_t>(length)));
    if (folder && ::chdir(folder->c_str()) != 0) {
        return ErrorFromErrno("chdir " + *folder, errno);
    }
    return {};
}

}  // namespace ZELKUtil
