#pragma once

#include <optional>
#include <string>

#include "box/emulated_box.h"

namespace ZELKSim {

// A box mode as scenario files name it ("normal", "bootloader", "fpga-programmer", "absent"), and
// back.
std::optional<BoxMode> ModeByName(const std::string& name);
std::string ModeName(BoxMode mode);

}  // namespace ZELKSim
