#pragma once

#include <string>

namespace ZELKBench {

// A device tree as sysfs shows it, written into a folder: `usbDevices` USB devices (root hubs
// included, at most 100 per bus), each with one interface, and `hidrawNodes` hidraw nodes below
// the interfaces of the first devices. No device has the box's vendor IDs. The layout is the
// kernel's, with relative links, so that libudev accepts it when it is mounted on /sys.
void WriteUsbTree(const std::string& root, int usbDevices, int hidrawNodes);

// Device paths (as a uevent names them, below /sys) in every tree that WriteUsbTree writes: its
// first USB device after the root hub, that device's interface, and hidraw0, which hangs below it.
constexpr const char* kFirstDevicePath = "/devices/pci0000:00/0000:00:14.0/usb1/1-2";
constexpr const char* kFirstInterfacePath = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
constexpr const char* kFirstHidrawPath =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:05E3:1001.0001/hidraw/hidraw0";

// Makes the entries of that device in <sys>/bus/usb/devices and of hidraw0 in <sys>/class/hidraw
// new ones (new inode numbers, the same targets), as when the device is unplugged and plugged in
// again, so that nothing remembered of them is taken. False with the reason on stderr.
bool RenewFirstDevice(const std::string& sys = "/sys");

// Whether this process runs with umockdev's preload library.
bool UnderUmockdev();
// Runs this program again under umockdev-wrapper; returns only when that fails (1).
int RestartUnderUmockdev(int argc, char** argv, const char* wrapper);

// Makes a tree written below a folder visible where the programs look (/sys). Either bind-mounted
// on /sys in this process's own mount namespace (needs root), or through umockdev's preload
// library, which redirects /sys to $UMOCKDEV_DIR/sys.
class TreeMount {
  public:
    // Sets up the private mount namespace when it can; otherwise expects umockdev's preload.
    TreeMount();
    // Whether this process may make a mount namespace of its own (root, no seccomp veto). Asked
    // in a child, so that this process stays as it is.
    static bool CanBind();
    ~TreeMount();
    TreeMount(const TreeMount&) = delete;
    TreeMount& operator=(const TreeMount&) = delete;

    // How the tree is made visible, for the output.
    std::string Method() const;
    // False: neither a mount namespace nor umockdev's preload is at hand.
    bool Usable() const { return bind_ || umockdev_; }
    // A folder for trees: a private tmpfs with the bind mount, a temporary folder otherwise.
    const std::string& Scratch() const { return scratch_; }
    // The tree below root (root/sys) becomes /sys; false with the reason on stderr.
    bool Show(const std::string& root);
    // Only with the bind mount: a private /run that holds udev/control, so that the product's
    // hot-plug monitor listens to udev's events as it does where systemd-udevd runs.
    bool PretendUdevRuns();

  private:
    bool bind_ = false;
    bool umockdev_ = false;
    bool sysMounted_ = false;
    std::string scratch_;
};

}  // namespace ZELKBench
