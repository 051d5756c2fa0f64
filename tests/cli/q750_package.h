#pragma once

#include <gtest/gtest.h>

#include <string>

#include "package/package_files.h"
#include "scenario/scenario_world.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {

// The benches' package: version 2.04, one Q750 profile with an ARM image, and dfu-util (or
// DFUAPP, which cannot be told a port).
inline std::string WriteQ750ArmPackage(const ZELKUtil::Testing::TempPackage& pkg,
                                       bool dfuUtil = true) {
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details = R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")"
                      R"( name="ZELK Q750" LPC3131="q750.bin" A3P060="" A3PN060=""/>)";
    package.files = {"q750.bin"};
    package.tools = {dfuUtil ? PackageFiles::kDfuUtil : PackageFiles::kDfuApp};
    EXPECT_TRUE(ZELKSim::WritePackage(pkg.Root(), package));
    return pkg.Root();
}

}  // namespace ZELKUtil::Cli
