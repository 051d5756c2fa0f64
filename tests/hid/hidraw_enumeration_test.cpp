#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/linux/hidraw_transport.h"
#include "sysfs_fixture.h"

namespace ZELKUtil::Hid {
namespace {

class HidrawEnumeration : public ::testing::Test {
  protected:
    // A hidraw node as sysfs shows it; with_node false: the /dev node has vanished. With a port,
    // below the USB device on it (on the bus the port begins with) and its interface; without
    // one, a virtual device as uhid makes.
    void AddNode(unsigned minor, const std::string& hid_id, bool with_node = true,
                 const std::string& port = "") {
        const std::string name = "hidraw" + std::to_string(minor);
        std::string dir = "sys/devices/virtual/hid/" + name;
        if (!port.empty()) {
            const std::string usb =
                "sys/devices/pci0000:00/usb" + port.substr(0, port.find('-')) + "/" + port;
            tree.Write(usb + "/idVendor", "14e3\n");
            dir = usb + "/" + port + ":1.0/0003:14E3:0706.000" + std::to_string(minor) + "/" + name;
        }
        tree.Write(dir + "/dev", "243:" + std::to_string(minor) + "\n");
        tree.Write(dir + "/uevent",
                   "MAJOR=243\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" + name + "\n");
        tree.Write(dir + "/device/uevent", "DRIVER=hid-generic\n" + hid_id + "\nHID_NAME=x\n");
        tree.Link("sys/class/hidraw/" + name, "../../" + dir.substr(4));
        if (with_node) {
            tree.Write("dev/" + name, "");
        }
    }

    std::vector<std::string> Listed(unsigned short vendor_id, unsigned short product_id) {
        std::vector<std::string> paths;
        hid_device_info* head = transport.hid_enumerate(vendor_id, product_id);
        for (const hid_device_info* info = head; info != nullptr; info = info->next) {
            EXPECT_EQ(info->serial_number, nullptr);
            paths.push_back(info->path + std::to_string(info->vendor_id) + ":" +
                            std::to_string(info->product_id));
        }
        transport.hid_free_enumeration(head);
        return paths;
    }

    SysfsFixture tree;
    HidrawTransport transport{tree.root() + "/sys", tree.root() + "/dev"};
};

TEST_F(HidrawEnumeration, ListsInMinorOrderWithTheWildcardRule) {
    EXPECT_TRUE(Listed(0, 0).empty());
    AddNode(10, "HID_ID=0003:000014E3:00000706");
    AddNode(2, "HID_ID=0003:000014E3:00000706");
    AddNode(3, "HID_ID=0003:00000000:00000706");
    AddNode(4, "HID_ID=0003:00000000:00000000");
    AddNode(5, "HID_ID=0003:000014E3:00000706", false);  // vanished before the open
    AddNode(6, "HID_ID=0003:0014E3");                    // garbage
    AddNode(7, "HID_IDX=0003:000014E3:00000706");        // no HID_ID
    const std::string dev = tree.root() + "/dev/";

    EXPECT_EQ(Listed(0x14E3, 0x0706),
              (std::vector<std::string>{dev + "hidraw25347:1798", dev + "hidraw105347:1798"}));
    EXPECT_EQ(Listed(0, 0x0706), (std::vector<std::string>{dev + "hidraw30:1798"}));
    EXPECT_EQ(Listed(0, 0),
              (std::vector<std::string>{dev + "hidraw25347:1798", dev + "hidraw30:1798",
                                        dev + "hidraw40:0", dev + "hidraw105347:1798"}));
    EXPECT_TRUE(Listed(0x14E3, 0xF000).empty());
    // The first listed node is taken and no other is tried: a plain file is no hidraw node.
    EXPECT_EQ(transport.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
}

TEST_F(HidrawEnumeration, TellsAndConfinesPortsFromTheNodeList) {
    const std::string normal = "HID_ID=0003:000014E3:00000706";
    AddNode(3, "HID_ID=0003:000014E3:0000F000", true, "1-2");  // a box in the programmer's mode
    AddNode(1, normal, true, "1-1");
    AddNode(5, normal, false, "2-1.4");  // present though its node cannot be opened
    AddNode(0, normal);                  // no USB parent
    const std::string dev = tree.root() + "/dev/";
    EXPECT_EQ(transport.hid_ports(0x14E3, 0x0706), (std::vector<std::string>{"", "1-1", "2-1.4"}));
    EXPECT_EQ(transport.hid_ports(0x14E3, 0xF000), (std::vector<std::string>{"1-2"}));

    // The open tries the node on the port only, here the one that vanished.
    transport.hid_confine_to_port("2-1.4");
    EXPECT_EQ(transport.hid_ports(0x14E3, 0x0706), (std::vector<std::string>{"2-1.4"}));
    EXPECT_TRUE(transport.hid_ports(0x14E3, 0xF000).empty());
    EXPECT_EQ(transport.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
    ASSERT_EQ(transport.hid_open_failures().size(), 1U);
    EXPECT_EQ(transport.hid_open_failures()[0].path, dev + "hidraw5");
    EXPECT_EQ(Listed(0x14E3, 0x0706).size(), 2U);  // an enumeration of its own is not confined
    transport.hid_confine_to_port(
        std::nullopt);  // every port again: the vanished node is noted too
    EXPECT_EQ(transport.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
    ASSERT_EQ(transport.hid_open_failures().size(), 2U);
    EXPECT_EQ(transport.hid_open_failures()[0].path, dev + "hidraw5");
    EXPECT_EQ(transport.hid_open_failures()[1].path, dev + "hidraw0");
}

}  // namespace
}  // namespace ZELKUtil::Hid
