#pragma once

#include <functional>
#include <optional>
#include <string>

// Small file and wait helpers of the guest-side test programs.
namespace ZELKKernelTest {

// Writes the bytes to a file (a sysfs or configfs attribute); false with strerror's text.
bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string* error);
// The whole file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Checks `ready` every 10 ms until it holds or `ms` have passed; returns its last value.
bool WaitFor(const std::function<bool()>& ready, int ms);
// Runs a command through the guest's shell; true when it exits with status 0.
bool RunCommand(const std::string& command);

}  // namespace ZELKKernelTest
