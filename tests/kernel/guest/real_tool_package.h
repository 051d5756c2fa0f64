#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/temp_package.h"

namespace ZELKKernelTest {

// Writes a package at version 2.04 for the profiles in `details` (<detail .../> elements) with
// its images (path in the package, bytes): Tools/dfu-util is Debian's dfu-util, and the driver
// installer is a stand-in that puts the bootloader rule in place and has udev reload it, as the
// real one does. The rule stays until RemoveBootloaderRules.
void WriteRealToolPackage(const ZELKUtil::Testing::TempPackage& pkg, const std::string& details,
                          const std::vector<std::pair<std::string, std::string>>& images);
// Takes away every rule a package's installer put in place, so that each test starts without.
void RemoveBootloaderRules();

}  // namespace ZELKKernelTest
