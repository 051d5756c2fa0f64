#include <gtest/gtest.h>
#include <unistd.h>

#include "package/package_findings.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

// One profile per way a name can lead out of the folder, and the ways that stay in it.
TEST(PackageImages, OnlyFilesInsideThePackageFolderAreImages) {
    Testing::TempPackage package;
    Testing::TempPackage elsewhere;
    elsewhere.Write("secret.bin", "not the package's");
    package.Write("images/arm.bin", "arm");
    package.MakeFolder("linked");
    ASSERT_EQ(::symlink(elsewhere.Path("secret.bin").c_str(), package.Path("out.bin").c_str()), 0);
    ASSERT_EQ(::symlink("images/arm.bin", package.Path("in.bin").c_str()), 0);
    const std::string escape =
        "../" + elsewhere.Root().substr(elsewhere.Root().rfind('/') + 1) + "/secret.bin";
    std::string profiles = "<zelk>";
    for (const std::string& image :
         {std::string("images/arm.bin"), std::string("in.bin"), escape,
          elsewhere.Path("secret.bin"), std::string("out.bin"), std::string("../missing.bin")}) {
        profiles += R"(<detail profile="P" vid="1" pid="2" id="Q" name="N" A3P060="" A3PN060="" )"
                    R"(LPC3131=")" +
                    image + R"("/>)";
    }
    package.Write(PackageFiles::kProfileFile, profiles + "</zelk>");
    package.Write(PackageFiles::kVersionFile, "2.04\n");
    package.Write(PackageFiles::kDfuUtil, "");

    const PackageFindings found = ReadPackageFindings(package.Root());
    EXPECT_EQ(found.usable, (std::vector<bool>{true, true, false, false, false, false}));
    EXPECT_EQ(found.armImages, 2);
    ASSERT_EQ(found.outside.size(), 3U) << "a missing file is missing, not outside";
    EXPECT_EQ(found.outside[0],
              "the profile Q names the image " + escape + ", which is outside the package folder");
    EXPECT_EQ(found.WhyUnusable(),
              found.outside[0] + "; " + found.outside[1] + "; " + found.outside[2]);
    EXPECT_EQ(PackageImagePath(package.Root(), "in.bin"), package.Path("in.bin"));
    EXPECT_EQ(PackageImagePath(package.Root(), "../missing.bin"), package.Path("../missing.bin"));
    // The folder given through a link of its own holds the same files.
    ASSERT_EQ(::symlink(package.Root().c_str(), elsewhere.Path("package").c_str()), 0);
    EXPECT_TRUE(PackageImagePath(elsewhere.Path("package"), "images/arm.bin"));
    EXPECT_FALSE(PackageImagePath(elsewhere.Path("package"), "out.bin"));
}

}  // namespace
}  // namespace ZELKUtil
