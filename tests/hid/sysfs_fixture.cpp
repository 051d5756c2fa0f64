#include "sysfs_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

SysfsFixture::SysfsFixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelk-hid-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
}

SysfsFixture::~SysfsFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void SysfsFixture::Write(const std::string& path, const std::string& content) const {
    const std::filesystem::path full = std::filesystem::path(root_) / path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full) << content;
}

void SysfsFixture::Link(const std::string& path, const std::string& target) const {
    const std::filesystem::path full = std::filesystem::path(root_) / path;
    std::filesystem::create_directories(full.parent_path());
    std::filesystem::create_symlink(target, full);
}
