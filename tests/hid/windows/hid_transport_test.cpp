#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_windows.h"
#include "hid/windows/windows_hid_transport.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {
namespace {

using Testing::FakeWindows;
using Report = std::vector<std::uint8_t>;

constexpr USHORT kVid = 0x14E3;
constexpr USHORT kPid = 0x0706;

// A 65-byte report: report ID first, then the message bytes first, first + 1, ...
Report MakeReport(std::uint8_t id, std::uint8_t first, std::size_t size = 65) {
    Report report(size, 0);
    report[0] = id;
    for (std::size_t i = 1; i < size; ++i) {
        report[i] = static_cast<std::uint8_t>(first + i - 1);
    }
    return report;
}

struct Rig {
    Rig() {
        windows.hid.push_back(FakeWindows::Interface("\\\\?\\hid#box", kVid, kPid, L"ZELK Q750"));
    }
    FakeWindows windows;
    Win32Calls calls = windows.Calls();
    WindowsHidTransport transport{calls};

    FakeWindows::HidInterface& Box() { return windows.hid[0]; }
    hid_device* OpenBox() {
        hid_device* device = transport.hid_open(kVid, kPid, nullptr, 0);
        transport.hid_set_nonblocking(device, 1, 100);
        return device;
    }
    std::wstring Product(hid_device* device) {
        wchar_t text[255] = {};
        return transport.hid_get_product_string(device, text, 255) == 0 ? text : L"<failed>";
    }
};

std::vector<std::string> Paths(WindowsHidTransport& transport, USHORT vid, USHORT pid) {
    std::vector<std::string> paths;
    hid_device_info* devices = transport.hid_enumerate(vid, pid);
    for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
        EXPECT_EQ(info->serial_number, nullptr);
        EXPECT_EQ(info->product_string, nullptr);
        paths.emplace_back(info->path);
    }
    transport.hid_free_enumeration(devices);
    return paths;
}

TEST(WindowsHidTransport, EnumerationOrderWildcardsAndShareModes) {
    Rig rig;
    rig.windows.hid.push_back(FakeWindows::Interface("\\\\?\\hid#zero", 0x0000, 0x0000, L"Zero"));
    rig.windows.hid.push_back(FakeWindows::Interface("\\\\?\\hid#second", kVid, kPid, L"Second"));
    rig.windows.hid.push_back(
        FakeWindows::Interface("\\\\?\\hid#vendor0", 0x0000, 0x1234, L"Vendor 0"));
    using Paths_ = std::vector<std::string>;
    EXPECT_EQ(Paths(rig.transport, 0, 0), (Paths_{"\\\\?\\hid#box", "\\\\?\\hid#zero",
                                                  "\\\\?\\hid#second", "\\\\?\\hid#vendor0"}));
    EXPECT_EQ(Paths(rig.transport, kVid, kPid), (Paths_{"\\\\?\\hid#box", "\\\\?\\hid#second"}));
    // A zero vendor ID with a product ID is no wildcard.
    EXPECT_EQ(Paths(rig.transport, 0, 0x1234), (Paths_{"\\\\?\\hid#vendor0"}));
    EXPECT_EQ(rig.windows.hidLoads, 1) << "hid.dll is looked up once";

    // The first interface with the IDs; the two zeros open only an interface with IDs 0 and 0.
    hid_device* shared = rig.transport.hid_open(kVid, kPid, nullptr, 0);
    EXPECT_EQ(rig.Product(shared), L"ZELK Q750");
    hid_device* zero = rig.transport.hid_open(0, 0, nullptr, 0);
    EXPECT_EQ(rig.Product(zero), L"Zero");
    rig.transport.hid_close(zero);
    EXPECT_EQ(rig.transport.hid_open(0x1111, 0x2222, nullptr, 0), nullptr);
    // Enumeration entries carry no serial number, so a serial number finds nothing.
    EXPECT_EQ(rig.transport.hid_open(kVid, kPid, L"0001", 0), nullptr);

    // An exclusive open fails while this process holds a shared one ...
    EXPECT_EQ(rig.transport.hid_open(kVid, kPid, nullptr, 1), nullptr);
    rig.transport.hid_close(shared);
    // ... and while it is held, the interface drops out of enumeration and shared opens.
    hid_device* exclusive = rig.transport.hid_open(kVid, kPid, nullptr, 1);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(Paths(rig.transport, kVid, kPid), (Paths_{"\\\\?\\hid#second"}));
    EXPECT_EQ(rig.transport.hid_open_path("\\\\?\\hid#box", 0), nullptr);
    rig.transport.hid_close(exclusive);
    rig.transport.hid_close(nullptr);

    // Only the first interface with the IDs is tried, even when the next one would open.
    // The failure is kept for the controller, with the system's text.
    rig.Box().preparsedFails = true;
    EXPECT_EQ(rig.transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    const std::vector<HidOpenFailure> failures = rig.transport.hid_open_failures();
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].path, "\\\\?\\hid#box");
    EXPECT_EQ(failures[0].error.operation, "HidD_GetPreparsedData");
    EXPECT_EQ(failures[0].error.reason, Windows::SystemErrorText(ERROR_INVALID_DATA));
    hid_device* second = rig.transport.hid_open_path("\\\\?\\hid#second", 0);
    EXPECT_EQ(rig.Product(second), L"Second");
    rig.transport.hid_close(second);
    rig.Box().preparsedFails = false;
    hid_device* again = rig.transport.hid_open(kVid, kPid, nullptr, 0);
    EXPECT_TRUE(rig.transport.hid_open_failures().empty()) << "an open that works clears them";
    rig.transport.hid_close(again);

    EXPECT_EQ(rig.windows.OpenHandles(), 0);
    EXPECT_EQ(rig.windows.preparsedHeld, 0);
}

