#pragma once

#include <functional>
#include <string>

// The two file chores of putting a box on the kernel's buses: writing a configfs or sysfs
// attribute, and waiting for the kernel to catch up.
namespace ZELKSim {

// Writes the bytes to a file (a sysfs or configfs attribute); false with strerror's text.
bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string* error);
// Checks `ready` every 10 ms until it holds or `ms` have passed; returns its last value.
bool WaitFor(const std::function<bool()>& ready, int ms);

}  // namespace ZELKSim
