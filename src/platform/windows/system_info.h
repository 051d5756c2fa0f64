#pragma once

#include <string>

namespace ZELKUtil {

// The machine name of a processor architecture code of the Windows system information, named as
// uname names machines: 9 (x64) is "x86_64", the only one that picks the 64-bit driver installer.
std::string MachineOfArchitecture(unsigned short architecture);

}  // namespace ZELKUtil
