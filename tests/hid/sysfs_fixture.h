#pragma once

#include <string>

// A folder tree in a fresh temporary folder, removed with the object: stands in for /sys, /dev
// and /run/udev in the tests of the readers.
class SysfsFixture {
  public:
    SysfsFixture();
    SysfsFixture(const SysfsFixture&) = delete;
    SysfsFixture& operator=(const SysfsFixture&) = delete;
    ~SysfsFixture();

    const std::string& root() const { return root_; }
    // Writes a file at the path below the root, making its folders.
    void Write(const std::string& path, const std::string& content) const;
    // Makes a symbolic link at the path below the root pointing to target (as given).
    void Link(const std::string& path, const std::string& target) const;

  private:
    std::string root_;
};
