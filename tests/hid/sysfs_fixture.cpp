#include "sysfs_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

SysfsFixture::SysfsFixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelk-hid-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
}

SysfsFixture::~SysfsFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void SysfsFixture::Write(const std::string& path, const std::string& content) const {
    const std::filesystem::path full = std::filesystem::path(root_) / path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full) << content;
}

void SysfsFixture::Link(const std::string& path, const std::string& target) const {
    const std::filesystem::path full = std::filesystem::path(root_) / path;
    std::filesystem::create_directories(full.parent_path());
    std::filesystem::create_symlink(target, full);
}

void SysfsFixture::AddUsbDevice(const std::string& port, const std::string& vendor,
                                const std::string& product, int devnum, const char* udev,
                                int minor) const {
    const std::string bus = port.substr(0, port.find('-'));
    const std::string device = "devices/usb" + bus + "/" + port;
    const std::string interface = device + "/" + port + ":1.0";
    const std::pair<std::string, std::string> attributes[] = {
        {"idVendor", vendor},
        {"idProduct", product},
        {"bcdDevice", "0100"},
        {"busnum", bus},
        {"devnum", std::to_string(devnum)},
        {"dev", "189:" + std::to_string(devnum)},
        {port + ":1.0/bInterfaceClass", "fe"}};
    const std::string folder = "sys/" + device + "/";
    for (const auto& [file, value] : attributes) {
        Write(folder + file, value + "\n");
    }
    Link("sys/bus/usb/devices/" + port, "../../../" + device);
    Link("sys/bus/usb/devices/" + port + ":1.0", "../../../" + interface);
    if (udev != nullptr) {
        Write("run/udev/data/c189:" + std::to_string(devnum), std::string("I:1234\n") + udev);
    }
    if (minor >= 0) {
        const std::string name = "hidraw" + std::to_string(minor);
        const std::string node = interface + "/0003:" + vendor + ".0001/" + name;
        Write("sys/" + node + "/dev", "243:" + std::to_string(minor) + "\n");
        Write("sys/" + node + "/uevent", "DEVNAME=" + name + "\n");
        Write("sys/" + node + "/device/uevent",
              "HID_ID=0003:0000" + vendor + ":0000" + product + "\n");
        Link("sys/class/hidraw/" + name, "../../" + node);
        Write("dev/" + name, "");
    }
}

void SysfsFixture::RemoveUsbDevice(const std::string& port, int minor) const {
    const std::filesystem::path sys = std::filesystem::path(root_) / "sys";
    std::filesystem::remove_all(sys / "devices" / ("usb" + port.substr(0, port.find('-'))) / port);
    std::filesystem::remove(sys / "bus/usb/devices" / port);
    std::filesystem::remove(sys / "bus/usb/devices" / (port + ":1.0"));
    std::filesystem::remove(sys / "class/hidraw" / ("hidraw" + std::to_string(minor)));
}
