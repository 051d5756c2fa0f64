// The window keeps working while the window's thread waits, and nothing that runs in those waits
// (timer ticks, device changes) reaches into a poll or an operator's exchange with the box: the
// product's wiring with the real clock waiter and an emulated box in real time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "app/form_wiring.h"
#include "app/qt/update_form.h"
#include "box/emulated_box.h"
#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "device/zelk.h"
#include "platform/steady_clock.h"
#include "support/temp_package.h"
#include "time/real_time_clock.h"
#include "tools/emulated_tools.h"

namespace ZELKUtil {
namespace {

// Passes every call on to the emulated box and counts the calls that were given no record: each
// would be a crash in a backend that trusts its caller.
class NullRecordCounter final : public HidTransport {
  public:
    explicit NullRecordCounter(HidTransport& inner) : inner_(inner) {}
    int nullCalls = 0;

    hid_device* hid_open(unsigned short vid, unsigned short pid, const wchar_t* serial,
                         int exclusive) override {
        return inner_.hid_open(vid, pid, serial, exclusive);
    }
    int hid_set_nonblocking(hid_device* d, int nonblock, int timeout) override {
        Count(d);
        return inner_.hid_set_nonblocking(d, nonblock, timeout);
    }
    int hid_write(hid_device* d, const unsigned char* data, std::size_t length) override {
        Count(d);
        return inner_.hid_write(d, data, length);
    }
    int hid_read_int(hid_device* d, unsigned char* data, std::size_t length) override {
        Count(d);
        return inner_.hid_read_int(d, data, length);
    }
    int hid_read(hid_device* d, unsigned char* data, std::size_t length) override {
        Count(d);
        return inner_.hid_read(d, data, length);
    }
    int hid_get_product_string(hid_device* d, wchar_t* string, std::size_t maxlen) override {
        Count(d);
        return inner_.hid_get_product_string(d, string, maxlen);
    }
    void hid_close(hid_device* d) override { inner_.hid_close(d); }
    const wchar_t* hid_error(hid_device* d) override { return inner_.hid_error(d); }
    std::vector<HidOpenFailure> hid_open_failures() override { return inner_.hid_open_failures(); }
    std::string hid_port(hid_device* device) override { return inner_.hid_port(device); }
    std::vector<std::string> hid_ports(unsigned short vendor_id,
                                       unsigned short product_id) override {
        return inner_.hid_ports(vendor_id, product_id);
    }
    void hid_confine_to_port(const std::optional<std::string>& port) override {
        inner_.hid_confine_to_port(port);
    }

  private:
    void Count(const hid_device* d) { nullCalls += d == nullptr ? 1 : 0; }
    HidTransport& inner_;
};

// The product's wiring around an emulated box in real time.
struct LiveWorld {
    explicit LiveWorld(const std::string& id) {
        pkg.Write("CurrentVersion.txt", "2.04\n");
        pkg.Write("a.bin", "a");
        pkg.WriteProgram("Tools/dfu-util", "#!/bin/sh\n");
        pkg.Write("Tools/zelk.config",
                  "<z><detail profile=\"ZELK\" vid=\"0x14E3\" pid=\"0x0706\" id=\"" + id +
                      "\" name=\"ZELK\" LPC3131=\"a.bin\" A3P060=\"\" " + "A3PN060=\"\"/></z>");
        box.SetFirmwareVersion("2.01");
        clock.SetWaiter([this](std::int64_t ms) { form.WaitKeepingWindowAlive(ms); });
        ConnectForm(form, controller);
        controller.InitializeApplication();
        controller.State().driversInstalled = 1;  // straight to the countdown and its wait
        form.show();
    }
    ~LiveWorld() { controller.Dispose(); }
    LiveWorld(const LiveWorld&) = delete;
    LiveWorld& operator=(const LiveWorld&) = delete;

    // Runs `during` from the event loop at the first wait of the window's thread.
    static void AtFirstWait(QObject* context, std::function<void()> during) {
        // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): Qt owns the slot object.
        QTimer::singleShot(0, context, std::move(during));
    }

