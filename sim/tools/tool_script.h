#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/emulated_tools.h"

// What an emulated tool's run is made of: its steps over time and what it does when its box is
// gone. The service plays them (emulated_tools.cpp); each tool writes its own
// (dfu_tool_scripts.cpp, stapl_script.cpp).
namespace ZELKSim {

inline bool Has(const std::vector<std::string>& arguments, const std::string& wanted) {
    return std::find(arguments.begin(), arguments.end(), wanted) != arguments.end();
}

// What a step of a tool needs of the box.
enum class BoxUse {
    None,
    Opens,  // the tool opens the device here: the box must be in the tool's mode now
    Holds,  // the device the tool opened must still be on the bus, never having left it
};

// One step of a tool's run: after `afterMs` from the previous step, print `output` and do `effect`.
struct EmulatedProcessService::Step {
    std::int64_t afterMs = 0;
    std::string output;
    std::function<void()> effect;
    // The tool exits in the same instant (its buffered output is flushed as it ends).
    bool exits = false;
    BoxUse box = BoxUse::None;
};

// A tool's whole run, and what it does when the box it works on is gone at a step that needs it:
// as the real tool, it prints its error (or nothing more), exits at once, and the box is left as
// it was.
struct EmulatedProcessService::Script {
    std::vector<Step> steps;
    BoxMode device = BoxMode::Bootloader;
    std::string goneOutput;
    std::function<void()> goneEffect;
    std::uint32_t exitCode = 0;  // when it runs to its end
    // What the tool writes to its error stream as it ends: when the box it works on is gone, and
    // when it runs to its end.
    std::string goneError;
    std::string endError;
};

}  // namespace ZELKSim
