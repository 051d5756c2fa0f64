#include "device/zelk.h"

#include <gtest/gtest.h>

#include <memory>

#include "box/emulated_box.h"
#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "time/virtual_clock.h"

namespace {

using ZELKSim::AnswerBehaviour;
using ZELKSim::BoxMode;
using ZELKSim::ControlPipe;
using ZELKSim::EmulatedBox;
using ZELKSim::WriteOutcome;

// One emulated box with the host's device object on it, in virtual time. Boxes that share a
// ReadPathModes stand for several boxes met by one process.
struct Rig {
    Rig(ZELKSim::VirtualClock& clock, ReadPathModes& modes, ZELKSim::BoxIdentity identity = {})
        : box(clock, std::move(identity)),
          transport(box),
          probe(box),
          zelk(transport, probe, clock, modes) {}
    EmulatedBox box;
    ZELKSim::EmulatedHidTransport transport;
    ZELKSim::EmulatedDeviceProbe probe;
    ZELK zelk;
};

class ZelkTest : public ::testing::Test {
  protected:
    ZELKSim::VirtualClock clock;
    ReadPathModes modes;
    Rig rig{clock, modes};
    EmulatedBox& box = rig.box;
    ZELK& zelk = rig.zelk;

    std::int64_t Elapsed(const std::function<void()>& action) {
        const std::int64_t start = clock.NowMs();
        action();
        return clock.NowMs() - start;
    }
};

TEST_F(ZelkTest, GetVersionAnswersAndStaysOpen) {
    box.SetFirmwareVersion("2.4.1");
    EXPECT_EQ(zelk.GetVersion(), "2.4.1");
    EXPECT_TRUE(zelk.IsOpen());
    EXPECT_EQ(box.Requests(), std::vector<std::uint8_t>{MSG_GET_VERSION_NUMBER});
    EXPECT_EQ(box.TimeoutSettings(), 1);

    box.QueueAnswerBehaviour(AnswerBehaviour::WrongId());
    box.QueueAnswerBehaviour(AnswerBehaviour::Silent());
    EXPECT_EQ(zelk.GetVersion(), "2.4.1");  // third attempt
    EXPECT_EQ(box.Requests().size(), 4U);
    EXPECT_TRUE(zelk.IsOpen());
}

TEST_F(ZelkTest, GetVersionGivesUpAfterThreeAttemptsOnASilentBox) {
    // Undecided, control-pipe and interrupt-pipe mode: each attempt lasts about 410 ms or more.
    for (const ReadPathModes before :
         {ReadPathModes{0, 0}, ReadPathModes{1, 0}, ReadPathModes{0, 1}}) {
        ReadPathModes start = before;
        Rig silent(clock, start);
        silent.box.SetAnswerBehaviour(AnswerBehaviour::Silent());
        std::string version = "unset";
        const std::int64_t took = Elapsed([&] { version = silent.zelk.GetVersion(); });
        EXPECT_EQ(version, "");
        EXPECT_FALSE(silent.zelk.IsOpen());
        EXPECT_EQ(silent.box.OpenHandles(), 0);
        EXPECT_EQ(silent.box.Requests().size(), 3U);
        EXPECT_GE(took, 3 * 410);
        EXPECT_LE(took, 3 * (410 + 101 + 1));
        // Silence decides nothing.
        EXPECT_EQ(start.requestWorks, before.requestWorks);
        EXPECT_EQ(start.tryIntFirst, before.tryIntFirst);
    }
}

TEST_F(ZelkTest, GetVersionFailuresCloseTheObject) {
    box.SetAnswerBehaviour(AnswerBehaviour::WrongId());
    EXPECT_EQ(zelk.GetVersion(), "");
    EXPECT_FALSE(zelk.IsOpen());
    EXPECT_EQ(box.Requests().size(), 3U);

    box.SetAnswerBehaviour(AnswerBehaviour::Normal());
    box.SetWriteOutcome(WriteOutcome::Fails);
    EXPECT_EQ(zelk.GetVersion(), "");
    EXPECT_FALSE(zelk.IsOpen());

    box.SetWriteOutcome(WriteOutcome::TimesOut);
    const std::int64_t took = Elapsed([&] { EXPECT_EQ(zelk.GetSerial(), ""); });
    EXPECT_GE(took, 100);  // the write waited out the transport time-out
    EXPECT_FALSE(zelk.IsOpen());

    box.SetWriteOutcome(WriteOutcome::Accepted);
    box.Unplug();
    EXPECT_EQ(zelk.GetVersion(), "");  // Open fails
    EXPECT_FALSE(zelk.IsOpen());
}

TEST_F(ZelkTest, LateAnswersWithinTheDeadlineCount) {
    box.SetFirmwareVersion("3.0");
    box.QueueAnswerBehaviour(AnswerBehaviour::Late(250));
    EXPECT_EQ(zelk.GetVersion(), "3.0");
    EXPECT_EQ(box.Requests().size(), 1U);

    // An answer later than the deadline fails its attempt and is taken by the next one.
    box.QueueAnswerBehaviour(AnswerBehaviour::Late(450));
    box.QueueAnswerBehaviour(AnswerBehaviour::Silent());
    EXPECT_EQ(zelk.GetVersion(), "3.0");
    EXPECT_EQ(box.Requests().size(), 3U);
}

TEST_F(ZelkTest, UnplugDuringAnExchangeClosesTheObject) {
    ASSERT_EQ(zelk.Open(), 1);
    box.UnplugOnNextRequest();
    EXPECT_EQ(zelk.GetDiag(), "");
    EXPECT_FALSE(zelk.IsOpen());
    EXPECT_EQ(box.OpenHandles(), 0);
    EXPECT_EQ(box.Mode(), BoxMode::Absent);
}

TEST_F(ZelkTest, ControlPipeModeIsKeptForTheProcess) {
    EXPECT_NE(zelk.GetVersion(), "");
    EXPECT_EQ(modes.requestWorks, 1);
    EXPECT_EQ(modes.tryIntFirst, 0);
    EXPECT_EQ(box.InterruptReads(), 0);

    // Another box on the same process whose control pipe marks "nothing" with 0x78: in the
    // control-pipe mode that byte means nothing special, so no interrupt read is tried.
    Rig other(clock, modes);
    other.box.SetControlPipe(ControlPipe::AnswersMarker78);
    EXPECT_EQ(other.zelk.GetVersion(), "");
    EXPECT_EQ(other.box.InterruptReads(), 0);
    EXPECT_EQ(modes.tryIntFirst, 0);
}

TEST_F(ZelkTest, InterruptModeIsChosenWhenTheControlPipeDeliversNothing) {
    for (ControlPipe pipe :
         {ControlPipe::AnswersMarker78, ControlPipe::AnswersZero, ControlPipe::Fails}) {
        ReadPathModes fresh;
        Rig rigFresh(clock, fresh);
        rigFresh.box.SetControlPipe(pipe);
        rigFresh.box.SetFirmwareVersion("1.2");
        EXPECT_EQ(rigFresh.zelk.GetVersion(), "1.2");
        EXPECT_EQ(fresh.tryIntFirst, 1);
        EXPECT_EQ(fresh.requestWorks, 0);
        EXPECT_EQ(rigFresh.box.ControlReads(), 1);  // the first pass only

        // The choice survives Close, Open and another box, even one whose control pipe works.
        rigFresh.zelk.Close();
        EXPECT_EQ(rigFresh.zelk.GetSerial(), "000001");
        Rig another(clock, fresh);
        EXPECT_EQ(another.zelk.GetVersion(), "1.0.0");
        EXPECT_EQ(another.box.ControlReads(), 0);
        EXPECT_EQ(rigFresh.box.ControlReads(), 1);
        EXPECT_EQ(fresh.requestWorks, 0);
    }
}

TEST_F(ZelkTest, OpenOnAnOpenObjectKeepsItsHandle) {
    EXPECT_EQ(zelk.Open(), 1);
    zelk.setVid(0x1234);
    zelk.setPid(0x5678);
    EXPECT_EQ(zelk.Open(), 1);
    EXPECT_EQ(box.OpenHandles(), 1);
    EXPECT_EQ(box.TimeoutSettings(), 2);  // re-applied on the open handle
    EXPECT_NE(zelk.GetVersion(), "");     // still talking to the box under its old IDs

    EXPECT_EQ(zelk.Close(), 1);
    EXPECT_EQ(zelk.Close(), 0);
    EXPECT_EQ(zelk.Open(), 0);  // now the new IDs count, and no box has them
    EXPECT_EQ(zelk.getVid(), 0x1234);
    EXPECT_EQ(box.OpenHandles(), 0);
}

TEST_F(ZelkTest, SerialAndEye) {
    box.SetSerial("A1B2C3");
    EXPECT_EQ(zelk.GetSerial(), "A1B2C3");
    // What a box sends can never start a line of the log (a false "Upgrade Complete").
    box.SetSerial("1\r\n\x1b\x7f");
    EXPECT_EQ(zelk.GetSerial(), "1????");
    box.SetFirmwareVersion("2.04\r\nUpgrade Complete");
    EXPECT_EQ(zelk.GetVersion(), "2.04??Upgrade Complete");
    box.SetEye(1);
    EXPECT_EQ(zelk.GetEye(), "Eye: Right");
    box.SetEye(0);
    EXPECT_EQ(zelk.GetEye(), "Eye: Left");
    EXPECT_TRUE(zelk.IsOpen());

    box.SetEye(2);
    EXPECT_EQ(zelk.GetEye(), "");
    EXPECT_FALSE(zelk.IsOpen());

    box.QueueAnswerBehaviour(AnswerBehaviour::WrongId());
    EXPECT_EQ(zelk.GetSerial(), "");
    EXPECT_FALSE(zelk.IsOpen());
}

TEST_F(ZelkTest, LightRingFailuresLeaveTheObjectOpen) {
    EXPECT_EQ(zelk.EnableQ750AutoRing(), 1);
    EXPECT_TRUE(box.RingsOn());

    box.QueueAnswerBehaviour(AnswerBehaviour::Silent());
    EXPECT_EQ(zelk.EnableQ750AutoRing(), 0);
    EXPECT_TRUE(zelk.IsOpen());
    box.SetWriteOutcome(WriteOutcome::Fails);
    EXPECT_EQ(zelk.EnableQ750AutoRing(), 0);
    EXPECT_TRUE(zelk.IsOpen());
}

TEST_F(ZelkTest, SetUsbIdsRefusesTextsThatDoNotFitWithTheirTerminator) {
    EXPECT_EQ(zelk.SetUSBIDs(0x14E3, 0x0707, "SN-12345678"), 1);  // 11 characters
    ASSERT_TRUE(box.StoredIds().has_value());
    EXPECT_EQ(box.StoredIds()->pid, 0x0707);
    EXPECT_EQ(box.StoredIds()->serial, "SN-12345678");
    const std::size_t sent = box.Requests().size();

    EXPECT_EQ(zelk.SetUSBIDs(1, 2, "ABCDEFGHIJKLM"), 0);  // 13
    EXPECT_EQ(zelk.SetUSBIDs(1, 2, "ABCDEFGHIJKL"), 0);   // 12: no room for the zero byte
    EXPECT_EQ(zelk.SetUSBIDs(1, 2, nullptr), 0);
    EXPECT_EQ(box.Requests().size(), sent);
    EXPECT_TRUE(zelk.IsOpen());

    box.QueueAnswerBehaviour(AnswerBehaviour::Silent());
    EXPECT_EQ(zelk.SetUSBIDs(1, 2, "X"), 0);
    EXPECT_FALSE(zelk.IsOpen());
}

TEST_F(ZelkTest, GetDiagDecodesTheAnswerAndSkipsEvents) {
    ZELKSim::DiagnosticsState diag;
    diag.fpga_version = -1;
    box.SetDiagnostics(diag);
    std::string report = zelk.GetDiag();
    EXPECT_NE(report.find("FPGA Version: -0001\r\n"), std::string::npos);
    EXPECT_NE(report.find("Rings: Off\r\n"), std::string::npos);

    // An event the box sends while the answer is on its way is read past.
    box.QueueAnswerBehaviour(AnswerBehaviour::Late(300));
    clock.ScheduleAfter(100, [&] { box.SendErrorEvent(-3); });
    diag.sendsRingState = false;
    box.SetDiagnostics(diag);
    report = zelk.GetDiag();
    EXPECT_NE(report.find("Hardware: 2\r\n"), std::string::npos);
    EXPECT_EQ(report.find("Rings"), std::string::npos);
    EXPECT_TRUE(zelk.IsOpen());

    // A box that keeps sending other messages is given up on.
    ASSERT_EQ(zelk.Open(), 1);
    for (int i = 0; i < ZELK::kMaxSkippedDiagMessages + 1; ++i) {
        box.SendEyeChangedEvent(1);
    }
    EXPECT_EQ(zelk.GetDiag(), "");
    EXPECT_FALSE(zelk.IsOpen());

    box.SetAnswerBehaviour(AnswerBehaviour::Silent());
    EXPECT_EQ(zelk.GetDiag(), "");
    EXPECT_FALSE(zelk.IsOpen());
}

TEST_F(ZelkTest, CheckEventReportsEyeAndErrorEvents) {
    ASSERT_EQ(zelk.Open(), 1);
    EXPECT_EQ(zelk.CheckEvent(), "");
    EXPECT_TRUE(zelk.IsOpen());

    box.SendEyeChangedEvent(0);
    EXPECT_EQ(zelk.CheckEvent(), "Eye: Left");
    box.SendEyeChangedEvent(1);
    EXPECT_EQ(zelk.CheckEvent(), "Eye: Right");
    box.SendEyeChangedEvent(2);
    EXPECT_EQ(zelk.CheckEvent(), "");
    box.SendErrorEvent(-3);  // byte 0xFD
    EXPECT_EQ(zelk.CheckEvent(), "Err: -3");
    box.SendErrorEvent(12);
    EXPECT_EQ(zelk.CheckEvent(), "Err: 12");
    const unsigned char otherEvent[] = {0x5E, 0, 0, 3, 0, 0, 0xEE, 0x07, 0x01, 0xE5};
    box.SendReport(otherEvent);
    EXPECT_EQ(zelk.CheckEvent(), "");

    box.Unplug();  // a failed read leaves the object open
    EXPECT_EQ(zelk.CheckEvent(), "");
    EXPECT_TRUE(zelk.IsOpen());
}

TEST_F(ZelkTest, GetManufacturerGivesTheProductStringInUtf8) {
    box.SetIdentity({0x14E3, 0x0706, L"ZELK Q750 \u00e9\u20ac"});
    EXPECT_EQ(zelk.GetManufacturer(), "ZELK Q750 \xc3\xa9\xe2\x82\xac");
    EXPECT_TRUE(zelk.IsOpen());

    box.Restart(BoxMode::Normal, 50);  // the open handle belongs to the box that left
    EXPECT_EQ(zelk.GetManufacturer(), "");
    EXPECT_FALSE(zelk.IsOpen());
    clock.SleepMs(50);
    EXPECT_NE(zelk.GetManufacturer(), "");
}

TEST_F(ZelkTest, StartBootloaderSendsTheBoxThroughARestart) {
    box.SetRestartMs(2000);
    box.SetDriverState(2);
    EXPECT_EQ(zelk.CheckForBootloader(), -1);
    EXPECT_EQ(zelk.StartBootloader(), 1);
    EXPECT_TRUE(zelk.IsOpen());  // the handle stays stored
    EXPECT_EQ(box.Mode(), BoxMode::Absent);
    EXPECT_EQ(zelk.CheckForBootloader(), -1);
    clock.SleepMs(2000);
    EXPECT_EQ(box.Mode(), BoxMode::Bootloader);
    for (int code : {-1, 0, 1, 2, 3}) {
        box.SetDriverState(code);
        EXPECT_EQ(zelk.CheckForBootloader(), code);
    }
    EXPECT_EQ(zelk.GetVersion(), "");  // the stale handle fails and is closed
    EXPECT_FALSE(zelk.IsOpen());
    EXPECT_EQ(zelk.StartBootloader(), 0);  // nothing to open

    box.CompleteArmDownload("9.9");
    clock.SleepMs(2000);
    EXPECT_EQ(zelk.GetVersion(), "9.9");
    box.SetWriteOutcome(WriteOutcome::Fails);
    EXPECT_EQ(zelk.StartBootloader(), 0);
    EXPECT_TRUE(zelk.IsOpen());
}

TEST_F(ZelkTest, CheckForFpgaProgNeverKeepsAHandle) {
    EXPECT_EQ(zelk.CheckForFpgaProg(), 0);
    box.SetRestartMs(500);
    box.BecomeFpgaProgrammer();
    clock.SleepMs(500);
    EXPECT_EQ(zelk.CheckForFpgaProg(), 1);
    EXPECT_EQ(box.OpenHandles(), 0);

    hid_device* held = rig.transport.hid_open(0x14E3, 0xF000, nullptr, 0);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(zelk.CheckForFpgaProg(), 0);  // the exclusive open fails while it is held
    EXPECT_EQ(box.OpenHandles(), 1);
    rig.transport.hid_close(held);
    EXPECT_EQ(zelk.CheckForFpgaProg(), 1);
    EXPECT_EQ(box.OpenHandles(), 0);
}

}  // namespace
