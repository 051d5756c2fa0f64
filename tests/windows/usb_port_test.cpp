#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_windows.h"
#include "hid/probe_classification.h"
#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {
namespace {

using Testing::FakeWindows;
using Ports = std::vector<std::string>;
using Matches = std::vector<std::pair<std::string, int>>;

constexpr USHORT kVid = 0x14E3;
constexpr USHORT kPid = 0x0706;
constexpr int kBootVid = 0x0471;
constexpr int kBootPid = 0xDF55;
const std::string kPortA = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
const std::string kPortB = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";

// A USB device with a running driver, its location paths naming the port first ("": none).
FakeWindows::UsbDevice UsbAt(std::wstring instanceId, const std::string& port) {
    FakeWindows::UsbDevice device =
        FakeWindows::Usb(std::vector<std::wstring>{instanceId.substr(0, instanceId.rfind(L'\\'))},
                         L"USB Input Device", kDnDriverLoaded | kDnStarted);
    device.instanceId = std::move(instanceId);
    if (!port.empty()) {
        device.locationPaths = {Windows::Widen(port), L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)"};
    }
    return device;
}

// The box's HID interface, under the USB node usb[parent].
FakeWindows::HidInterface HidUnder(std::size_t parent, const std::string& name) {
    FakeWindows::HidInterface box =
        FakeWindows::Interface("\\\\?\\hid#" + name, kVid, kPid, Windows::Widen(name));
    box.instanceId = L"HID\\VID_14E3&PID_0706\\7&" + Windows::Widen(name) + L"&0&0000";
    box.usbParent = parent;
    return box;
}

Matches Found(SetupDiDeviceProbe& probe, int vendor_id, int product_id) {
    Matches found;
    for (const ProbeMatch& match : probe.FindDevices(vendor_id, product_id)) {
        found.emplace_back(match.port, match.code);
    }
    return found;
}

// One box in its normal mode on port A, another in its bootloader on port B.
TEST(WindowsUsbPorts, TwoBoxesAreToldApartByTheirPorts) {
    FakeWindows windows;
    windows.usb = {UsbAt(L"USB\\VID_14E3&PID_0706\\6&1B2C3D&0&2", kPortA),
                   UsbAt(L"USB\\VID_0471&PID_DF55\\6&1B2C3D&0&3", kPortB)};
    windows.usb[1].description = L"Orvanta Update";
    windows.hid = {HidUnder(0, "box")};
    const Win32Calls calls = windows.Calls();
    WindowsHidTransport transport(calls);
    SetupDiDeviceProbe probe(calls);

    EXPECT_EQ(transport.hid_ports(kVid, kPid), Ports{kPortA});
    EXPECT_EQ(Found(probe, kBootVid, kBootPid), (Matches{{kPortB, 3}}));
    hid_device* box = transport.hid_open(kVid, kPid, nullptr, 0);
    EXPECT_EQ(transport.hid_port(box), kPortA);
    EXPECT_EQ(transport.hid_port(nullptr), "");
    transport.hid_close(box);

    // Confined to B, the box on A is not seen; the bootloader is.
    transport.hid_confine_to_port(kPortB);
    probe.ConfineToPort(kPortB);
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    EXPECT_TRUE(transport.hid_ports(kVid, kPid).empty());
    EXPECT_EQ(probe.FindDevice(kBootVid, kBootPid, 0), 3);
    // Confined to A, the other way round.
    transport.hid_confine_to_port(kPortA);
    probe.ConfineToPort(kPortA);
    box = transport.hid_open(kVid, kPid, nullptr, 0);
    EXPECT_EQ(transport.hid_port(box), kPortA);
    transport.hid_close(box);
    EXPECT_EQ(probe.FindDevice(kBootVid, kBootPid, 1), -1);
    EXPECT_TRUE(probe.FindDevices(kBootVid, kBootPid).empty());
    // "" lifts both limits.
    transport.hid_confine_to_port("");
    probe.ConfineToPort("");
    EXPECT_EQ(transport.hid_ports(kVid, kPid), Ports{kPortA});
    EXPECT_EQ(probe.FindDevice(kBootVid, kBootPid, 0), 3);
    EXPECT_EQ(windows.OpenHandles(), 0);
}

// The port is the USB device's: above a composite device's interface, from the location
// information when the stack gives no paths, "" when it gives neither or there is no USB device.
TEST(WindowsUsbPorts, ThePortIsTheLocationOfTheUsbDevice) {
    const std::string portC = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)";
    const std::string hubPort = "Port_#0005.Hub_#0002";
    FakeWindows windows;
    windows.usb = {UsbAt(L"USB\\VID_14E3&PID_0706\\6&1B2C3D&0&4", portC),
                   UsbAt(L"USB\\VID_14E3&PID_0706&MI_01\\7&2A&0&0001", portC + "#USBMI(1)"),
                   UsbAt(L"USB\\VID_14E3&PID_0706\\6&1B2C3D&0&5", ""),
                   UsbAt(L"USB\\VID_14E3&PID_0706\\6&1B2C3D&0&6", "")};
    windows.usb[1].parent = 0;
    windows.usb[2].locationInformation = Windows::Widen(hubPort);
    windows.hid = {HidUnder(1, "composite"), HidUnder(2, "info"), HidUnder(3, "none"),
                   HidUnder(0, "bluetooth")};
    windows.hid[3].usbParent.reset();
    windows.hid[3].instanceId =
        L"HID\\{00001124-0000-1000-8000-00805F9B34FB}_VID&000214E3_PID&0706\\8&1&0&0000";
    const Win32Calls calls = windows.Calls();
    WindowsHidTransport transport(calls);
    SetupDiDeviceProbe probe(calls);

    const Ports all{portC, hubPort, "", ""};
    EXPECT_EQ(transport.hid_ports(kVid, kPid), all);
    // Held exclusively, an interface shows no attributes; its USB device's IDs still place it.
    hid_device* held = transport.hid_open(kVid, kPid, nullptr, 1);
    EXPECT_EQ(transport.hid_port(held), portC);
    EXPECT_EQ(transport.hid_ports(kVid, kPid), all);
    EXPECT_TRUE(transport.hid_ports(kVid, kPid + 1).empty());
    hid_device* info = transport.hid_open_path("\\\\?\\hid#info", 0);
    EXPECT_EQ(transport.hid_port(info), hubPort);
    transport.hid_close(info);
    transport.hid_close(held);
    // The probe matches the composite device's interface too, at its parent's port.
    EXPECT_EQ(Found(probe, kVid, kPid), (Matches{{portC, 1}, {portC, 1}, {hubPort, 1}, {"", 1}}));
    EXPECT_EQ(windows.OpenHandles(), 0);
}

}  // namespace
}  // namespace ZELKUtil::Hid
