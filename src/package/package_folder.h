#pragma once

#include <optional>
#include <string>

namespace ZELKUtil {

// The utility resolves every package name against its working directory. An operator who starts
// it from a file manager inside an unpacked package folder may get another working directory
// (Windows' Explorer gives the program's own folder; Linux desktops do not). So: when the working
// directory holds no profile file and the folder of the program file does, that folder is the
// one to run in. nullopt: stay where we are.
std::optional<std::string> PackageFolderToEnter(const std::string& workingDirectory,
                                                const std::string& programFile);

}  // namespace ZELKUtil
