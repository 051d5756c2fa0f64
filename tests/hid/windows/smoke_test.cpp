// The Windows backends on the real Win32 calls, under Wine: Wine's hid.dll, SetupDi and
// configuration manager answer, with a device tree that holds no box (Wine lists a virtual mouse
// and keyboard of its own as HID interfaces, and no USB device).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/usb_port.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/system_info.h"
#include "platform/utf8.h"
#include "platform/windows/system_info.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {
namespace {

TEST(WindowsSmoke, RealCallsOnTheSystemsOwnDeviceTree) {
    const Win32Calls calls = SystemWin32Calls();
    HidServices services;
    ASSERT_TRUE(calls.LoadHidServices(services)) << "hid.dll is there";
    // Every entry point the transport looks up is exported.
    EXPECT_TRUE(services.HidD_GetAttributes && services.HidD_GetSerialNumberString &&
                services.HidD_GetManufacturerString && services.HidD_GetProductString &&
                services.HidD_SetFeature && services.HidD_GetFeature &&
                services.HidD_GetIndexedString && services.HidD_GetPreparsedData &&
                services.HidD_GetInputReport && services.HidD_FreePreparsedData &&
                services.HidP_GetCaps);

    WindowsHidTransport transport(calls);
    // Whatever HID interfaces the system lists, each has a path that opens; no box is among them.
    hid_device_info* devices = transport.hid_enumerate(0, 0);
    for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
        ASSERT_NE(info->path, nullptr);
        hid_device* device = transport.hid_open_path(info->path, 0);
        ASSERT_NE(device, nullptr) << info->path;
        // A real overlapped read that times out and is cancelled, or takes a report.
        transport.hid_set_nonblocking(device, 1, 50);
        unsigned char report[65] = {};
        const int read = transport.hid_read_int(device, report, sizeof report);
        EXPECT_GE(read, 0) << info->path;
        if (read == 0) {
            EXPECT_EQ(transport.hid_error(device), nullptr);
        }
        wchar_t product[255] = {};
        if (transport.hid_get_product_string(device, product, 255) != 0) {
            EXPECT_NE(transport.hid_error(device), nullptr);
        }
        // Wine's interfaces are on no USB bus: their port is "", and confinement to a port hides
        // them.
        EXPECT_EQ(transport.hid_port(device), "");
        transport.hid_close(device);
        const std::vector<std::string> ports =
            transport.hid_ports(info->vendor_id, info->product_id);
        EXPECT_FALSE(ports.empty());
        EXPECT_EQ(ports, std::vector<std::string>(ports.size(), ""));
        transport.hid_confine_to_port("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)");
        EXPECT_TRUE(transport.hid_ports(info->vendor_id, info->product_id).empty());
        transport.hid_confine_to_port(std::nullopt);
    }
    transport.hid_free_enumeration(devices);
    EXPECT_EQ(transport.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
    EXPECT_EQ(transport.hid_open(0x14E3, 0xF000, nullptr, 1), nullptr);
    EXPECT_TRUE(transport.hid_ports(0x14E3, 0x0706).empty());

    std::ostringstream listing;
    SetupDiDeviceProbe probe(calls, listing);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 0), -1);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 1), -1);
    EXPECT_TRUE(probe.FindDevices(0x0471, 0xDF55).empty());
    // Every USB device examined is listed by its first hardware ID.
    std::istringstream lines(listing.str());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("Path: ", 0), 0U) << line;
    }
}

TEST(WindowsSmoke, DeviceNodesOpenByInstanceIdAndWineGivesNoLocation) {
    const Win32Calls system = SystemWin32Calls();
    Win32Calls calls = system;
    int opened = 0;
    calls.SetupDiOpenDeviceInfoW = [&](auto... arguments) {
        const BOOL ok = system.SetupDiOpenDeviceInfoW(arguments...);
        opened += ok != FALSE ? 1 : 0;
        return ok;
    };
    const HDEVINFO set =
        calls.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD count = 0;
    for (; calls.SetupDiEnumDeviceInfo(set, count, &device) != FALSE; ++count) {
        std::wstring id(MAX_DEVICE_ID_LEN + 1, L'\0');
        ASSERT_EQ(
            calls.CM_Get_Device_IDW(device.DevInst, id.data(), static_cast<ULONG>(id.size()), 0),
            CR_SUCCESS);
        id.resize(id.find(L'\0'));
        EXPECT_EQ(UsbDevicePort(calls, id), "") << WideToUtf8(id);
    }
    calls.SetupDiDestroyDeviceInfoList(set);
    EXPECT_GT(count, 0U) << "Wine lists its own devices";
    EXPECT_EQ(opened, static_cast<int>(count));
}

TEST(WindowsSmoke, NativeArchitecture) {
    // Only x64 picks the 64-bit driver installer, whatever else is 64-bit.
    EXPECT_EQ(MachineOfArchitecture(PROCESSOR_ARCHITECTURE_AMD64), "x86_64");
    EXPECT_EQ(MachineOfArchitecture(PROCESSOR_ARCHITECTURE_INTEL), "i686");
    EXPECT_EQ(MachineOfArchitecture(PROCESSOR_ARCHITECTURE_IA64), "ia64");
    EXPECT_EQ(MachineOfArchitecture(12), "aarch64");
    EXPECT_EQ(MachineOfArchitecture(PROCESSOR_ARCHITECTURE_UNKNOWN), "architecture 65535");
    EXPECT_EQ(NativeMachine(), "x86_64");  // Wine 64-bit on an x86-64 machine
}

TEST(WindowsSmoke, TextPastTheBasicPlaneSurvivesUtf16) {
    // wchar_t is UTF-16 here: a surrogate pair is one character both ways (a product string or a
    // path with an emoji), and a lone surrogate one replacement character.
    const std::string text = "\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToWide(text), L"\u00E9\U0001F600");
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD83D))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ZELKUtil::Hid
