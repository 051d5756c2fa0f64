#pragma once

#include <string>

namespace ZELKUtil::Testing {

// A package folder made by a test in a fresh temporary folder, removed with the object.
class TempPackage {
  public:
    TempPackage();
    ~TempPackage();
    TempPackage(const TempPackage&) = delete;
    TempPackage& operator=(const TempPackage&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    // Writes a file (making its folders), replacing any earlier content.
    void Write(const std::string& relative, const std::string& content) const;
    void MakeFolder(const std::string& relative) const;
    // Writes an executable file.
    void WriteProgram(const std::string& relative, const std::string& content) const;

  private:
    std::string root_;
};

}  // namespace ZELKUtil::Testing
