// The hidraw transport against a box that the guest kernel enumerates as a real USB HID device:
// usbhid carries the writes and reads, f_hid answers GET_REPORT as the kernel's gadget does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <future>
#include <thread>

#include "box_rig.h"
#include "device/messages.h"

namespace ZELKKernelTest {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(HidrawGadget, EnumeratesAndOpensSharedAndExclusive) {
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    auto& hid = rig.hid;

    hid_device_info* list = hid.hid_enumerate(0x14E3, 0x0706);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(std::string(list->path).rfind("/dev/hidraw", 0), 0U) << list->path;
    EXPECT_EQ(list->vendor_id, 0x14E3);
    EXPECT_EQ(list->product_id, 0x0706);
    hid.hid_free_enumeration(list);
    list = hid.hid_enumerate(0, 0);
    ASSERT_NE(list, nullptr);
    hid.hid_free_enumeration(list);
    // A zero vendor ID with a product ID is no wildcard.
    EXPECT_EQ(hid.hid_enumerate(0, 0x0706), nullptr);
    EXPECT_EQ(hid.hid_open(0x14E3, 0x0707, nullptr, 0), nullptr);

    hid_device* first = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    hid_device* second = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(hid.hid_open(0x14E3, 0x0706, nullptr, 1), nullptr);
    hid.hid_close(first);
    hid.hid_close(second);
    hid_device* exclusive = hid.hid_open(0x14E3, 0x0706, nullptr, 1);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(hid.hid_open(0x14E3, 0x0706, nullptr, 0), nullptr);
    EXPECT_EQ(hid.hid_enumerate(0x14E3, 0x0706), nullptr);

    // The USB device's product string, as the gadget's string descriptor gives it.
    std::array<wchar_t, 255> name{};
    ASSERT_EQ(hid.hid_get_product_string(exclusive, name.data(), name.size()), 0);
    EXPECT_EQ(std::wstring(name.data()), L"ZELK Q750");
    hid.hid_close(exclusive);
    EXPECT_TRUE(rig.NormalPresent());
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

TEST(HidrawGadget, WritesAndReadsWithTheirTimeOuts) {
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    auto& hid = rig.hid;
    hid_device* box = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    ASSERT_NE(box, nullptr);
    hid.hid_set_nonblocking(box, 1, 100);

    std::array<unsigned char, kReportBufferSize> data{};
    const auto start = Clock::now();
    EXPECT_EQ(hid.hid_read_int(box, data.data(), data.size()), 0);
    EXPECT_GE(ElapsedMs(start), 100);
    EXPECT_EQ(hid.hid_error(box), nullptr);

    const ReportBuffer request = BuildBasicRequest(MSG_GET_VERSION_NUMBER);
    ASSERT_EQ(hid.hid_write(box, request.data(), request.size()), 65);
    // f_hid answers every GET_REPORT with zeros: the report ID and 64 zero bytes, ID stripped.
    data.fill(0xAA);
    ASSERT_EQ(hid.hid_read(box, data.data(), data.size()), 64);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 64, 0), 64);
    // The answer comes on the interrupt pipe, without a report ID.
    data.fill(0);
    int got = 0;
    for (int attempt = 0; attempt < 20 && got == 0; ++attempt) {
        got = hid.hid_read_int(box, data.data(), data.size());
    }
    ASSERT_EQ(got, 64);
    EXPECT_EQ(data[0], kMessageStart);
    EXPECT_EQ(data[6], MSG_VERSION_NUMBER);
    EXPECT_EQ(ReadMessageText(data, 7), "2.01");
    // Asked for less than a report, the read takes only that much.
    const ReportBuffer again = BuildBasicRequest(MSG_GET_VERSION_NUMBER);
    ASSERT_EQ(hid.hid_write(box, again.data(), again.size()), 65);
    got = 0;
    for (int attempt = 0; attempt < 20 && got == 0; ++attempt) {
        got = hid.hid_read_int(box, data.data(), 9);
    }
    EXPECT_EQ(got, 8);
    hid.hid_close(box);
}

