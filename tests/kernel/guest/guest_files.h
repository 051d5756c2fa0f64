#pragma once

#include <optional>
#include <string>

#include "kernel/kernel_files.h"

// Small file and wait helpers of the guest-side test programs.
namespace ZELKKernelTest {

using ZELKSim::WaitFor;
using ZELKSim::WriteFileBytes;

// The whole file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Runs a command through the guest's shell; true when it exits with status 0.
bool RunCommand(const std::string& command);

}  // namespace ZELKKernelTest
