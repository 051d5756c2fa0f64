#pragma once

#include <string>

#include "package/package_files.h"
#include "scenario/scenario_world.h"

namespace ZELKUtil::Testing {

// The system's text for a file that does not exist, as the file helpers report it.
std::string NoSuchFileText();
// The same for a file in a folder that does not exist (Windows tells the two apart).
std::string NoSuchFolderText();

// A driver installer's name in the package: its folder (which ends in a separator) and its name.
inline std::string Installer(const char* folder, const char* name) {
    return std::string(folder) + name;
}

// A package folder made by a test in a fresh temporary folder, removed with the object.
class TempPackage {
  public:
    TempPackage();

    const std::string& Root() const { return folder_.Root(); }
    std::string Path(const std::string& relative) const { return Root() + "/" + relative; }
    // Writes a file (making its folders), replacing any earlier content.
    void Write(const std::string& relative, const std::string& content) const;
    void MakeFolder(const std::string& relative) const;
    // Writes an executable file.
    void WriteProgram(const std::string& relative, const std::string& content) const;

  private:
    ZELKSim::ScratchFolder folder_;
};

}  // namespace ZELKUtil::Testing
