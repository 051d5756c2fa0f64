// What the Linux backends keep between polls: an answer stays only while the hot-plug monitor
// hears the tree and has reported no change, and never longer than the full-rescan interval; a
// reader that re-reads single devices is handed the changes pinned to them.
#include "hid/device_change_journal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_device_probe.h"
#include "sysfs_fixture.h"

namespace ZELKUtil::Hid {
namespace {

class KeptTree : public ::testing::Test {
  protected:
    void AddBootloader(const std::string& name, int devnum, const char* udev_properties) {
        tree.AddUsbDevice(name, "0471", "df55", devnum, udev_properties);
    }
    void AddHidraw(unsigned minor) {
        const std::string name = "hidraw" + std::to_string(minor);
        const std::string dir = "sys/devices/virtual/hid/" + name;
        tree.Write(dir + "/dev", "243:" + std::to_string(minor) + "\n");
        tree.Write(dir + "/uevent", "DEVNAME=" + name + "\n");
        tree.Write(dir + "/device/uevent", "HID_ID=0003:000014E3:00000706\n");
        tree.Link("sys/class/hidraw/" + name, "../../devices/virtual/hid/" + name);
        tree.Write("dev/" + name, "");
    }
    int Bootloader() { return probe.FindDevice(0x0471, 0xDF55, 0); }
    int Listed() {
        int count = 0;
        hid_device_info* head = transport.hid_enumerate(0x14E3, 0x0706);
        for (const hid_device_info* info = head; info != nullptr; info = info->next) {
            ++count;
        }
        transport.hid_free_enumeration(head);
        return count;
    }

