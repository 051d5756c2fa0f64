#include "package/package_folder.h"

#include <gtest/gtest.h>

#include "package/package_files.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

TEST(PackageFolder, TheProgramsFolderOnlyWhenItHoldsTheProfilesAndTheWorkingDirectoryDoesNot) {
    Testing::TempPackage package;
    package.Write(PackageFiles::kProfileFile, "<zelk/>");
    Testing::TempPackage elsewhere;
    const std::string program = package.Path("zelk-upgrade");

    EXPECT_EQ(PackageFolderToEnter(elsewhere.Root(), program), package.Root());
    // Started from a package folder, it stays there, wherever the program lies.
    EXPECT_EQ(PackageFolderToEnter(package.Root(), elsewhere.Path("zelk-upgrade")), std::nullopt);
    EXPECT_EQ(PackageFolderToEnter(package.Root(), program), std::nullopt);
    // A program outside any package (installed in /usr/bin, say) changes nothing.
    EXPECT_EQ(PackageFolderToEnter(elsewhere.Root(), elsewhere.Path("zelk-upgrade")), std::nullopt);
    EXPECT_EQ(PackageFolderToEnter(elsewhere.Root(), "zelk-upgrade"), std::nullopt);
}

}  // namespace
}  // namespace ZELKUtil
