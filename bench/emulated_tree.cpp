#include "emulated_tree.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZELKBench {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// A relative link at `link` to `target`, both below the same root.
void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFU);
    return text;
}

// Vendors of ordinary desktop devices: hubs, keyboards, mice, storage, cameras.
constexpr unsigned kVendors[] = {0x046D, 0x05E3, 0x0BDA, 0x8087, 0x1050, 0x04F2, 0x0781, 0x045E};

}  // namespace

void WriteUsbTree(const std::string& root_text, int usb_devices, int hidraw_nodes) {
    const fs::path root(root_text);
    const fs::path sys = root / "sys";
    const fs::path pci = sys / "devices/pci0000:00/0000:00:14.0";
    WriteFile(sys / "devices/pci0000:00/uevent", "");
    WriteFile(pci / "uevent", "DRIVER=xhci_hcd\nPCI_CLASS=C0330\n");
    fs::create_directories(sys / "bus/usb/devices");
    fs::create_directories(sys / "bus/hid/devices");
    fs::create_directories(sys / "class/hidraw");
    fs::create_directories(root / "dev");
    fs::create_directories(root / "run/udev/data");

    struct Interface {
        fs::path dir;
        std::string name;
        unsigned vendor;
        unsigned product;
    };
    std::vector<Interface> interfaces;
    fs::path bus_dir;
    int bus = 0;
    int devnum = 0;
    for (int i = 0; i < usb_devices; ++i) {
        const bool root_hub = i % 100 == 0;
        if (root_hub) {
            ++bus;
            devnum = 0;
        }
        ++devnum;
        const std::string name = root_hub ? "usb" + std::to_string(bus)
                                          : std::to_string(bus) + "-" + std::to_string(devnum);
        const fs::path dir = root_hub ? pci / name : bus_dir / name;
        if (root_hub) {
            bus_dir = dir;
        }
        const unsigned vendor = root_hub ? 0x1D6B : kVendors[i % std::size(kVendors)];
        const unsigned product = root_hub ? 0x0002 : 0x1000U + static_cast<unsigned>(i);
        const int minor = (bus - 1) * 128 + devnum - 1;
        char node[32];
        std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", bus, devnum);
        const std::vector<std::pair<std::string, std::string>> attributes = {
            {"idVendor", Hex4(vendor)},
            {"idProduct", Hex4(product)},
            {"bcdDevice", "0100"},
            {"busnum", std::to_string(bus)},
            {"devnum", std::to_string(devnum)},
            {"dev", "189:" + std::to_string(minor)},
            {"product", root_hub ? "xHCI Host Controller" : "USB Device " + std::to_string(i)},
            {"manufacturer", "Maker " + Hex4(vendor)},
            {"speed", "480"},
            {"bDeviceClass", root_hub ? "09" : "00"},
            {"bNumInterfaces", " 1"},
        };
        for (const auto& [key, value] : attributes) {
            WriteFile(dir / key, value + "\n");
        }
        WriteFile(dir / "uevent", "MAJOR=189\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" +
                                      node + "\nDEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" +
                                      Hex4(vendor).substr(Hex4(vendor)[0] == '0' ? 1 : 0) + "/" +
                                      Hex4(product) + "/100\nBUSNUM=" + std::to_string(bus) +
                                      "\nDEVNUM=" + std::to_string(devnum) + "\n");
        Link(dir / "subsystem", sys / "bus/usb");
        Link(sys / "bus/usb/devices" / name, dir);
        // Every device has an interface; hubs' are hub interfaces, the others' HID ones.
        const std::string interface_name = (root_hub ? std::to_string(bus) + "-0" : name) + ":1.0";
        const fs::path interface_dir = dir / interface_name;
        WriteFile(interface_dir / "bInterfaceClass", root_hub ? "09\n" : "03\n");
        WriteFile(interface_dir / "bInterfaceNumber", "00\n");
        WriteFile(interface_dir / "uevent",
                  std::string("DEVTYPE=usb_interface\nDRIVER=") + (root_hub ? "hub" : "usbhid") +
                      "\nINTERFACE=" + (root_hub ? "9/0/0" : "3/1/1") + "\n");
        Link(interface_dir / "subsystem", sys / "bus/usb");
        Link(sys / "bus/usb/devices" / interface_name, interface_dir);
        if (!root_hub) {
            interfaces.push_back({interface_dir, interface_name, vendor, product});
        }
    }

    for (int n = 0; n < hidraw_nodes && !interfaces.empty(); ++n) {
        const Interface& parent = interfaces[static_cast<std::size_t>(n) % interfaces.size()];
        char hid_name[32];
        std::snprintf(hid_name, sizeof hid_name, "0003:%04X:%04X.%04X", parent.vendor,
                      parent.product, static_cast<unsigned>(n + 1));
        const fs::path hid_dir = parent.dir / hid_name;
        char hid_id[40];
        std::snprintf(hid_id, sizeof hid_id, "0003:%08X:%08X", parent.vendor, parent.product);
        WriteFile(hid_dir / "uevent", std::string("DRIVER=hid-generic\nHID_ID=") + hid_id +
                                          "\nHID_NAME=USB Device\nHID_PHYS=usb-0000:00:14.0-" +
                                          parent.name + "/input0\nHID_UNIQ=\nMODALIAS=hid:b0003\n");
        Link(hid_dir / "subsystem", sys / "bus/hid");
        Link(sys / "bus/hid/devices" / hid_name, hid_dir);
        const std::string node = "hidraw" + std::to_string(n);
        const fs::path node_dir = hid_dir / "hidraw" / node;
        WriteFile(node_dir / "dev", "243:" + std::to_string(n) + "\n");
        WriteFile(node_dir / "uevent",
                  "MAJOR=243\nMINOR=" + std::to_string(n) + "\nDEVNAME=" + node + "\n");
        Link(node_dir / "subsystem", sys / "class/hidraw");
        Link(node_dir / "device", hid_dir);
        Link(sys / "class/hidraw" / node, node_dir);
        WriteFile(root / "dev" / node, "");
    }
}

