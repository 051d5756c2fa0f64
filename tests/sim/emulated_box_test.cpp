#include "box/emulated_box.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "device/zelk.h"
#include "support/temp_package.h"
#include "time/real_time_clock.h"
#include "time/road_timer.h"
#include "time/virtual_clock.h"
#include "tools/emulated_tools.h"

namespace {

using ZELKSim::AnswerBehaviour;
using ZELKSim::BoxMode;
using ZELKSim::EmulatedBox;

TEST(VirtualClockTest, RunsDueActionsInTimeOrderAndStopsWhenReady) {
    ZELKSim::VirtualClock clock(1000);
    std::vector<std::string> ran;
    clock.ScheduleAfter(30, [&] { ran.push_back("b"); });
    clock.ScheduleAfter(10, [&] {
        ran.push_back("a");
        clock.ScheduleAfter(5, [&] { ran.push_back("a+5"); });  // due within the same sleep
    });
    clock.ScheduleAfter(30, [&] { ran.push_back("c"); });  // same time: scheduling order
    clock.ScheduleAfter(100, [&] { ran.push_back("late"); });
    clock.SleepMs(50);
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "a+5", "b", "c"}));
    EXPECT_EQ(clock.NowMs(), 1050);

    EXPECT_TRUE(clock.WaitUntil(2000, [&] { return ran.size() == 5; }));
    EXPECT_EQ(clock.NowMs(), 1100);  // at the action that made it true, not the deadline
    EXPECT_FALSE(clock.WaitUntil(1200, [] { return false; }));
    EXPECT_EQ(clock.NowMs(), 1200);

    int owned = 0;
    clock.ScheduleAt(&owned, 1210, [&] { ++owned; });
    clock.CancelAll(&owned);
    clock.SleepMs(20);
    EXPECT_EQ(owned, 0);
}

TEST(EmulatedBoxTest, ModesAndRestartsAsTheProbeAndTransportSeeThem) {
    ZELKSim::VirtualClock clock;
    EmulatedBox box(clock);
    ZELKSim::EmulatedHidTransport transport(box);
    ZELKSim::EmulatedDeviceProbe probe(box);

    EXPECT_EQ(probe.FindDevice(0x14E3, 0x0706, 0), 1);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 0), -1);
    box.Restart(BoxMode::Bootloader, 300);
    clock.SleepMs(299);
    EXPECT_EQ(box.Mode(), BoxMode::Absent);
    clock.SleepMs(1);
    EXPECT_EQ(probe.FindDevice(0x0471, 0xDF55, 0), 3);
    EXPECT_EQ(transport.hid_open(0x0471, 0xDF55, nullptr, 0), nullptr);  // no HID interface

    // A plug-in meanwhile calls off a pending restart.
    box.Restart(BoxMode::FpgaProgrammer, 100);
    box.Plug(BoxMode::Normal);
    clock.SleepMs(200);
    EXPECT_EQ(box.Mode(), BoxMode::Normal);

    box.BecomeFpgaProgrammer();
    clock.SleepMs(EmulatedBox::kDefaultRestartMs);
    box.SetFpgaIdcode(0x1A57);
    box.SetFpgaChecksum(0xBEEF);
    EXPECT_EQ(box.FpgaIdcode(), 0x1A57U);
    EXPECT_EQ(box.FpgaChecksum(), 0xBEEF);
    hid_device* programmer = transport.hid_open(0x14E3, 0xF000, nullptr, 1);
    ASSERT_NE(programmer, nullptr);
    wchar_t product[64];
    EXPECT_EQ(transport.hid_get_product_string(programmer, product, 64), 0);
    EXPECT_EQ(transport.hid_open(0x14E3, 0xF000, nullptr, 0), nullptr);  // held exclusively
    box.Unplug();
    unsigned char report[65] = {};
    EXPECT_EQ(transport.hid_read_int(programmer, report, sizeof report), -1);
    EXPECT_NE(transport.hid_error(programmer), nullptr);
    transport.hid_close(programmer);
    EXPECT_EQ(box.OpenHandles(), 0);
}

TEST(EmulatedBoxTest, WrittenUsbIdsTakeEffectAtTheNextStart) {
    ZELKSim::VirtualClock clock;
    EmulatedBox box(clock);
    ZELKSim::EmulatedHidTransport transport(box);
    ZELKSim::EmulatedDeviceProbe probe(box);
    ReadPathModes modes;
    ZELK zelk(transport, probe, clock, modes);

    ASSERT_EQ(zelk.SetUSBIDs(0x14E3, 0x0708, "NEW001"), 1);
    EXPECT_EQ(zelk.GetSerial(), "000001");  // not before the restart
    box.Restart(BoxMode::Normal, 10);
    clock.SleepMs(10);
    EXPECT_EQ(zelk.GetSerial(), "");  // the handle on the old interface is gone
    EXPECT_EQ(zelk.Open(), 0);        // and nothing answers under the old IDs
    zelk.setPid(0x0708);
    EXPECT_EQ(zelk.GetSerial(), "NEW001");
}