TEST(WindowsHidTransport, WithoutHidDllEveryOpenFailsCleanly) {
    Rig rig;
    rig.windows.hidDllPresent = false;
    EXPECT_EQ(rig.transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    EXPECT_EQ(rig.transport.hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(rig.transport.hid_open_path("\\\\?\\hid#box", 0), nullptr);
    EXPECT_EQ(rig.windows.hidLoads, 1) << "the attempt is made once, found or not";
    EXPECT_EQ(rig.windows.OpenHandles(), 0);
}

TEST(WindowsHidTransport, InterruptReadsTimeOutCancelAndStripTheReportId) {
    struct Row {
        const char* name;
        std::vector<std::pair<DWORD, Report>> reports;
        bool completesDuringCancel;
        std::size_t length;
        int result;
        Report delivered;  // the first bytes of the buffer afterwards
        std::int64_t waited;
        int cancels;
    };
    const Report numbered = MakeReport(0x5E, 1);
    const Row rows[] = {
        {"report ID 0 stripped", {{0, MakeReport(0, 0x5E)}}, false, 65, 64, {0x5E, 0x5F}, 0, 0},
        {"non-zero first byte kept", {{0, numbered}}, false, 65, 65, {0x5E, 1, 2}, 0, 0},
        {"nothing sent: time-out", {}, false, 65, 0, {0, 0}, 100, 1},
        {"arrives within the time-out", {{60, MakeReport(0, 7)}}, false, 65, 64, {7, 8}, 60, 0},
        {"arrives too late", {{150, MakeReport(0, 7)}}, false, 65, 0, {0, 0}, 100, 1},
        {"completes as it is cancelled", {{150, MakeReport(0, 9)}}, true, 65, 64, {9}, 100, 1},
        {"longer buffer, one input report",
         {{0, MakeReport(0, 3, 100)}},
         false,
         200,
         64,
         {3},
         0,
         0},
        {"a lone zero byte reads as 0", {{0, Report{0}}}, false, 65, 0, {0}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.Box().interruptReports.assign(row.reports.begin(), row.reports.end());
        rig.Box().completesDuringCancel = row.completesDuringCancel;
        hid_device* device = rig.OpenBox();
        ASSERT_NE(device, nullptr);
        std::vector<unsigned char> buffer(row.length, 0);
        EXPECT_EQ(rig.transport.hid_read_int(device, buffer.data(), buffer.size()), row.result);
        EXPECT_EQ(Report(buffer.begin(), buffer.begin() + row.delivered.size()), row.delivered);
        EXPECT_EQ(rig.windows.now, row.waited);
        EXPECT_EQ(rig.windows.cancels, row.cancels);
        EXPECT_EQ(rig.transport.hid_error(device), nullptr) << "a time-out records no text";
        EXPECT_TRUE(rig.windows.Idle()) << "no transfer left in flight";
        rig.transport.hid_close(device);
        EXPECT_EQ(rig.windows.OpenHandles(), 0) << "events and the handle released";
    }
}

TEST(WindowsHidTransport, WritesControlReadsAndStringsAsWindowsAnswersThem) {
    Rig rig;
    rig.Box().controlReport = MakeReport(0, 0x5E);
    hid_device* device = rig.OpenBox();
    ASSERT_NE(device, nullptr);
    const Report report = MakeReport(0, 0x5E);
    unsigned char buffer[65] = {0x77};

    EXPECT_EQ(rig.transport.hid_write(device, report.data(), report.size()), 65);
    EXPECT_EQ(rig.transport.hid_read(device, buffer, sizeof buffer), 64);
    EXPECT_EQ(buffer[0], 0x5E);
    EXPECT_EQ(rig.Product(device), L"ZELK Q750");
    EXPECT_EQ(rig.transport.hid_error(device), nullptr);

    // A write the device does not take is cancelled at its time-out: -2 and the system's text.
    rig.Box().writes = FakeWindows::HidInterface::Writes::Stuck;
    EXPECT_EQ(rig.transport.hid_write(device, report.data(), report.size()), -2);
    EXPECT_EQ(rig.windows.now, 100);
    EXPECT_EQ(rig.windows.cancels, 1);
    ASSERT_NE(rig.transport.hid_error(device), nullptr);
    EXPECT_EQ(std::wstring(rig.transport.hid_error(device)),
              Windows::SystemErrorTextW(ERROR_TIMEOUT));
    rig.Box().writes = FakeWindows::HidInterface::Writes::Fail;
    EXPECT_EQ(rig.transport.hid_write(device, report.data(), report.size()), -1);
    EXPECT_EQ(std::wstring(rig.transport.hid_error(device)),
              Windows::SystemErrorTextW(ERROR_GEN_FAILURE));
    rig.Box().controlReport.reset();
    EXPECT_EQ(rig.transport.hid_read(device, buffer, sizeof buffer), -1);

    // Without a limit, a read waits as long as the report takes.
    rig.transport.hid_set_nonblocking(device, 0, 500);
    rig.Box().interruptReports.push_back({5000, MakeReport(0, 1)});
    EXPECT_EQ(rig.transport.hid_read_int(device, buffer, sizeof buffer), 64);
    EXPECT_EQ(rig.windows.now, 5100);

    // The box unplugged: a read in flight fails at once, and every later call fails too.
    rig.transport.hid_set_nonblocking(device, 1, 100);
    rig.Box().vanishesAfterMs = 30;
    EXPECT_EQ(rig.transport.hid_read_int(device, buffer, sizeof buffer), -1);
    EXPECT_EQ(rig.windows.now, 5130);
    const std::wstring gone = Windows::SystemErrorTextW(ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(std::wstring(rig.transport.hid_error(device)), gone);
    EXPECT_EQ(gone.find(L'\r'), std::wstring::npos) << "the line break is cut off";
    rig.Box().writes = FakeWindows::HidInterface::Writes::Accepted;
    EXPECT_EQ(rig.transport.hid_write(device, report.data(), report.size()), -1);
    EXPECT_EQ(rig.transport.hid_read(device, buffer, sizeof buffer), -1);
    EXPECT_EQ(rig.Product(device), L"<failed>");
    EXPECT_EQ(rig.transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    EXPECT_TRUE(rig.windows.Idle());
    rig.transport.hid_close(device);
    EXPECT_EQ(rig.windows.OpenHandles(), 0);

    // A string that does not fit the caller's capacity fails.
    Rig small;
    hid_device* other = small.OpenBox();
    wchar_t text[4] = {};
    EXPECT_EQ(small.transport.hid_get_product_string(other, text, 4), -1);
    small.transport.hid_close(other);

    // A null record: -1 and nothing touched.
    EXPECT_EQ(small.transport.hid_write(nullptr, report.data(), report.size()), -1);
    EXPECT_EQ(small.transport.hid_read_int(nullptr, buffer, sizeof buffer), -1);
    EXPECT_EQ(small.transport.hid_read(nullptr, buffer, sizeof buffer), -1);
    EXPECT_EQ(small.transport.hid_get_product_string(nullptr, text, 4), -1);
    EXPECT_EQ(small.transport.hid_set_nonblocking(nullptr, 1, 100), -1);
    EXPECT_EQ(small.transport.hid_error(nullptr), nullptr);
}

}  // namespace
}  // namespace ZELKUtil::Hid