bool UnderUmockdev() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "umockdev") != nullptr;
}

int RestartUnderUmockdev(int argc, char** argv, const char* wrapper) {
    std::vector<char*> args{const_cast<char*>(wrapper)};
    args.insert(args.end(), argv, argv + argc);
    args.push_back(nullptr);
    ::execv(wrapper, args.data());
    std::perror("umockdev-wrapper");
    return 1;
}

bool TreeMount::CanBind() {
    const pid_t child = ::fork();
    if (child == 0) {
        _exit(::unshare(CLONE_NEWNS) == 0 &&
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TreeMount::TreeMount() {
    char scratch[] = "/tmp/zelk-bench-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    scratch_ = scratch;
    // Everything mounted from here on is this process's own and vanishes with it.
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount("zelk-bench", scratch_.c_str(), "tmpfs", 0, "mode=0755") == 0) {
        bind_ = true;
        return;
    }
    umockdev_ = UnderUmockdev();
}

TreeMount::~TreeMount() {
    std::error_code ignored;
    if (bind_) {
        if (sys_mounted_) {
            ::umount2("/sys", MNT_DETACH);
        }
        ::umount2(scratch_.c_str(), MNT_DETACH);
    } else {
        fs::remove_all(scratch_, ignored);
    }
    fs::remove(scratch_, ignored);
}

std::string TreeMount::Method() const {
    if (bind_) {
        return "tree bind-mounted on /sys in a private mount namespace (tmpfs)";
    }
    if (umockdev_) {
        return "tree through umockdev's preload library (UMOCKDEV_DIR)";
    }
    return "no emulated tree (neither a mount namespace nor umockdev)";
}

bool TreeMount::Show(const std::string& root) {
    if (umockdev_) {
        return ::setenv("UMOCKDEV_DIR", root.c_str(), 1) == 0;
    }
    if (!bind_) {
        return false;
    }
    if (sys_mounted_ && ::umount2("/sys", MNT_DETACH) != 0) {
        std::perror("umount /sys");
        return false;
    }
    sys_mounted_ = false;
    if (::mount((root + "/sys").c_str(), "/sys", nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        std::perror("bind mount on /sys");
        return false;
    }
    sys_mounted_ = true;
    return true;
}

bool TreeMount::PretendUdevRuns() {
    if (!bind_) {
        return false;
    }
    const std::string run = scratch_ + "/run";
    fs::create_directories(run + "/udev/data");
    WriteFile(run + "/udev/control", "");
    if (::mount(run.c_str(), "/run", nullptr, MS_BIND, nullptr) != 0) {
        std::perror("bind mount on /run");
        return false;
    }
    return true;
}

}  // namespace ZELKBench