// The live-demo set-up: the box on the wall clock, its late answer delivered by the clock's worker
// thread to an interrupt read that really waits.
TEST(EmulatedBoxTest, RunsInRealTime) {
    ZELKSim::RealTimeClock clock;
    EmulatedBox box(clock);
    ZELKSim::EmulatedHidTransport transport(box);
    ZELKSim::EmulatedDeviceProbe probe(box);
    ReadPathModes modes{0, 1};  // the interrupt pipe, so that the reads wait on the box
    ZELK zelk(transport, probe, clock, modes);

    box.SetFirmwareVersion("7.1");
    box.QueueAnswerBehaviour(AnswerBehaviour::Late(60));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zelk.GetVersion(), "7.1");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));

    box.Restart(BoxMode::Bootloader, 30);
    clock.SleepMs(20);
    clock.WaitUntil(clock.NowMs() + 5000, [&] { return box.Mode() == BoxMode::Bootloader; });
    EXPECT_EQ(zelk.CheckForBootloader(), 3);
}

// A download tool whose box leaves mid-transfer fails as the real one does: its output stops
// short of the end, it exits, and the box keeps its old firmware, also when it is back on the bus
// (in its bootloader) before the tool's next step.
TEST(EmulatedToolsTest, ADownloadNeverFinishesForABoxThatLeft) {
    using ZELKSim::DfuUtilBehaviour;
    ZELKUtil::Testing::TempPackage pkg;
    pkg.Write("CurrentVersion.txt", "2.04\n");
    pkg.WriteProgram("Tools/dfu-util", "");
    pkg.WriteProgram("Tools/DFUAPP", "");
    const std::pair<std::string, DfuUtilBehaviour> tools[] = {
        {"Tools/dfu-util", DfuUtilBehaviour::Works},
        {"Tools/dfu-util", DfuUtilBehaviour::WorksCurrent},
        {"Tools/DFUAPP", DfuUtilBehaviour::Works}};
    for (const auto& [tool, dfuUtil] : tools) {
        for (const bool back : {false, true}) {
            SCOPED_TRACE(tool + (back ? " back at once" : " gone"));
            ZELKSim::VirtualClock clock;
            EmulatedBox box(clock);
            box.SetFirmwareVersion("2.01");
            box.Plug(BoxMode::Bootloader);
            ZELKSim::EmulatedProcessService service(clock, box, pkg.Root());
            service.Settings().dfuUtil = dfuUtil;
            auto started = service.Start(
                {tool, {"-D", "a.bin"}, "", ZELKUtil::StartMode::DirectRedirected, {}});
            ASSERT_TRUE(started) << started.error().Text();
            auto child = std::move(started).value();
            clock.SleepMs(650);  // well into the transfer
            box.Unplug();
            if (back) {
                box.Plug(BoxMode::Bootloader);
            }
            clock.SleepMs(60000);
            EXPECT_TRUE(child->HasExited());
            std::string output;
            while (auto line = child->ReadLine()) {
                output += *line + "\n";
            }
            EXPECT_EQ(output.find("finished"), std::string::npos) << output;
            EXPECT_EQ(output.find("Download done."), std::string::npos) << output;
            EXPECT_EQ(box.FirmwareVersion(), "2.01");
            EXPECT_EQ(box.Mode(), back ? BoxMode::Bootloader : BoxMode::Absent);
        }
    }
}

// The console demo's tool timing: a tool that ends after the timing wrapper has gone (on the
// real-time clock's worker, at the demo's end) is still noted, in the timer alone.
TEST(EmulatedToolsTest, AToolEndingAfterItsTimingWrapperIsNoted) {
    ZELKUtil::Testing::TempPackage pkg;
    pkg.WriteProgram("Tools/dfu-util", "");
    ZELKSim::VirtualClock clock;
    EmulatedBox box(clock);
    box.Plug(BoxMode::Bootloader);
    ZELKSim::RoadTimer road(clock);
    ZELKSim::EmulatedProcessService service(clock, box, pkg.Root());
    std::unique_ptr<ZELKUtil::ChildProcess> child;
    {
        ZELKSim::RoadTools tools(service, road);
        auto started = tools.Start(
            {"Tools/dfu-util", {"-D", "a.bin"}, "", ZELKUtil::StartMode::DirectRedirected, {}});
        ASSERT_TRUE(started) << started.error().Text();
        child = std::move(started).value();
    }
    clock.SleepMs(60000);
    ASSERT_TRUE(child->HasExited());
    const std::string report = road.Report(0, clock.NowMs());
    EXPECT_EQ(report.find("tools 0.00 s"), std::string::npos) << report;
}

}  // namespace
