#include "hid/linux/sysfs_device_probe.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sysfs_fixture.h"

namespace ZELKUtil::Hid {
namespace {

class UsbDeviceProbe : public ::testing::Test {
  protected:
    int Find(int verbose = 0) { return probe.FindDevice(0x0471, 0xDF55, verbose); }
    // The bootloaders found, as "port=code" in the order given.
    std::string Matches() {
        std::string text;
        for (const ProbeMatch& match : probe.FindDevices(0x0471, 0xDF55)) {
            text += (text.empty() ? "" : " ") + match.port + "=" + std::to_string(match.code);
        }
        return text;
    }

    SysfsFixture tree;
    std::ostringstream listing;
    SysfsDeviceProbe probe{tree.root() + "/sys", tree.root() + "/run/udev", listing};
};

TEST_F(UsbDeviceProbe, ReadsIdsStatusAndDescriptionFromSysfsAndUdev) {
    EXPECT_EQ(Find(), -1);  // no USB device folder at all
    tree.AddUsbDevice("1-1", "046d", "c077", 2, "E:ID_MODEL=Mouse\n");
    tree.Write("sys/bus/usb/devices/.hidden", "");
    EXPECT_EQ(Find(), -1);
    tree.AddUsbDevice("1-2", "0471", "DF55", 5);  // upper-case hex, no udev record yet
    EXPECT_EQ(Find(), 0);
    tree.Write("run/udev/data/c189:5", "I:1234\nE:DEVTYPE=usb_device\n");
    EXPECT_EQ(Find(), 1);
    tree.Write("run/udev/data/c189:5",
               "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\nE:DEVTYPE=usb_device\n");
    EXPECT_EQ(Find(), 3);

    EXPECT_EQ(Find(1), 3);
    EXPECT_EQ(listing.str(),
              "Path: USB\\VID_046D&PID_C077&REV_0100\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n");
}

TEST_F(UsbDeviceProbe, TakesTheFirstDeviceInEnumerationOrderAndSkipsBadIds) {
    tree.AddUsbDevice("1-9", "0471", "df55", 3,
                      "E:ZELK_DEVICE_DESCRIPTION=USB Device with DFU Capabilities\n");
    tree.AddUsbDevice("1-10", "0471", "df55", 7, "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    tree.AddUsbDevice("1-3", "0x471", "df55", 1, "");  // unreadable vendor ID: no hardware IDs
    tree.AddUsbDevice("1-4", "", "df55", 2, "");
    EXPECT_EQ(Find(), 2);  // device number 3 came before 7, whatever the names say
    EXPECT_EQ(Find(1), 3);
    EXPECT_EQ(listing.str(),
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n");
}

TEST_F(UsbDeviceProbe, FindsEachBoxOnItsPortAndConfinesToOnePort) {
    EXPECT_EQ(Matches(), "");
    tree.AddUsbDevice("2-1", "0471", "df55", 4, "E:ZELK_DEVICE_DESCRIPTION=Orvanta Update\n");
    tree.AddUsbDevice("1-3", "0471", "df55", 9, "E:DEVTYPE=usb_device\n");
    tree.AddUsbDevice("1-2", "14e3", "f000", 3, "");  // a box in the programmer's mode
    tree.AddUsbDevice("1-4.2", "0471", "df55", 2);    // behind a hub, not processed by udev yet
    // Each classified alone, in enumeration order: bus 1 before bus 2, then device number.
    EXPECT_EQ(Matches(), "1-4.2=0 1-3=1 2-1=3");
    EXPECT_EQ(Find(), 0);

    probe.ConfineToPort("2-1");
    EXPECT_EQ(Matches(), "2-1=3");
    EXPECT_EQ(Find(), 3);
    EXPECT_EQ(Find(1), 3);
    EXPECT_EQ(listing.str(), "Path: USB\\VID_0471&PID_DF55&REV_0100\n");  // that device alone
    probe.ConfineToPort("1-2");  // the other box is not in the bootloader
    EXPECT_EQ(Matches(), "");
    EXPECT_EQ(Find(), -1);
    probe.ConfineToPort(std::nullopt);
    EXPECT_EQ(Matches(), "1-4.2=0 1-3=1 2-1=3");
}

}  // namespace
}  // namespace ZELKUtil::Hid
