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
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
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

// One USB interface below a device, as the tree's hidraw nodes hang below it.
struct Interface {
    fs::path dir;
    std::string name;
    unsigned vendor;
    unsigned product;
};

// The i-th USB device of the tree (every hundredth a root hub that starts a bus) with its one
// interface: a hub interface for a hub, a HID one otherwise.
class UsbDeviceWriter {
  public:
    UsbDeviceWriter(fs::path sys, fs::path pci) : sys_(std::move(sys)), pci_(std::move(pci)) {}

    // The HID interface it wrote, or nullopt for a root hub.
    std::optional<Interface> Write(int i) {
        const bool rootHub = i % 100 == 0;
        if (rootHub) {
            ++bus_;
            devnum_ = 0;
        }
        ++devnum_;
        const std::string name = rootHub ? "usb" + std::to_string(bus_)
                                         : std::to_string(bus_) + "-" + std::to_string(devnum_);
        const fs::path dir = rootHub ? pci_ / name : busDir_ / name;
        if (rootHub) {
            busDir_ = dir;
        }
        const unsigned vendor = rootHub ? 0x1D6B : kVendors[i % std::size(kVendors)];
        const unsigned product = rootHub ? 0x0002 : 0x1000U + static_cast<unsigned>(i);
        WriteDevice(dir, name, i, rootHub, vendor, product);
        const std::string interfaceName = (rootHub ? std::to_string(bus_) + "-0" : name) + ":1.0";
        const fs::path interfaceDir = dir / interfaceName;
        WriteFile(interfaceDir / "bInterfaceClass", rootHub ? "09\n" : "03\n");
        WriteFile(interfaceDir / "bInterfaceNumber", "00\n");
        WriteFile(interfaceDir / "uevent",
                  std::string("DEVTYPE=usb_interface\nDRIVER=") + (rootHub ? "hub" : "usbhid") +
                      "\nINTERFACE=" + (rootHub ? "9/0/0" : "3/1/1") + "\n");
        Link(interfaceDir / "subsystem", sys_ / "bus/usb");
        Link(sys_ / "bus/usb/devices" / interfaceName, interfaceDir);
        if (rootHub) {
            return std::nullopt;
        }
        return Interface{interfaceDir, interfaceName, vendor, product};
    }

  private:
    void WriteDevice(const fs::path& dir, const std::string& name, int i, bool rootHub,
                     unsigned vendor, unsigned product) const {
        const int minor = (bus_ - 1) * 128 + devnum_ - 1;
        char node[32];
        std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", bus_, devnum_);
        const std::vector<std::pair<std::string, std::string>> attributes = {
            {"idVendor", Hex4(vendor)},
            {"idProduct", Hex4(product)},
            {"bcdDevice", "0100"},
            {"busnum", std::to_string(bus_)},
            {"devnum", std::to_string(devnum_)},
            {"dev", "189:" + std::to_string(minor)},
            {"product", rootHub ? "xHCI Host Controller" : "USB Device " + std::to_string(i)},
            {"manufacturer", "Maker " + Hex4(vendor)},
            {"speed", "480"},
            {"bDeviceClass", rootHub ? "09" : "00"},
            {"bNumInterfaces", " 1"},
        };
        for (const auto& [key, value] : attributes) {
            WriteFile(dir / key, value + "\n");
        }
        WriteFile(dir / "uevent", "MAJOR=189\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" +
                                      node + "\nDEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" +
                                      Hex4(vendor).substr(Hex4(vendor)[0] == '0' ? 1 : 0) + "/" +
                                      Hex4(product) + "/100\nBUSNUM=" + std::to_string(bus_) +
                                      "\nDEVNUM=" + std::to_string(devnum_) + "\n");
        Link(dir / "subsystem", sys_ / "bus/usb");
        Link(sys_ / "bus/usb/devices" / name, dir);
    }

    fs::path sys_;
    fs::path pci_;
    fs::path busDir_;
    int bus_ = 0;
    int devnum_ = 0;
};

// The n-th hidraw node, below a HID interface.
void WriteHidrawNode(const fs::path& root, const Interface& parent, int n) {
    const fs::path sys = root / "sys";
    char hidName[32];
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", parent.vendor, parent.product,
                  static_cast<unsigned>(n + 1));
    const fs::path hidDir = parent.dir / hidName;
    char hidId[40];
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", parent.vendor, parent.product);
    WriteFile(hidDir / "uevent", std::string("DRIVER=hid-generic\nHID_ID=") + hidId +
                                     "\nHID_NAME=USB Device\nHID_PHYS=usb-0000:00:14.0-" +
                                     parent.name + "/input0\nHID_UNIQ=\nMODALIAS=hid:b0003\n");
    Link(hidDir / "subsystem", sys / "bus/hid");
    Link(sys / "bus/hid/devices" / hidName, hidDir);
    const std::string node = "hidraw" + std::to_string(n);
    const fs::path nodeDir = hidDir / "hidraw" / node;
    WriteFile(nodeDir / "dev", "243:" + std::to_string(n) + "\n");
    WriteFile(nodeDir / "uevent",
              "MAJOR=243\nMINOR=" + std::to_string(n) + "\nDEVNAME=" + node + "\n");
    Link(nodeDir / "subsystem", sys / "class/hidraw");
    Link(nodeDir / "device", hidDir);
    Link(sys / "class/hidraw" / node, nodeDir);
    WriteFile(root / "dev" / node, "");
}

}  // namespace

void WriteUsbTree(const std::string& rootText, int usbDevices, int hidrawNodes) {
    const fs::path root(rootText);
    const fs::path sys = root / "sys";
    const fs::path pci = sys / "devices/pci0000:00/0000:00:14.0";
    WriteFile(sys / "devices/pci0000:00/uevent", "");
    WriteFile(pci / "uevent", "DRIVER=xhci_hcd\nPCI_CLASS=C0330\n");
    fs::create_directories(sys / "bus/usb/devices");
    fs::create_directories(sys / "bus/hid/devices");
    fs::create_directories(sys / "class/hidraw");
    fs::create_directories(root / "dev");
    fs::create_directories(root / "run/udev/data");

    UsbDeviceWriter devices(sys, pci);
    std::vector<Interface> interfaces;
    for (int i = 0; i < usbDevices; ++i) {
        if (auto interface = devices.Write(i)) {
            interfaces.push_back(std::move(*interface));
        }
    }
    for (int n = 0; n < hidrawNodes && !interfaces.empty(); ++n) {
        WriteHidrawNode(root, interfaces[static_cast<std::size_t>(n) % interfaces.size()], n);
    }
}

bool RenewFirstDevice(const std::string& sys) {
    for (const char* entry : {"/bus/usb/devices/1-2", "/class/hidraw/hidraw0"}) {
        const fs::path link = sys + entry;
        std::error_code error;
        const fs::path target = fs::read_symlink(link, error);
        if (!error) {
            fs::remove(link, error);
        }
        if (!error) {
            fs::create_symlink(target, link, error);
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", link.c_str(), error.message().c_str());
            return false;
        }
    }
    return true;
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
        if (sysMounted_) {
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
    if (sysMounted_ && ::umount2("/sys", MNT_DETACH) != 0) {
        std::perror("umount /sys");
        return false;
    }
    sysMounted_ = false;
    if (::mount((root + "/sys").c_str(), "/sys", nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        std::perror("bind mount on /sys");
        return false;
    }
    sysMounted_ = true;
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
