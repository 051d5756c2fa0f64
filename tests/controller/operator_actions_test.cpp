#include <gtest/gtest.h>

#include "support/controller_rig.h"

namespace ZELKUtil {
namespace {

using Testing::ControllerRig;
using Testing::Detail;

struct Rig : ControllerRig {
    // arm, fpga: whether the package holds those images.
    Rig(bool arm, bool fpga) : ControllerRig(Identity()) {
        pkg.Write("a.bin", "a");
        pkg.Write("f.stp", "f");
        Package("2.04",
                Detail("ZELK Q750", "Q750", "ZELK Q750", arm ? "a.bin" : "", fpga ? "f.stp" : ""));
        Start();
    }
    static ZELKSim::BoxIdentity Identity() {
        ZELKSim::BoxIdentity identity;
        identity.product = L"ZELK Q750";
        return identity;
    }
};

TEST(ServiceMode, ShowsWhatThePackageCanProgramOnce) {
    struct Row {
        bool arm, fpga;
        bool armShown, fpgaShown, armChecked;
    };
    const Row rows[] = {
        {true, true, true, true, false},
        {true, false, true, false, false},
        {false, true, false, true, false},
        {false, false, true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.arm) + std::to_string(row.fpga));
        Rig rig(row.arm, row.fpga);
        rig.controller->UpdateForm_KeyDown(Key::M, false);
        EXPECT_FALSE(rig.view.Shown(Control::ButtonForce));
        rig.controller->UpdateForm_KeyDown(Key::M, true);
        rig.controller->UpdateForm_KeyDown(Key::M, true);
        EXPECT_EQ(rig.State().diagOutput, 1);
        for (Control c : {Control::ButtonDiag, Control::buttonRestart, Control::ButtonForce,
                          Control::ButtonAutoRings, Control::LabelEye}) {
            EXPECT_TRUE(rig.view.Shown(c));
        }
        EXPECT_EQ(rig.view.Shown(Control::CheckProgramArm), row.armShown);
        EXPECT_EQ(rig.view.Shown(Control::CheckProgramFPGA), row.fpgaShown);
        EXPECT_EQ(rig.view.Checked(Control::CheckProgramArm), row.armChecked);
        EXPECT_EQ(rig.view.LogHeight(), 239 - 21);  // shortened once
        EXPECT_EQ(rig.view.log, "");
    }
}

TEST(Shortcuts, SpeedToggleAndClearingTheLog) {
    Rig rig(true, true);
    rig.controller->UpdateForm_KeyDown(Key::S, true);
    rig.controller->UpdateForm_KeyDown(Key::S, false);  // no Ctrl: nothing
    rig.controller->UpdateForm_KeyDown(Key::S, true);
    EXPECT_EQ(rig.view.log,
              "\r\nSetting Slow mode for FPGA programming"
              "\r\nSetting Fast mode for FPGA programming");
    EXPECT_EQ(rig.State().fpga_usb_quick, 1);
    rig.controller->UpdateForm_KeyDown(Key::Backspace, true);
    EXPECT_EQ(rig.view.log, "");
}

TEST(Buttons, StartTicksWhatIsEnabledAndBootEndsTheErrorState) {
    Rig fpgaOnly(false, true);
    fpgaOnly.controller->buttonRestart_Click();
    EXPECT_TRUE(fpgaOnly.view.Checked(Control::CheckProgramFPGA));
    EXPECT_FALSE(fpgaOnly.view.Checked(Control::CheckProgramArm));

    Rig rig(true, true);
    rig.box.SetFirmwareVersion("2.04");
    rig.State().error_occurred = 1;
    rig.Tick();
    EXPECT_EQ(rig.view.Text(Control::DeviceLabel), "Error occurred, please restart.");
    rig.controller->ButtonForce_Click();
    EXPECT_EQ(rig.State().force_bootloader, 1);
    rig.Tick();
    // The next poll runs: the box connects and is sent to its bootloader.
    EXPECT_EQ(rig.view.log, "\r\nQ750 Version:      2.04\r\n\r\nNo Upgrade Required");
    EXPECT_EQ(rig.State().force_bootloader, 0);
    EXPECT_EQ(rig.box.Requests().back(), 0x31);

    Rig rings(true, false);
    rings.controller->ButtonAutoRings_Click();
    EXPECT_TRUE(rings.box.RingsOn());
    EXPECT_EQ(rings.view.log, "");
}

TEST(Diagnostics, ReportOfAQ750BoxAnotherModelAndASilentBox) {
    Rig rig(true, false);
    rig.box.SetEye(1);
    rig.controller->ButtonDiag_Click();
    EXPECT_EQ(rig.view.log,
              "\r\nStatus Information\r\n------------------"
              "\r\nEye: Right"
              "\r\nHardware: 2\r\nMains Power: Yes\r\nFrontend Comms: Yes\r\nFrontend Format: "
              "Colour\r\nVideo In Detected: Yes\r\nFPGA Version: 0102\r\nVideo Stream Active: "
              "Yes - BULK\r\nTasker Error: No - 00\r\nI2C Errors: No - 0\r\nUSB Errors: No - "
              "0\r\nFpga Vid Width: 720\r\nFpga Vid Height: 576\r\nRings: Off\r\n\r\nARM/Fpga "
              "programming successful and operational.");

    Rig other(true, false);
    other.State().current_profile->id = "ZELK";
    other.box.SetAnswerBehaviour(ZELKSim::AnswerBehaviour::Silent());
    other.controller->print_diagnosis();
    EXPECT_EQ(other.view.log, "\r\nStatus Information\r\n------------------\r\n");

    Rig silentQ750(true, false);
    silentQ750.box.SetAnswerBehaviour(ZELKSim::AnswerBehaviour::Silent());
    silentQ750.controller->print_diagnosis();
    EXPECT_EQ(silentQ750.view.log, "\r\nStatus Information\r\n------------------\r\n\r\n");
}

TEST(ProfileChoice, FirstOfASharedDisplayNameAndNoSelection) {
    ControllerRig rig;
    rig.pkg.Write("a.bin", "a");
    rig.Package("2.04", Detail("Shared", "first", "n1", "a.bin") +
                            Detail("Shared", "second", "n2", "a.bin") +
                            Detail("Other", "third", "n3", "a.bin"));
    rig.Start();
    EXPECT_EQ(rig.State().current_profile->id, "third");
    rig.view.SetComboSelectedIndex(1);
    EXPECT_EQ(rig.State().current_profile->id, "first");
    rig.view.SetComboSelectedIndex(2);
    EXPECT_EQ(rig.State().current_profile->id, "third");
    rig.view.SetComboSelectedIndex(-1);
    EXPECT_EQ(rig.State().current_profile->id, "third");
}

}  // namespace
}  // namespace ZELKUtil
