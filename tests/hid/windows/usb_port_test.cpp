#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_windows.h"
#include "hid/probe_classification.h"
#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/utf8.h"
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
        device.locationPaths = {Utf8ToWide(port), L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)"};
    }
    return device;
}

// The box's HID interface, under the USB node usb[parent].
FakeWindows::HidInterface HidUnder(std::size_t parent, const std::string& name) {
    FakeWindows::HidInterface box =
        FakeWindows::Interface("\\\\?\\hid#" + name, kVid, kPid, Utf8ToWide(name));
    box.instanceId = L"HID\\VID_14E3&PID_0706\\7&" + Utf8ToWide(name) + L"&0&0000";
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
    transport.hid_confine_to_port(std::nullopt);
    probe.ConfineToPort(std::nullopt);
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
    windows.usb[2].locationInformation = Utf8ToWide(hubPort);
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

// Under a journal that hears the device notifications, a poll that finds nothing changed enumerates
// nothing and opens nothing but the box; a notification, or 10 s, makes the next one read afresh.
TEST(WindowsUsbPorts, WhatWasReadIsKeptUntilADeviceChangeIsHeard) {
    FakeWindows windows;
    windows.usb = {UsbAt(L"USB\\VID_046D&PID_C31C\\5&1&0&1", "k"),
                   UsbAt(L"USB\\VID_046D&PID_C077\\5&1&0&2", "m")};
    windows.hid = {HidUnder(0, "keyboard"), HidUnder(1, "mouse")};
    windows.hid[0].vendor = windows.hid[1].vendor = 0x046D;
    windows.hid[0].product = 0xC31C;
    windows.hid[1].product = 0xC077;
    windows.hid[0].heldExclusively = true;  // as the system holds keyboards
    const Win32Calls calls = windows.Calls();
    DeviceChangeJournal journal([&windows] { return windows.now; });
    WindowsHidTransport transport(calls, &journal);
    SetupDiDeviceProbe probe(calls, std::cout, &journal);
    journal.Listening(ChangeSource::Processed);
    const auto poll = [&] {
        hid_device* box = transport.hid_open(kVid, kPid, nullptr, 0);
        const std::string port = transport.hid_port(box);
        transport.hid_close(box);
        return port + "/" + std::to_string(probe.FindDevice(kBootVid, kBootPid, 0));
    };
    const std::string keyboard = "\\\\?\\hid#keyboard";
    EXPECT_EQ(poll(), "/-1");
    const std::map<std::string, int> cold = windows.opens;
    const int walks = windows.usbEnumerations;
    EXPECT_EQ(poll(), "/-1");
    EXPECT_EQ(transport.hid_ports(0x046D, 0xC077), Ports{"m"});
    EXPECT_EQ(windows.hidEnumerations, 1);
    EXPECT_EQ(windows.usbEnumerations, walks);
    EXPECT_EQ(windows.opens, cold) << "nothing opened again, the held keyboard neither";

    // The box comes: unseen until the notification.
    windows.usb.push_back(UsbAt(L"USB\\VID_14E3&PID_0706\\6&1B2C3D&0&2", kPortA));
    windows.hid.push_back(HidUnder(2, "box"));
    EXPECT_EQ(poll(), "/-1");
    journal.Changed();
    EXPECT_EQ(poll(), kPortA + "/-1");
    // A bootloader whose driver is still coming up (0) is asked about afresh each time; once it
    // runs, its answer is kept.
    windows.usb.push_back(UsbAt(L"USB\\VID_0471&PID_DF55\\6&1B2C3D&0&3", kPortB));
    windows.usb[3].status = 0;
    journal.Changed();
    EXPECT_EQ(poll(), kPortA + "/0");
    windows.usb[3].status = kDnDriverLoaded | kDnStarted;
    windows.usb[3].description = L"Orvanta Update";
    EXPECT_EQ(poll(), kPortA + "/3");
    windows.usb[3].description = L"USB Device with DFU Capabilities";
    EXPECT_EQ(poll(), kPortA + "/3");
    // Held by another program, the box is passed over without a failure, as if unlisted; let go,
    // it is opened again (its USB device has the IDs) with nothing else opened or enumerated.
    windows.hid[2].heldExclusively = true;
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    EXPECT_TRUE(transport.hid_open_failures().empty());
    EXPECT_EQ(windows.hidEnumerations, 3);
    EXPECT_EQ(poll(), "/3");
    EXPECT_EQ(windows.hidEnumerations, 4) << "a kept interface that failed: the list read again";
    windows.hid[2].heldExclusively = false;
    const int keyboardOpens = windows.opens[keyboard];
    EXPECT_EQ(poll(), kPortA + "/3");
    EXPECT_EQ(windows.hidEnumerations, 4);
    EXPECT_EQ(windows.opens[keyboard], keyboardOpens);
    // Kept for no more than 10 s; a change of port drops the probe's answers.
    windows.now += DeviceChangeJournal::kFullRescanMs;
    EXPECT_EQ(poll(), kPortA + "/2");
    windows.usb[3].description = L"Orvanta Update";
    probe.ConfineToPort(kPortB);
    EXPECT_EQ(probe.FindDevice(kBootVid, kBootPid, 0), 3);
    // Unplugged, with the notification: gone at the next poll. Not listening: nothing kept.
    windows.hid[2].vanished = true;
    journal.Changed();
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    journal.Listening(ChangeSource::None);
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    EXPECT_EQ(windows.hidEnumerations, 7);
    EXPECT_EQ(windows.OpenHandles(), 0);
}

}  // namespace
}  // namespace ZELKUtil::Hid
