#include "real_tool_package.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "guest_files.h"
#include "package/package_files.h"

namespace ZELKKernelTest {
namespace {

namespace PackageFiles = ZELKUtil::PackageFiles;

constexpr const char* kInstaller = R"sh(#!/bin/sh
cp "$(dirname "$0")/70-zelk-bootloader.rules" /etc/udev/rules.d/ && udevadm control --reload
)sh";

}  // namespace

void WriteRealToolPackage(const ZELKUtil::Testing::TempPackage& pkg, const std::string& details,
                          const std::vector<std::pair<std::string, std::string>>& images) {
    pkg.Write(PackageFiles::kVersionFile, "2.04\r\n");
    pkg.Write(PackageFiles::kProfileFile, "<?xml version=\"1.0\"?>\n<zelk>" + details + "</zelk>");
    for (const auto& [path, bytes] : images) {
        pkg.Write(path, bytes);
    }
    pkg.MakeFolder(PackageFiles::kToolsFolder);
    EXPECT_EQ(::symlink("/usr/bin/dfu-util", pkg.Path(PackageFiles::kDfuUtil).c_str()), 0);
    const std::string drivers = PackageFiles::kDriverFolderLibusbk;
    pkg.WriteProgram(drivers + PackageFiles::kDriverInstaller, kInstaller);
    pkg.WriteProgram(drivers + PackageFiles::kDriverInstaller64, kInstaller);
    const auto rule = ReadWholeFile("/etc/zelk-test/70-zelk-bootloader-libusbk.rules");
    EXPECT_TRUE(rule);
    pkg.Write(drivers + "70-zelk-bootloader.rules", rule.value_or(""));
}

void RemoveBootloaderRules() {
    RunCommand("rm -f /etc/udev/rules.d/70-zelk-*.rules; udevadm control --reload");
}

}  // namespace ZELKKernelTest
