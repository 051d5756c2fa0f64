#pragma once

#include <string>

#include "scenario_world.h"

namespace ZELKUtil::Testing {

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
