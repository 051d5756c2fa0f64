#include "support/temp_package.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace ZELKUtil::Testing {

TempPackage::TempPackage() {
    std::string pattern = (fs::temp_directory_path() / "zelk-pkg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
}

TempPackage::~TempPackage() {
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

void TempPackage::Write(const std::string& relative, const std::string& content) const {
    const fs::path path = fs::path(root_) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void TempPackage::MakeFolder(const std::string& relative) const {
    fs::create_directories(fs::path(root_) / relative);
}

void TempPackage::WriteProgram(const std::string& relative, const std::string& content) const {
    Write(relative, content);
    fs::permissions(fs::path(root_) / relative,
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
}

}  // namespace ZELKUtil::Testing
