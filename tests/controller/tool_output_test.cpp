#include <gtest/gtest.h>

#include "controller/tools/dfu_util_output.h"
#include "controller/tools/dfuapp_log.h"
#include "controller/tools/stapl_output.h"
#include "controller/tools/tool_command.h"
#include "controller/version_match.h"

namespace ZELKUtil {
namespace {

TEST(VersionMatch, WholeOccurrencesOnly) {
    EXPECT_EQ(PackageVersionLine("Upgrade Version: 1.23 (Q750)"), "1.23 (Q750)");
    EXPECT_EQ(PackageVersionLine("Upgrade Version: "), "");
    EXPECT_EQ(PackageVersionLine("Can't find upgrade version"), "");

    EXPECT_TRUE(PackageHasVersion("1.23", "1.23"));
    EXPECT_TRUE(PackageHasVersion("1.23 (Q750)", "1.23"));
    EXPECT_TRUE(PackageHasVersion("Q750 1.23", "1.23"));
    EXPECT_TRUE(PackageHasVersion("v1.2-1.23", "1.23"));
    EXPECT_TRUE(PackageHasVersion("(1.23)", "1.23"));
    // Found as a whole only at its second occurrence.
    EXPECT_TRUE(PackageHasVersion("1.234 or 1.23", "1.23"));

    EXPECT_FALSE(PackageHasVersion("1.23", "1.2"));
    EXPECT_FALSE(PackageHasVersion("11.23", "1.23"));
    EXPECT_FALSE(PackageHasVersion("1.23a", "1.23"));
    EXPECT_FALSE(PackageHasVersion("1.23 (Q750)", "3"));
    EXPECT_FALSE(PackageHasVersion("1.23 (Q750)", "Q"));
    EXPECT_FALSE(PackageHasVersion("1.23", ""));
    EXPECT_FALSE(PackageHasVersion("", "1.23"));
}

// What Debian's dfu-util 0.11 prints on its standard output when it finds no device (its error
// goes to the error stream), how it draws its progress, and the older tool's lines.
TEST(ToolOutput, DfuUtilAndDfuAppLinesAsEvents) {
    using Kind = DfuUtilLine::Kind;
    for (const char* line :
         {"dfu-util 0.11", "", "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.",
          "Copyright 2010-2021 Tormod Volden and Stefan Schmidt",
          "This program is Free Software and has ABSOLUTELY NO WARRANTY",
          "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/"}) {
        EXPECT_EQ(ReadDfuUtilLine(line).kind, Kind::Banner) << line;
    }
    const std::pair<const char*, DfuUtilLine> lines[] = {
        {"Opening DFU capable USB device...", {Kind::OpeningDevice}},
        {"Copying data from PC to DFU device", {Kind::BarStart}},
        {"Download\t[                         ]   0%            0 bytes", {Kind::BarProgress, 0}},
        {"Download\t[==========               ]  40%        20480 bytes", {Kind::BarProgress, 10}},
        {"Download\t[=========================] 100%        51200 bytes", {Kind::BarProgress, 25}},
        {"Starting download: [##########] finished!", {Kind::Other}},
        {"Download\t[=== x ]", {Kind::Other}},
        {"Download\t[====", {Kind::Other}},
        {"Download done.", {Kind::DownloadDone}},
    };
    for (const auto& [line, expected] : lines) {
        const DfuUtilLine read = ReadDfuUtilLine(line);
        EXPECT_EQ(read.kind, expected.kind) << line;
        EXPECT_EQ(read.fill, expected.fill) << line;
    }
    EXPECT_TRUE(DfuUtilBarFinished("] finished!"));
    EXPECT_FALSE(DfuUtilBarFinished("]"));

    EXPECT_EQ(ReadDfuAppLine("12:01 Device has received a block and is waiting for the host to "
                             "solicit the status via DFU_GETSTATUS"),
              DfuAppLine::BlockReceived);
    EXPECT_EQ(ReadDfuAppLine("Device Reset after Download successful"),
              DfuAppLine::ResetAfterDownload);
    EXPECT_EQ(ReadDfuAppLine("An error has occurred."), DfuAppLine::Error);
    EXPECT_EQ(ReadDfuAppLine("Opening DFU capable USB device..."), DfuAppLine::OpeningDevice);
    EXPECT_EQ(ReadDfuAppLine("Device has received a block"), DfuAppLine::Other);
}

TEST(ToolOutput, StaplPlayerLinesAsEvents) {
    const StaplIdentificationLine id =
        ReadStaplIdentificationLine("Export: key = \"IDCODE\", value = HEX 1 HEX 029121CF");
    EXPECT_TRUE(id.idcodeLine);
    EXPECT_EQ(id.idcode, 0x029121CFU);
    EXPECT_FALSE(id.checksumLine);
    const StaplIdentificationLine bad = ReadStaplIdentificationLine("CHECKSUM: zz");
    EXPECT_TRUE(bad.checksumLine);
    EXPECT_EQ(bad.checksum, std::nullopt);
    EXPECT_EQ(ReadStaplIdentificationLine("CHECKSUM: 1234").checksum, 0x1234U);

    const auto read = [](const char* line, const char* previous = "") {
        const StaplProgressLine r = ReadStaplProgressLine(line, previous);
        return std::vector<bool>{r.step, r.verifyPassed, r.verifying, r.erased, r.exitCode};
    };
    EXPECT_EQ(read("PERCENT_DONE = 40"), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_EQ(read("Verifying FPGA Array -- pass"),
              (std::vector<bool>{false, true, false, false, false}));
    EXPECT_EQ(read("Verifying FPGA Array"), (std::vector<bool>{false, false, true, false, false}));
    EXPECT_EQ(read("Exit code = 0... Success", "Completed erase"),
              (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(read("Exit code = 0... Success", "PERCENT_DONE = 100"),
              (std::vector<bool>{false, false, false, false, true}));
}

TEST(StaplOutput, HexNumbersAndVariants) {
    EXPECT_EQ(ParseHex32(" 029121CF "), 0x029121CFU);
    EXPECT_EQ(ParseHex32("ffffffff"), 0xFFFFFFFFU);
    EXPECT_EQ(ParseHex32("000000001234"), 0x1234U);
    EXPECT_EQ(ParseHex32("1FFFFFFFF"), std::nullopt);
    EXPECT_EQ(ParseHex32(""), std::nullopt);
    EXPECT_EQ(ParseHex32("0x12"), std::nullopt);
    EXPECT_EQ(ParseHex32("12 34"), std::nullopt);
    EXPECT_EQ(ParseHex32("G1"), std::nullopt);

    EXPECT_EQ(ClassifyIdcode(0x029121CF), FpgaVariant::A3P060_KR);
    EXPECT_EQ(ClassifyIdcode(0xF29121CF), FpgaVariant::A3P060_KR);  // version field ignored
    EXPECT_EQ(ClassifyIdcode(0x0B9121CF), FpgaVariant::A3P060_CH);
    EXPECT_EQ(ClassifyIdcode(0x029521CF), FpgaVariant::A3PN060);
    EXPECT_EQ(ClassifyIdcode(0x0A9521CF), FpgaVariant::A3PN060);  // bit 27
    EXPECT_EQ(ClassifyIdcode(0x039521CF), FpgaVariant::A3PN060);  // bit 24
    EXPECT_EQ(ClassifyIdcode(0x729521CF), FpgaVariant::A3PN060);
    EXPECT_EQ(ClassifyIdcode(0x069521CF), FpgaVariant::None);  // bit 26 counts
    EXPECT_EQ(ClassifyIdcode(0x029121CE), FpgaVariant::None);
    EXPECT_EQ(ClassifyIdcode(std::nullopt), FpgaVariant::None);
    EXPECT_STREQ(VariantText(FpgaVariant::A3P060_CH), "\r\nA3P060 CH FPGA detected");
    EXPECT_STREQ(VariantText(FpgaVariant::None), "\r\nNo FPGA detected");
}

// The service-mode line shows the argument text as the package's tools are known to take it, while
// the tool gets one argument per file name, never one it could take for an option.
TEST(ToolCommand, ArgumentVectorAndShownTextFromOneList) {
    ToolCommand dfuUtil("Tools/dfu-util", StartMode::DirectRedirected);
    dfuUtil.Options({"-R", "-D"}).File("-x my.bin");
    EXPECT_EQ(dfuUtil.ArgumentText(), "-R -D -x my.bin");
    const StartRequest request = dfuUtil.Request();
    EXPECT_EQ(request.arguments, (std::vector<std::string>{"-R", "-D", "./-x my.bin"}));
    EXPECT_EQ(request.program, "Tools/dfu-util");
    EXPECT_EQ(request.mode, StartMode::DirectRedirected);

    ToolCommand dfuApp("Tools/DFUAPP", StartMode::Direct);
    dfuApp.TextLead(" ").Options({"/l", "dfulog.txt", "/f"}).File("a.bin").WorkingDirectory("T");
    EXPECT_EQ(dfuApp.ArgumentText(), " /l dfulog.txt /f a.bin");
    EXPECT_EQ(dfuApp.Request().arguments,
              (std::vector<std::string>{"/l", "dfulog.txt", "/f", "a.bin"}));
    EXPECT_EQ(dfuApp.Request().workingDirectory, "T");

    // An empty file name is shown but not passed.
    ToolCommand player("Tools/STAPL Player", StartMode::DirectRedirected);
    player.Options({"-aDEVICE_INFO"}).File("");
    EXPECT_EQ(player.ArgumentText(), "-aDEVICE_INFO ");
    EXPECT_EQ(player.Request().arguments, (std::vector<std::string>{"-aDEVICE_INFO"}));
}

}  // namespace
}  // namespace ZELKUtil
