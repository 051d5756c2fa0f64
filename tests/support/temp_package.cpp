#include "support/temp_package.h"

#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "platform/windows/text_conversion.h"
#else
#include <cerrno>
#include <cstring>
#endif

#include "scenario/scenario_world.h"

namespace ZELKUtil::Testing {
namespace {

// A test cannot go on without its package folder.
void Require(const Result<void>& done) {
    if (!done) {
        throw std::runtime_error(done.error().Text());
    }
}

}  // namespace

std::string NoSuchFileText() {
#ifdef _WIN32
    return Windows::SystemErrorText(ERROR_FILE_NOT_FOUND);
#else
    return std::strerror(ENOENT);
#endif
}

std::string NoSuchFolderText() {
#ifdef _WIN32
    return Windows::SystemErrorText(ERROR_PATH_NOT_FOUND);
#else
    return std::strerror(ENOENT);
#endif
}

TempPackage::TempPackage() {
    Require(folder_.Create());
}

void TempPackage::Write(const std::string& relative, const std::string& content) const {
    Require(ZELKSim::WritePackageFile(Root(), relative, content, false));
}

void TempPackage::MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(std::filesystem::path(Root()) / relative);
}

void TempPackage::WriteProgram(const std::string& relative, const std::string& content) const {
    Require(ZELKSim::WritePackageFile(Root(), relative, content, true));
}

}  // namespace ZELKUtil::Testing