    SysfsFixture tree;
    std::int64_t now_ms = 0;
    bool pending = false;
    DeviceChangeJournal journal{[this] { return now_ms; }};
    std::ostringstream listing;
    SysfsDeviceProbe probe{tree.root() + "/sys", tree.root() + "/run/udev", listing, &journal};
    HidrawTransport transport{tree.root() + "/sys", tree.root() + "/dev", {}, &journal};
};

TEST_F(KeptTree, ProbeKeepsAnAnswerUntilAChangeOnlyWhileUdevIsHeard) {
    journal.Listening(ChangeSource::Processed, [this] { return !pending; });
    EXPECT_EQ(Bootloader(), -1);
    AddBootloader("1-2", 5, "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    EXPECT_EQ(Bootloader(), -1);  // nothing told of the device yet
    pending = true;               // its event waits unread: the tree differs already
    EXPECT_EQ(Bootloader(), 3);
    pending = false;
    EXPECT_EQ(Bootloader(), 3);  // read again: nothing read while an event waited was kept
    AddBootloader("1-1", 3, "E:ZELK_DEVICE_DESCRIPTION=USB Device with DFU Capabilities\n");
    EXPECT_EQ(Bootloader(), 3);  // nothing told of it yet
    journal.DeviceChanged({DeviceChange::Kind::UsbDevice, DeviceChange::Action::Add, "/usb1/1-1"});
    EXPECT_EQ(Bootloader(), 2);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF56, 0), -1);
    EXPECT_EQ(Bootloader(), 2);  // what was kept for other IDs is never taken for these
    tree.Write("run/udev/data/c189:3", "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    journal.Changed();
    EXPECT_EQ(Bootloader(), 3);
    tree.Write("run/udev/data/c189:3", "E:DEVTYPE=usb_device\n");
    now_ms += DeviceChangeJournal::kFullRescanMs - 1;
    EXPECT_EQ(Bootloader(), 3);
    now_ms += 1;  // the safety net: read again however quiet the monitor was
    EXPECT_EQ(Bootloader(), 1);

    // A device udev has not processed yet (code 0) gets its record without a change being told.
    AddBootloader("1-0", 1, nullptr);
    journal.Changed();
    EXPECT_EQ(Bootloader(), 0);
    tree.Write("run/udev/data/c189:1", "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    EXPECT_EQ(Bootloader(), 3);
    EXPECT_EQ(listing.str(), "");
}

TEST_F(KeptTree, ConfiningTheProbeDropsWhatWasKeptForAnotherPort) {
    journal.Listening(ChangeSource::Processed);
    AddBootloader("1-2", 5, "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    AddBootloader("1-1", 3, "E:ZELK_DEVICE_DESCRIPTION=USB Device with DFU Capabilities\n");
    EXPECT_EQ(Bootloader(), 2);
    EXPECT_EQ(probe.FindDevices(0x0471, 0xDF55).size(), 2U);
    probe.ConfineToPort("1-2");
    EXPECT_EQ(Bootloader(), 3);
    ASSERT_EQ(probe.FindDevices(0x0471, 0xDF55).size(), 1U);
    EXPECT_EQ(probe.FindDevices(0x0471, 0xDF55)[0].port, "1-2");
    probe.ConfineToPort(std::nullopt);
    EXPECT_EQ(Bootloader(), 2);
    EXPECT_EQ(probe.FindDevices(0x0471, 0xDF55).size(), 2U);
}

TEST_F(KeptTree, KernelEventsKeepTheHidrawListButNoProbeAnswer) {
    AddBootloader("1-1", 1, "E:DEVTYPE=usb_device\n");
    for (const ChangeSource source : {ChangeSource::None, ChangeSource::Kernel}) {
        journal.Listening(source);
        EXPECT_EQ(Bootloader(), 1);
        // udev's record, which no kernel event tells of.
        tree.Write("run/udev/data/c189:1", "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
        EXPECT_EQ(Bootloader(), 3);
        tree.Write("run/udev/data/c189:1", "E:DEVTYPE=usb_device\n");
    }

    journal.Listening(ChangeSource::Kernel);
    EXPECT_EQ(Listed(), 0);
    AddHidraw(3);
    EXPECT_EQ(Listed(), 0);
    journal.Changed();
    EXPECT_EQ(Listed(), 1);
    // Whether a listed node opens is always tried afresh.
    std::remove((tree.root() + "/dev/hidraw3").c_str());
    EXPECT_EQ(Listed(), 0);
    journal.Listening(ChangeSource::None);
    AddHidraw(4);
    EXPECT_EQ(Listed(), 1);
}

TEST(DeviceChangeJournal, HandsEachReaderThePinnedChangesSinceItReadUntilItMustReadEverything) {
    std::int64_t now_ms = 0;
    DeviceChangeJournal journal{[&] { return now_ms; }};
    journal.Listening(ChangeSource::Kernel);
    // How many changes the reader is handed after `pins` more; -1: it must read everything.
    const auto caughtUp = [&](DeviceChangeJournal::Stamp& stamp, std::size_t pins) {
        for (std::size_t i = 0; i < pins; ++i) {
            journal.DeviceChanged({DeviceChange::Kind::Hidraw, DeviceChange::Action::Add, "/h"});
        }
        const auto changes = journal.CatchUp(stamp, ChangeSource::Kernel);
        return changes ? static_cast<int>(changes->size()) : -1;
    };
    auto early = *journal.Current(ChangeSource::Kernel);
    auto late = early;
    EXPECT_EQ(caughtUp(late, 2), 2);
    EXPECT_EQ(caughtUp(early, 1), 3);  // each reader from where it read
    EXPECT_TRUE(journal.StillTrue(early, ChangeSource::Kernel));
    EXPECT_EQ(journal.CatchUp(early, ChangeSource::Processed), std::nullopt);
    EXPECT_EQ(caughtUp(early, 2 * DeviceChangeJournal::kJournalLength), -1);  // fell behind
    late = *journal.Current(ChangeSource::Kernel);
    journal.Changed();
    EXPECT_EQ(caughtUp(late, 0), -1);
    late = *journal.Current(ChangeSource::Kernel);
    now_ms += DeviceChangeJournal::kFullRescanMs;
    EXPECT_EQ(caughtUp(late, 0), -1);
}

}  // namespace
}  // namespace ZELKUtil::Hid