    Testing::TempPackage pkg;
    ZELKSim::RealTimeClock timeline;
    ZELKSim::EmulatedBox box{timeline};
    ZELKSim::EmulatedHidTransport emulated{box};
    NullRecordCounter hid{emulated};
    ZELKSim::EmulatedDeviceProbe probe{box};
    ZELKSim::EmulatedProcessService tools{timeline, box, pkg.Root()};
    SteadyClock clock;
    ReadPathModes modes;
    ZELK device{hid, probe, clock, modes};
    UpdateForm form;
    UpgradeController controller{{form, clock, device, tools, pkg.Root(), "x86_64"}};
};

TEST(Responsiveness, WaitsKeepTheWindowAliveAndRememberDeviceChanges) {
    LiveWorld world("ZELK");
    int handled = 0;
    std::size_t requestsDuringWait = 0;
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): Qt owns the slot object.
    QTimer::singleShot(300, &world.form, [&] {
        ++handled;
        const std::size_t before = world.box.Requests().size();
        world.controller.Main_OnDeviceChange();
        world.controller.TimerCheck_Tick();
        world.controller.Main_OnDeviceChange();  // several changes make one poll
        requestsDuringWait = world.box.Requests().size() - before;
        world.form.repaint();
    });
    const std::int64_t start = world.clock.NowMs();
    world.controller.CheckForZELK();
    EXPECT_GE(world.clock.NowMs() - start, 1000);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(requestsDuringWait, 0U);
    // The device change ran one poll once the first had returned: the countdown's next step.
    EXPECT_EQ(world.form.LogText(),
              "\r\nZELK Version:      2.01\r\nStarting the upgrade in: 5..4..3..");
}

TEST(Responsiveness, BoxUnpluggedDuringGetStatsNeverLeavesTheExchangeWithoutItsHandle) {
    LiveWorld world("ZELK");
    world.controller.CheckForZELK();
    ASSERT_EQ(world.controller.State().connected, 1);
    world.form.Clear();

    LiveWorld::AtFirstWait(&world.form, [&] {
        world.box.Unplug();
        world.controller.Main_OnDeviceChange();
        world.controller.TimerCheck_Tick();
    });
    world.controller.ButtonDiag_Click();
    EXPECT_EQ(world.hid.nullCalls, 0);
    EXPECT_EQ(world.form.LogText(), "\r\nStatus Information\r\n------------------\r\n");
    // The unplug was seen by the poll that ran after the exchange.
    EXPECT_EQ(world.controller.State().connected, 0);
    EXPECT_EQ(world.form.Text(Control::DeviceLabel), "No device found");
}

TEST(Responsiveness, TickDuringGetStatsLeavesTheAnswerToTheReport) {
    LiveWorld world("Q750");
    world.box.SetEye(1);
    world.controller.UpdateForm_KeyDown(Key::M, true);  // service mode: polls look for eye events
    world.controller.CheckForZELK();
    ASSERT_EQ(world.controller.State().connected, 1);
    world.form.Clear();

    LiveWorld::AtFirstWait(&world.form, [&] { world.controller.TimerCheck_Tick(); });
    world.controller.ButtonDiag_Click();
    EXPECT_EQ(world.hid.nullCalls, 0);
    EXPECT_EQ(world.form.LogText(),
              "\r\nStatus Information\r\n------------------\r\nEye: Right\r\nHardware: 2\r\n"
              "Mains Power: Yes\r\nFrontend Comms: Yes\r\nFrontend Format: Colour\r\n"
              "Video In Detected: Yes\r\nFPGA Version: 0102\r\nVideo Stream Active: Yes - BULK\r\n"
              "Tasker Error: No - 00\r\nI2C Errors: No - 0\r\nUSB Errors: No - 0\r\n"
              "Fpga Vid Width: 720\r\nFpga Vid Height: 576\r\nRings: Off\r\n\r\n"
              "ARM/Fpga programming successful and operational.");
}

}  // namespace
}  // namespace ZELKUtil
