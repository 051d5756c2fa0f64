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

    // A USB device on the port (on the bus the port's name begins with) with its first interface,
    // its udev record when `udev` is given, and below the interface the hidraw node of that minor
    // number when it is not negative.
    void AddUsbDevice(const std::string& port, const std::string& vendor,
                      const std::string& product, int devnum, const char* udev = nullptr,
                      int minor = -1) const;
    // Removes the port's device and its links, and the class link of its hidraw node.
    void RemoveUsbDevice(const std::string& port, int minor = -1) const;

  private:
    std::string root_;
};