TEST(HidrawGadget, WriteToAStuckBoxTimesOutAndWaitsForTheStalledTransfer) {
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    auto& hid = rig.hid;
    hid_device* box = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    ASSERT_NE(box, nullptr);
    hid.hid_set_nonblocking(box, 1, 100);
    const ReportBuffer request = BuildBasicRequest(MSG_GET_SERIAL_NUMBER);

    rig.gadget.HoldHostReports(true);
    // usbhid waits up to 5 s for a stalled interrupt OUT transfer; the write gives up at 100 ms.
    int written = 0;
    auto start = Clock::now();
    for (int i = 0; i < 16 && written != -2; ++i) {
        start = Clock::now();
        written = hid.hid_write(box, request.data(), request.size());
        ASSERT_NE(written, -1) << "write " << i;
    }
    ASSERT_EQ(written, -2);
    EXPECT_GE(ElapsedMs(start), 100);
    ASSERT_NE(hid.hid_error(box), nullptr);
    // The stalled transfer still owns the device: the next write waits its turn and times out.
    start = Clock::now();
    EXPECT_EQ(hid.hid_write(box, request.data(), request.size()), -2);
    EXPECT_GE(ElapsedMs(start), 100);

    rig.gadget.HoldHostReports(false);
    EXPECT_TRUE(
        WaitFor([&] { return hid.hid_write(box, request.data(), request.size()) == 65; }, 15000));
    hid.hid_close(box);
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

TEST(HidrawGadget, TheDeviceClassSettlesOnTheInterruptPipe) {
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    EXPECT_EQ(rig.device.GetVersion(), "2.01");
    EXPECT_EQ(rig.modes.requestWorks, 0);
    EXPECT_EQ(rig.modes.tryIntFirst, 1);
    EXPECT_EQ(rig.device.GetManufacturer(), "ZELK Q750");
    rig.box.SendEyeChangedEvent(1);
    std::string event;
    WaitFor([&] { return !(event = rig.device.CheckEvent()).empty(); }, 5000);
    EXPECT_EQ(event, "Eye: Right");
    EXPECT_EQ(rig.device.CheckForFpgaProg(), 0);

    rig.device.Close();
    rig.box.Plug(ZELKSim::BoxMode::FpgaProgrammer);
    ASSERT_TRUE(WaitFor([&] { return rig.device.CheckForFpgaProg() == 1; }, 20000));
    // The probe leaves nothing open: an exclusive open still succeeds.
    hid_device* programmer = rig.hid.hid_open(0x14E3, 0xF000, nullptr, 1);
    EXPECT_NE(programmer, nullptr);
    rig.hid.hid_close(programmer);
    EXPECT_FALSE(rig.NormalPresent());
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

TEST(HidrawGadget, UnplugDuringAnExchangeFailsEveryCallWithoutHanging) {
    GadgetRig rig;
    ASSERT_TRUE(rig.Plugged());
    auto& hid = rig.hid;
    hid_device* box = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    ASSERT_NE(box, nullptr);
    hid.hid_set_nonblocking(box, 0, 0);  // no limit: only the unplug can end the read
    auto pending = std::async(std::launch::async, [&] {
        std::array<unsigned char, kReportBufferSize> data{};
        return hid.hid_read_int(box, data.data(), data.size());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    rig.box.Unplug();
    if (pending.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // The blocked read would hold the program (and the guest) until the harness gives up.
        std::fprintf(stderr, "FAILURE: an interrupt read outlived the unplug\n");
        std::_Exit(3);
    }
    EXPECT_EQ(pending.get(), -1);

    hid.hid_set_nonblocking(box, 1, 100);
    std::array<unsigned char, kReportBufferSize> data{};
    const ReportBuffer request = BuildBasicRequest(MSG_GET_VERSION_NUMBER);
    EXPECT_LT(hid.hid_write(box, request.data(), request.size()), 0);
    EXPECT_EQ(hid.hid_read(box, data.data(), data.size()), -1);
    EXPECT_EQ(hid.hid_read_int(box, data.data(), data.size()), -1);
    std::array<wchar_t, 255> name{};
    EXPECT_EQ(hid.hid_get_product_string(box, name.data(), name.size()), -1);
    ASSERT_NE(hid.hid_error(box), nullptr);
    EXPECT_GT(std::wcslen(hid.hid_error(box)), 0U);
    hid.hid_close(box);

    // Pulled out between a request and its answer: the device class gives up and closes.
    rig.box.Plug(ZELKSim::BoxMode::Normal);
    ASSERT_TRUE(WaitFor([&] { return rig.NormalPresent(); }, 20000));
    ASSERT_EQ(rig.device.Open(), 1);
    rig.box.UnplugOnNextRequest();
    EXPECT_EQ(rig.device.GetVersion(), "");
    EXPECT_FALSE(rig.device.IsOpen());
    EXPECT_EQ(rig.device.Open(), 0);
    EXPECT_EQ(rig.gadget.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
