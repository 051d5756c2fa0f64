// The bootloader probe through SetupDi over the USB devices that Wine's wineusb.sys presents
// (libusb over the guest's usbfs): the box in its bootloader is a DFU gadget on the dummy USB bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/win32_calls.h"
#include "rig_link.h"

namespace ZELKWineTest {
namespace {

using ZELKUtil::Hid::SetupDiDeviceProbe;

// What the configuration manager and SetupDi say of the first USB device with the bootloader's
// IDs: its node status, as text, and its description ("" when it has none).
struct BootloaderNode {
    std::string status = "no device";
    std::wstring description;
};

BootloaderNode ReadBootloaderNode(const ZELKUtil::Hid::Win32Calls& calls) {
    const HDEVINFO set =
        calls.SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    BootloaderNode node;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; calls.SetupDiEnumDeviceInfo(set, i, &device) != FALSE; ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        calls.CM_Get_Device_IDW(device.DevInst, id, MAX_DEVICE_ID_LEN, 0);
        if (std::wstring(id).find(L"VID_0471&PID_DF55") == std::wstring::npos) {
            continue;
        }
        ULONG status = 0xFFFFFFFF;
        ULONG problem = 0xFFFFFFFF;
        const CONFIGRET result = calls.CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
        char line[160];
        std::snprintf(line, sizeof line,
                      "%ls: CM_Get_DevNode_Status %lu, status 0x%lx, problem %lu", id, result,
                      status, problem);
        node.status = line;
        wchar_t description[256] = {};
        if (calls.SetupDiGetDeviceRegistryPropertyW(
                set, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<PBYTE>(description),
                sizeof description - sizeof(wchar_t), nullptr) != FALSE) {
            node.description = description;
        }
        break;
    }
    calls.SetupDiDestroyDeviceInfoList(set);
    return node;
}

TEST(WineProbe, TheBootloaderIsFoundThroughSetupDi) {
    const ZELKUtil::Hid::Win32Calls calls = ZELKUtil::Hid::SystemWin32Calls();
    std::ostringstream listing;
    SetupDiDeviceProbe probe(calls, listing);
    ASSERT_EQ(Rig("plug bootloader"), "ok");
    ASSERT_TRUE(WaitFor([&] { return probe.FindDevice(0x0471, 0xDF55, 0) != -1; }, 30000));
    const int code = probe.FindDevice(0x0471, 0xDF55, 1);
    const BootloaderNode node = ReadBootloaderNode(calls);
    std::printf("bootloader code %d; %s, description \"%ls\"\n%s", code, node.status.c_str(),
                node.description.c_str(), listing.str().c_str());
    // Windows writes the first hardware ID with the device's revision, and so does Wine.
    EXPECT_NE(listing.str().find("Path: USB\\VID_0471&PID_DF55&REV_0100\n"), std::string::npos);
    // Wine's CM_Get_DevNode_Status is a stub that answers success without writing a status, so
    // the node status reads 0 and only a description decides: a device without a driver has
    // none (code 0, "the driver is not ready", which the road waits on); once the package's
    // driver is installed (the ARM road's test installs it first) it is the package's (3).
    EXPECT_EQ(code, node.description == L"Orvanta Update" ? 3 : 0);
    EXPECT_TRUE(node.description.empty() || node.description == L"Orvanta Update");
    const auto matches = probe.FindDevices(0x0471, 0xDF55);
    ASSERT_EQ(matches.size(), 1U);
    EXPECT_EQ(matches[0].port, "");
    // wineusb.sys removes the device when it goes, but Wine's SetupDi goes on listing it as
    // present (DIGCF_PRESENT does not look at the device's state): written down, not checked.
    ASSERT_EQ(Rig("unplug"), "ok");
    const bool gone = WaitFor([&] { return probe.FindDevice(0x0471, 0xDF55, 0) == -1; }, 5000);
    std::printf("bootloader after the unplug: %s\n", gone ? "gone" : "still listed");
}

}  // namespace
}  // namespace ZELKWineTest
