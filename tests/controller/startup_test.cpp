#include <gtest/gtest.h>

#include "support/controller_rig.h"

namespace ZELKUtil {
namespace {

// A profile whose product string is its display name followed by " box".
std::string Detail(const std::string& type, const std::string& id, const std::string& arm,
                   const std::string& a3p, const std::string& a3pn) {
    return Testing::Detail(type, id, type + " box", arm, a3p, a3pn);
}

struct StartUp : Testing::ControllerRig {
    UpgradeController& Run() { return Start(); }
    void Config(const std::string& details) {
        pkg.Write(PackageFiles::kProfileFile, "<zelk>" + details + "</zelk>");
    }
};

// The label from the version file's first line, or its absence (what counts as either: the
// version file's own test).
TEST(StartUp, VersionLabel) {
    StartUp s;
    s.pkg.Write("CurrentVersion.txt", "1.23 (Q750)\r\nnotes\r\n");
    s.Run();
    EXPECT_EQ(s.view.Text(Control::TextUpgradeVersion), "Upgrade Version: 1.23 (Q750)");

    StartUp missing;
    missing.Run();
    EXPECT_EQ(missing.view.Text(Control::TextUpgradeVersion), "Can't find upgrade version");
}

TEST(StartUp, ConfigErrorIsLoggedInFourPartsAndStartUpGoesOn) {
    for (const char* content : {"", "<zelk><detail", "plain text"}) {
        SCOPED_TRACE(content);
        StartUp s;
        s.pkg.Write(PackageFiles::kProfileFile, content);
        s.pkg.Write(PackageFiles::kDfuApp, "");
        UpgradeController& c = s.Run();
        const std::string head = "\r\n\r\nError loading config file";
        ASSERT_EQ(s.view.log.rfind(head, 0), 0U) << s.view.log;
        ASSERT_GE(s.view.log.size(), head.size() + 3);
        EXPECT_EQ(s.view.log.substr(s.view.log.size() - 2), "\r\n");
        // The reader's message directly behind "file".
        const std::string message =
            s.view.log.substr(head.size(), s.view.log.size() - head.size() - 2);
        EXPECT_NE(message.find("zelk.config"), std::string::npos) << message;
        ASSERT_TRUE(c.State().profiles.has_value());
        EXPECT_TRUE(c.State().profiles->empty());
        EXPECT_EQ(s.view.Text(Control::LabelMode), "");
        EXPECT_FALSE(s.view.Shown(Control::ComboZelkType));
        EXPECT_FALSE(c.State().current_profile.has_value());
        EXPECT_EQ(c.State().upgradeMode, auto_upgrade);
        EXPECT_TRUE(s.view.Checked(Control::CheckProgramArm));
        EXPECT_FALSE(s.view.Shown(Control::CheckProgramArm));
    }
    StartUp missing;
    missing.pkg.Write(PackageFiles::kDfuApp, "");
    missing.Run();
    EXPECT_NE(missing.view.log.find(Testing::NoSuchFileText()), std::string::npos);
}

TEST(StartUp, ModeAndCheckBoxesFollowTheImagesFoundAlsoInServiceModeAndForStart) {
    struct Row {
        const char* name;
        std::string details;
        bool armShown, armChecked, armEnabled, fpgaShown, fpgaChecked, fpgaEnabled;
        upgradeMode_ mode;
    };
    const Row rows[] = {
        {"both", Detail("A", "a", "arm.bin", "", "") + Detail("B", "b", "", "f1.stp", ""), true,
         false, true, true, false, true, manual_upgrade},
        {"fpga only", Detail("A", "a", "", "f1.stp", "f2.stp"), false, false, false, true, false,
         true, auto_upgrade},
        {"arm only", Detail("A", "a", "arm.bin", "", ""), false, false, true, false, false, false,
         auto_upgrade},
        {"none", Detail("A", "a", "", "", ""), false, true, true, false, false, true, auto_upgrade},
        // A missing image counts for nothing: this package holds ARM images only.
        {"missing fpga", Detail("A", "a", "arm.bin", "absent.stp", ""), false, false, true, false,
         false, false, auto_upgrade},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StartUp s;
        s.pkg.Write("arm.bin", "arm");
        s.pkg.Write("f1.stp", "f1");
        s.pkg.Write("f2.stp", "f2");
        s.pkg.Write(PackageFiles::kDfuUtil, "");
        s.Config(row.details);
        UpgradeController& c = s.Run();
        EXPECT_EQ(s.view.Shown(Control::CheckProgramArm), row.armShown);
        EXPECT_EQ(s.view.Checked(Control::CheckProgramArm), row.armChecked);
        EXPECT_EQ(s.view.Enabled(Control::CheckProgramArm), row.armEnabled);
        EXPECT_EQ(s.view.Shown(Control::CheckProgramFPGA), row.fpgaShown);
        EXPECT_EQ(s.view.Checked(Control::CheckProgramFPGA), row.fpgaChecked);
        EXPECT_EQ(s.view.Enabled(Control::CheckProgramFPGA), row.fpgaEnabled);
        EXPECT_EQ(c.State().upgradeMode, row.mode);
        EXPECT_EQ(c.State().useDfuUtil, 1);
        EXPECT_EQ(s.view.log, "");
        // Service mode shows just the boxes the package can use, and "Start" ticks them.
        c.UpdateForm_KeyDown(Key::M, true);
        EXPECT_EQ(s.view.Shown(Control::CheckProgramArm), row.armEnabled);
        EXPECT_EQ(s.view.Shown(Control::CheckProgramFPGA), row.fpgaEnabled);
        c.buttonRestart_Click();
        EXPECT_EQ(s.view.Checked(Control::CheckProgramArm), row.armEnabled);
        EXPECT_EQ(s.view.Checked(Control::CheckProgramFPGA), row.fpgaEnabled);
    }
}

TEST(StartUp, UsableProfilesAreOfferedAndTheLastBecomesCurrent) {
    StartUp s;
    s.pkg.Write("arm1.bin", "1");
    s.pkg.Write("arm2.bin", "2");
    s.pkg.Write("arm3.bin", "3");
    s.pkg.MakeFolder("dir.stp");
    s.pkg.Write(PackageFiles::kDfuApp, "");
    s.Config(Detail("First", "Q750", "arm1.bin", "", "") +
             Detail("Second", "S", "arm2.bin", "missing.stp", "") +
             Detail("Folder", "F", "", "", "dir.stp") + Detail("Third", "T", "arm3.bin", "", ""));
    UpgradeController& c = s.Run();
    EXPECT_EQ(s.view.Text(Control::LabelMode), "ZELK");
    EXPECT_TRUE(s.view.Shown(Control::ComboZelkType));
    EXPECT_EQ(s.view.comboItems, (std::vector<std::string>{"First", "Third"}));
    EXPECT_EQ(s.view.ComboSelectedIndex(), -1);
    ASSERT_TRUE(c.State().current_profile.has_value());
    EXPECT_EQ(c.State().current_profile->type, "Third");
    EXPECT_EQ(c.State().profiles->size(), 4U);
    // The second profile's ARM image was found before its FPGA image was missed.
    EXPECT_EQ(c.State().armImagePresent, 3);
    EXPECT_EQ(c.State().fpgaImagePresent, 0);
    EXPECT_EQ(c.State().useDfuUtil, 0);
    EXPECT_EQ(s.view.log, "");

    // The operator's choice by name makes the first profile of that name current.
    s.view.SetComboSelectedIndex(0);
    EXPECT_EQ(c.State().current_profile->id, "Q750");
}

TEST(StartUp, OneProfileAndAProfileWithoutDisplayName) {
    StartUp one;
    one.pkg.Write("arm.bin", "x");
    one.Config(Detail("Only", "Q750", "arm.bin", "", ""));
    one.Run();
    EXPECT_EQ(one.view.Text(Control::LabelMode), "Q750");
    EXPECT_EQ(one.view.comboItems, std::vector<std::string>{"Only"});
    EXPECT_FALSE(one.view.Shown(Control::ComboZelkType));
    // Neither download tool: a damaged package, and start-up still ends normally.
    EXPECT_EQ(one.view.log, "\r\nDamaged upgrade package. Please obtain new copy from Orvanta");

    StartUp nameless;
    nameless.pkg.Write(PackageFiles::kDfuApp, "");
    nameless.Config("<detail vid=\"1\" pid=\"2\"/>");
    UpgradeController& c = nameless.Run();
    // It names no image, so it is usable and current, but cannot be listed.
    ASSERT_TRUE(c.State().current_profile.has_value());
    EXPECT_FALSE(c.State().current_profile->type.has_value());
    EXPECT_TRUE(nameless.view.comboItems.empty());
    EXPECT_EQ(nameless.view.log, "");
}

TEST(Poll, GuardAndTimer) {
    StartUp s;
    s.pkg.Write(PackageFiles::kDfuApp, "");
    UpgradeController& c = s.Run();

    // A poll requested while one runs does nothing at all, not even the error label.
    c.State().error_occurred = 1;
    c.State().checking_currently = 1;
    c.Main_OnDeviceChange();
    EXPECT_EQ(s.view.Text(Control::DeviceLabel), "No device found");
    c.State().checking_currently = 0;

    // The tick stops the timer for the poll's length and starts it again after.
    s.view.timerEvents.clear();
    c.TimerCheck_Tick();
    EXPECT_EQ(s.view.timerEvents, (std::vector<std::string>{"stop", "start"}));
    EXPECT_TRUE(s.view.timerRunning);
}

}  // namespace
}  // namespace ZELKUtil
