#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_windows.h"
#include "hid/probe_classification.h"
#include "hid/windows/setupdi_device_probe.h"

namespace ZELKUtil::Hid {
namespace {

using Testing::FakeWindows;
using Device = FakeWindows::UsbDevice;
using Ids = std::vector<std::wstring>;

constexpr ULONG kRunning = kDnDriverLoaded | kDnStarted;
const std::wstring kBootloader = L"USB\\VID_0471&PID_DF55&REV_0100";
const std::wstring kOther = L"USB\\VID_046D&PID_C52B&REV_1201";

// A hardware-ID list that needs exactly `bytes` bytes (UTF-16, terminators included).
Ids IdsOfSize(std::size_t bytes) {
    const std::size_t units = bytes / 2 - 2;  // the ID's terminator and the list's
    return {kBootloader + std::wstring(units - kBootloader.size(), L'X')};
}

Device Boot(ULONG status, std::optional<std::wstring> description = L"Unknown device") {
    return FakeWindows::Usb(Ids{kBootloader, L"USB\\VID_0471&PID_DF55"}, std::move(description),
                            status);
}

// What the probe reads from the device tree and how; the codes' rules are the shared classifier's
// own tests.
TEST(SetupDiDeviceProbe, CodesFromTheDeviceTreeAsWindowsReportsIt) {
    struct Row {
        const char* name;
        std::vector<Device> devices;
        int code;
    };
    Device stub = Boot(kRunning);
    stub.statusStub = true;
    Device oversizedDescription = Boot(kRunning, L"Orvanta Update" + std::wstring(220, L' '));
    const Row rows[] = {
        {"nothing present", {}, -1},
        {"no driver: the node has a problem", {Boot(kRunning | kDnHasProblem)}, 0},
        {"a driver of neither kind runs", {Boot(kRunning)}, 1},
        {"the package's text", {Boot(kRunning | kDnHasProblem, L"Orvanta Update")}, 3},
        {"no description", {Boot(kRunning, std::nullopt)}, 1},
        {"a description past the buffer counts as none", {oversizedDescription}, 1},
        {"status query answers without writing", {stub}, 0},
        {"hardware IDs unreadable",
         {FakeWindows::Usb(std::nullopt, L"Orvanta Update", kRunning)},
         -1},
        {"hardware IDs of 460 bytes", {FakeWindows::Usb(IdsOfSize(460), L"x", kRunning)}, 1},
        {"hardware IDs of 462 bytes",
         {FakeWindows::Usb(IdsOfSize(462), L"Orvanta Update", kRunning)},
         -1},
        {"the first match decides",
         {Boot(kRunning | kDnHasProblem), Boot(0, L"Orvanta Update")},
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeWindows windows;
        windows.usb = row.devices;
        const Win32Calls calls = windows.Calls();
        SetupDiDeviceProbe probe(calls);
        EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 0), row.code);
        EXPECT_EQ(windows.usbEnumerator, L"USB");
        EXPECT_EQ(windows.usbFlags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_ALLCLASSES));
        EXPECT_EQ(windows.OpenHandles(), 0) << "the set is released";
        if (row.devices.size() == 2) {
            EXPECT_EQ(windows.usb[1].propertyReads, 0) << "stopping mode reads past the match";
        }
    }
    FakeWindows unavailable;
    unavailable.deviceSetAvailable = false;
    const Win32Calls calls = unavailable.Calls();
    EXPECT_EQ(SetupDiDeviceProbe(calls).FindDevice(0x0471, 0xDF55, 0), -1);
}

TEST(SetupDiDeviceProbe, ListingModeWalksEveryDeviceWithOneRunningCode) {
    FakeWindows windows;
    windows.usb = {FakeWindows::Usb(Ids{kOther}, L"Receiver", kRunning), Boot(0, L"Orvanta Update"),
                   FakeWindows::Usb(IdsOfSize(500), L"x", 0),
                   FakeWindows::Usb(std::nullopt, L"x", 0), Boot(kRunning, L"other")};
    const Win32Calls calls = windows.Calls();
    std::ostringstream listing;
    SetupDiDeviceProbe probe(calls, listing);
    // The third device's oversized list clears the match seen; the last match sets it again and
    // its running driver makes 1 of the code it inherits.
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 1), 1);
    EXPECT_EQ(listing.str(),
              "Path: USB\\VID_046D&PID_C52B&REV_1201\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n");
    EXPECT_EQ(windows.OpenHandles(), 0);
}

}  // namespace
}  // namespace ZELKUtil::Hid
