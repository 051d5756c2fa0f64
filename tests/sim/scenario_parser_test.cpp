// The scenario format: what a malformed file reports, how texts and blocks are read, and what the
// runner returns.
#include <gtest/gtest.h>

#include <sstream>

#include "scenario/console_view.h"
#include "scenario/scenario.h"
#include "scenario/scenario_runner.h"
#include "support/temp_package.h"

namespace {

using ZELKSim::ParseScenario;

TEST(ScenarioParser, MalformedLinesNameTheirLineAndReason) {
    struct Case {
        const char* text;
        int line;
        const char* reason;  // a part of the reason
    };
    const Case cases[] = {
        {"tick\nfrobnicate 3\n", 2, "unknown command 'frobnicate'"},
        {"\n\nbox version \"2.04\n", 3, "not closed"},
        {"tick 0\n", 1, "not a number from 1"},
        {"tick 99999999999999999999\n", 1, "not a number"},
        {"tick until \"x\" max\n", 1, "usage: tick"},
        {"at -5\n", 1, "not a number from 0"},
        {"box driver 4\n", 1, "from -1 to 3"},
        {"box eye up\n", 1, "not a number"},
        {"box diagnostics hardware=300\n", 1, "from -128 to 255"},
        {"box diagnostics colour=1\n", 1, "unknown diagnostics field"},
        {"tools stapl sometimes\n", 1, "usage: tools stapl"},
        {"package profile vendor=x\n", 1, "profile's words"},
        {"tick\npackage version 2.04\n", 2, "before the first step"},
        {"key Ctrl+M\nmachine i686\n", 2, "before the first step"},
        {"click Reset\n", 1, "no button"},
        {"expect shown Nothing yes\n", 1, "no control"},
        {"expect checked CheckProgramArm maybe\n", 1, "neither yes nor no"},
        {"expect state nothing 1\n", 1, "no controller field"},
        {"expect log\n|a\n", 1, "no \"end\""},
        {"expect log\n|a\nb\nend\n", 3, "begins with \"|\""},
        {"expect log\n|a\n\nend\n", 3, "empty line"},
        {"expect log\n|a\\q\nend\n", 2, "unknown escape \\q"},
        {"expect log\n|\\x4\nend\n", 2, "two hex digits"},
        {"expect label DeviceLabel \"a\\\"\n", 1, "not closed"},
        {"x=1\n", 1, "begins with a command"},
        {"check DeviceLabel yes\n", 1, "only CheckProgramArm"},
        {"plug absent\n", 1, "usage: plug"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = ParseScenario(c.text);
        EXPECT_EQ(result.errorLine, c.line);
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
    }
}

TEST(ScenarioParser, CommentsQuotesAndStepsBeforeStartUp) {
    const auto result = ParseScenario(
        "# a comment\r\n"
        "package version \"2 .04\"  # trailing comment\r\n"
        "package profile profile=\"A \\\"B\\\"\" id=X LPC3131=a<b>.bin\n"
        "package no-drivers\n"
        "box version 1.0\n"
        "tools step-ms 10\n"
        "tick\n"
        "box version 2.0\n");
    ASSERT_EQ(result.errorLine, 0) << result.error;
    const ZELKSim::Scenario& s = result.scenario;
    EXPECT_EQ(s.package.version, "2 .04");
    EXPECT_FALSE(s.package.drivers);
    EXPECT_EQ(s.package.details,
              "<detail profile=\"A &quot;B&quot;\" vid=\"0x14E3\" pid=\"0x0706\" id=\"X\" "
              "LPC3131=\"a&lt;b&gt;.bin\" A3P060=\"\" A3PN060=\"\"/>");
    ASSERT_EQ(s.steps.size(), 4U);
    EXPECT_FALSE(s.steps[0].needsController);
    EXPECT_FALSE(s.steps[1].needsController);
    EXPECT_TRUE(s.steps[2].needsController);
    EXPECT_EQ(s.steps[2].line, 7);
    EXPECT_EQ(s.steps[3].text, "box version 2.0");
}

TEST(ScenarioParser, LogBlockLinesSplitAtCrLfOnly) {
    EXPECT_EQ(ZELKSim::LogBlockLines("\r\nA\rB\nC\\\t\r\n"),
              (std::vector<std::string>{"", "A\\rB\\nC\\\\\\t", ""}));
    EXPECT_EQ(ZELKSim::LogBlockLines(""), (std::vector<std::string>{""}));
}

int Play(const std::string& scenario, std::string* out, std::string* err) {
    ZELKUtil::Testing::TempPackage dir;
    dir.Write("s.scn", scenario);
    std::ostringstream o;
    std::ostringstream e;
    const int status = ZELKSim::RunScenarioFile(dir.Path("s.scn"), false, o, e);
    *out = o.str();
    *err = e.str();
    return status;
}

TEST(ScenarioRunner, ExitStatusAndTheExactLog) {
    const std::string package =
        "package version 2.04\n"
        "package profile profile=Z id=Q750 name=\"ZELK Q750\" LPC3131=a.bin\n"
        "package file a.bin\n"
        "package tool Tools/dfu-util\n"
        "box product \"ZELK Q750\"\n"
        "box version 2.04\n";
    std::string out;
    std::string err;
    // The log comes out with its CR LF as they are, whatever is expected.
    EXPECT_EQ(Play(package + "tick\nexpect log\n|\n|Q750 Version:      2.04\n|\n|No Upgrade "
                             "Required\nend\n",
                   &out, &err),
              ZELKSim::kScenarioPassed)
        << err;
    EXPECT_EQ(out.rfind("--- log ---\n\r\nQ750 Version:      2.04\r\n\r\nNo Upgrade Required\n"
                        "--- end of log ---\nDeviceLabel \"Q750 Version:      2.04\"\n",
                        0),
              0U)
        << out;
    // A text that ends without CR LF, and one that does, differ.
    EXPECT_EQ(Play(package + "tick\nexpect log\n|\n|Q750 Version:      2.04\n|\n|No Upgrade "
                             "Required\n|\nend\n",
                   &out, &err),
              ZELKSim::kScenarioFailed);
    EXPECT_NE(err.find("s.scn:8: log differs from its block line 5"), std::string::npos) << err;

    EXPECT_EQ(Play(package + "tick until \"Upgrade Complete\" max 3\nexpect time 0\n", &out, &err),
              ZELKSim::kScenarioFailed);
    EXPECT_NE(err.find(":7: \"Upgrade Complete\" did not come to the log in 3 ticks"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("expected time"), std::string::npos) << "the run stops there";

    EXPECT_EQ(Play(package + "tick 2\nat 1000\n", &out, &err), ZELKSim::kScenarioUnplayable);
    EXPECT_NE(err.find(":8: the time 1000 is already past"), std::string::npos) << err;
    EXPECT_EQ(Play(package + "choose Nothing\n", &out, &err), ZELKSim::kScenarioUnplayable);
    EXPECT_EQ(Play(package + "tick\nbogus\n", &out, &err), ZELKSim::kScenarioUnplayable);
    EXPECT_EQ(out, "") << "nothing runs from a malformed file";

    std::ostringstream o;
    std::ostringstream e;
    EXPECT_EQ(ZELKSim::RunScenarioFile("/nonexistent/s.scn", false, o, e),
              ZELKSim::kScenarioUnplayable);
    EXPECT_NE(e.str().find(ZELKUtil::Testing::NoSuchFolderText()), std::string::npos);
}

TEST(ScenarioRunner, TimerTicksAndActionsAtTheirTimes) {
    std::string out;
    std::string err;
    // Polls come a second after the previous one ended. Unplugged at 2500, the box is found absent
    // by the next two polls; plugged in at 4500, the device change finds it at once, before the
    // timer's next poll.
    const std::string scenario =
        "package version 2.04\n"
        "package profile profile=Z id=Q750 name=\"ZELK Q750\" LPC3131=a.bin\n"
        "package file a.bin\n"
        "package tool Tools/dfu-util\n"
        "box product \"ZELK Q750\"\n"
        "box version 2.04\n"
        "tick\n"
        "at 2500\n"
        "expect time 2500\n"
        "unplug\n"
        "after 2000\n"
        "expect label DeviceLabel \"No device found\"\n"
        "plug\n"
        "expect label DeviceLabel \"No device found\"\n"
        "devicechange\n"
        "expect label DeviceLabel \"Q750 Version:      2.04\"\n"
        "at 4800\n"
        "expect time 4800\n";
    EXPECT_EQ(Play(scenario, &out, &err), ZELKSim::kScenarioPassed) << err;
}

}  // namespace

namespace {

TEST(ConsoleViewEcho, PlainTextAsItComesAndControlsOnLinesOfTheirOwn) {
    std::ostringstream out;
    ZELKSim::ConsoleView view({&out, true, nullptr});
    view.AppendText("\r\nStarting the upgrade in: 5..");
    view.SetText(ZELKUtil::Control::DeviceLabel, "No device found");  // unchanged: no echo
    view.SetText(ZELKUtil::Control::DeviceLabel, "ZELK in programming mode");
    view.AppendText("4..");
    view.SetChecked(ZELKUtil::Control::CheckProgramArm, true);  // ticked from the start
    view.SetChecked(ZELKUtil::Control::CheckProgramArm, false);
    EXPECT_EQ(out.str(),
              "\r\nStarting the upgrade in: 5..\n[DeviceLabel = \"ZELK in programming mode\"]\n"
              "4..\n[CheckProgramArm unticked]\n");
    EXPECT_EQ(view.log, "\r\nStarting the upgrade in: 5..4..");
}

}  // namespace
