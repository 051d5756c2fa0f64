// The Windows backends on the real Win32 calls, under Wine: Wine's hid.dll, SetupDi and
// configuration manager answer, with a device tree that holds no box (Wine lists a virtual mouse
// and keyboard of its own as HID interfaces, and no USB device).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "hid/windows/setupdi_device_probe.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/system_info.h"
#include "platform/windows/system_info.h"

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
        transport.hid_close(device);
    }
    transport.hid_free_enumeration(devices);
    EXPECT_EQ(transport.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
    EXPECT_EQ(transport.hid_open(0x14E3, 0xF000, nullptr, 1), nullptr);

    std::ostringstream listing;
    SetupDiDeviceProbe probe(calls, listing);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 0), -1);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 1), -1);
    // Every USB device examined is listed by its first hardware ID.
    std::istringstream lines(listing.str());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("Path: ", 0), 0U) << line;
    }
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

}  // namespace
}  // namespace ZELKUtil::Hid
