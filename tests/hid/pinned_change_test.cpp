// Both Linux backends after changes pinned to single devices: what they keep is brought up to date
// by re-reading only the devices named, and equals what a full read of the tree finds.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "sysfs_fixture.h"

namespace ZELKUtil::Hid {
namespace {

using Kind = DeviceChange::Kind;
using Action = DeviceChange::Action;

// The files opened below a folder since the last Take, by the folder each lies in (inotify).
class Opens {
  public:
    explicit Opens(const std::string& root) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        std::vector<std::string> folders{root};
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_directory() && !entry.is_symlink()) {
                folders.push_back(entry.path().string());
            }
        }
        for (const std::string& folder : folders) {
            const int wd = ::inotify_add_watch(fd_, folder.c_str(), IN_OPEN);
            EXPECT_GE(wd, 0) << folder;
            folders_[wd] = folder;
        }
    }
    ~Opens() { ::close(fd_); }

    std::vector<std::string> Take() {
        std::vector<std::string> folders;
        alignas(inotify_event) char buffer[16384];  // far more than a poll's opens
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        EXPECT_TRUE(got > 0 || errno == EAGAIN);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_ISDIR) == 0) {
                folders.push_back(folders_[event->wd]);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        return folders;
    }

  private:
    int fd_;
    std::map<int, std::string> folders_;
};

class PinnedChanges : public ::testing::Test {
  protected:
    // A USB device on the port (bus 1) with its udev record, and a hidraw node below it when minor
    // is not negative.
    void Plug(const std::string& port, const std::string& vendor, const std::string& product,
              int devnum, int minor = -1, const char* udev = "E:DEVTYPE=usb_device\n") {
        tree.AddUsbDevice(port, vendor, product, devnum, udev, minor);
    }
    void Unplug(const std::string& port, int minor = -1) { tree.RemoveUsbDevice(port, minor); }
    void Tell(Kind kind, Action action, const std::string& name) {
        journal.DeviceChanged({kind, action, "/devices/usb1/" + name});
    }

    // What the poll asks of the transport and the probe, as one text.
    static std::string Seen(HidrawTransport& hid, SysfsDeviceProbe& probe) {
        std::ostringstream text;
        hid_device_info* head = hid.hid_enumerate(0, 0);
        for (const hid_device_info* info = head; info != nullptr; info = info->next) {
            text << info->path << "=" << info->vendor_id << ":" << info->product_id << " ";
        }
        hid.hid_free_enumeration(head);
        for (const int product : {0x0706, 0xF000}) {
            for (const std::string& port :
                 hid.hid_ports(0x14E3, static_cast<unsigned short>(product))) {
                text << product << "@" << port << " ";
            }
        }
        text << "bootloader " << probe.FindDevice(0x0471, 0xDF55, 0);
        for (const ProbeMatch& match : probe.FindDevices(0x0471, 0xDF55)) {
            text << " " << match.port << "=" << match.code;
        }
        return text.str();
    }
    std::string Kept() { return Seen(transport, probe); }
    std::string ReadWhole() {
        HidrawTransport hid(tree.root() + "/sys", tree.root() + "/dev");
        SysfsDeviceProbe fresh(tree.root() + "/sys", tree.root() + "/run/udev", listing);
        return Seen(hid, fresh);
    }

    SysfsFixture tree;
    DeviceChangeJournal journal;
    std::ostringstream listing;
    SysfsDeviceProbe probe{tree.root() + "/sys", tree.root() + "/run/udev", listing, &journal};
    HidrawTransport transport{tree.root() + "/sys", tree.root() + "/dev", {}, &journal};
};

TEST_F(PinnedChanges, BoxChangingModesAmongManyDevicesIsSeenAsAFullReadSeesIt) {
    journal.Listening(ChangeSource::Processed);
    for (int i = 2; i < 42; ++i) {
        Plug("1-" + std::to_string(i), "046d", "c077", i, i % 3 == 0 ? i : -1);
    }
    Plug("1-50", "14e3", "0706", 50, 50);  // the box in normal mode
    ASSERT_EQ(Kept(), ReadWhole());

    // Each device plugged in is read once however many events tell of it, and no other is read.
    Plug("1-44", "046d", "c077", 44, 44);
    Plug("1-45", "046d", "c077", 45, 45);
    Opens opens(tree.root() + "/sys/devices");
    Tell(Kind::UsbDevice, Action::Add, "1-44");
    Tell(Kind::Hidraw, Action::Add, "1-44/1-44:1.0/0003:046d.0001/hidraw44");
    Kept();
    const auto once = opens.Take();
    for (const Action action : {Action::Add, Action::Change, Action::Remove, Action::Add}) {
        Tell(Kind::UsbDevice, action, "1-45");
        Tell(Kind::UsbInterface, action, "1-45/1-45:1.0");
        Tell(Kind::Hidraw, action, "1-45/1-45:1.0/0003:046d.0001/hidraw45");
    }
    Kept();
    const auto burst = opens.Take();
    EXPECT_EQ(burst.size(), once.size());
    EXPECT_FALSE(once.empty());
    const auto outside = [](const std::vector<std::string>& folders, const std::string& port) {
        return std::count_if(folders.begin(), folders.end(), [&](const std::string& folder) {
            return folder.find("/usb1/" + port) == std::string::npos;
        });
    };
    EXPECT_EQ(outside(once, "1-44") + outside(burst, "1-45"), 0);
    EXPECT_EQ(Kept(), ReadWhole());

    // It leaves for the programmer's mode (other IDs, a lower node number), then the bootloader.
    Unplug("1-50", 50);
    Tell(Kind::Hidraw, Action::Remove, "1-50/1-50:1.0/0003:14e3.0001/hidraw50");
    Tell(Kind::UsbDevice, Action::Remove, "1-50");
    EXPECT_EQ(Kept(), ReadWhole());
    Plug("1-50", "14e3", "f000", 51, 1);
    Tell(Kind::UsbDevice, Action::Add, "1-50");
    Tell(Kind::Hidraw, Action::Add, "1-50/1-50:1.0/0003:14e3.0001/hidraw1");
    EXPECT_EQ(Kept(), ReadWhole());
    EXPECT_NE(Kept().find("61440@1-50 bootloader -1"), std::string::npos) << Kept();
    Unplug("1-50", 1);
    Plug("1-50", "0471", "df55", 52, -1, "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    Plug("1-60", "0471", "df55", 1);  // enumerated before it, though its name sorts after
    for (const char* port : {"1-50", "1-60"}) {
        Tell(Kind::UsbDevice, Action::Add, port);
    }
    Tell(Kind::Hidraw, Action::Remove, "1-50/1-50:1.0/0003:14e3.0001/hidraw1");
    EXPECT_EQ(Kept(), ReadWhole());
    EXPECT_NE(Kept().find("bootloader 1 1-60=1 1-50=3"), std::string::npos) << Kept();
}

}  // namespace
}  // namespace ZELKUtil::Hid
