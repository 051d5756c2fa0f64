#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "cli/console_lines.h"

namespace ZELKUtil::Cli {
namespace {

ParsedCommandLine Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "zelk-cli");
    return ParseCommandLine(static_cast<int>(words.size()), words.data(), "1.2.3");
}

auto Fields(const Options& o) {
    return std::tie(o.command, o.package, o.json, o.history, o.ports, o.all, o.watch,
                    o.timeoutMinutes, o.as);
}

TEST(CliOptions, HelpAndVersionPrintAndExitZero) {
    const ParsedCommandLine help = Parse({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, kExitOk);
    for (const char* word : {"--package", "--json", "--history", "list", "check", "upgrade"}) {
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    }
    EXPECT_NE(Parse({"upgrade", "--help"}).output.find("--watch"), std::string::npos);
    const ParsedCommandLine version = Parse({"list", "--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, kExitOk);
    EXPECT_EQ(version.output, "zelk-cli 1.2.3\n");
}

TEST(CliOptions, CommandsPortsAndOptionsOnEitherSide) {
    using V = std::vector<std::string>;
    const struct {
        std::vector<const char*> words;
        Options expected;
    } cases[] = {
        {{"list"}, {Command::List, ".", false, "", {}, false, false}},
        {{"--json", "check", "--package", "/p k", "--history=h"},
         {Command::Check, "/p k", true, "h", {}, false, false}},
        {{"--history", "x", "history", "--json"},
         {Command::History, ".", true, "x", {}, false, false}},
        {{"upgrade", "--port", "1-2", "--json", "--port=3-1", "--port", "1-2"},
         {Command::Upgrade, ".", true, "", V{"1-2", "3-1"}, false, false}},
        {{"upgrade", "--all"}, {Command::Upgrade, ".", false, "", {}, true, false}},
        {{"upgrade", "--watch"}, {Command::Upgrade, ".", false, "", {}, true, true}},
        {{"upgrade", "--watch", "--port", "2-1"},
         {Command::Upgrade, ".", false, "", V{"2-1"}, false, true}},
        {{"upgrade", "--all", "--timeout", "45"},
         {Command::Upgrade, ".", false, "", {}, true, false, 45}},
        {{"upgrade", "--port", "1-1", "--as", "Q750"},
         {Command::Upgrade, ".", false, "", V{"1-1"}, false, false, 20, "Q750"}},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = Parse(c.words);
        ASSERT_TRUE(parsed.options) << parsed.output;
        EXPECT_EQ(parsed.exitCode, kExitOk);
        EXPECT_TRUE(Fields(*parsed.options) == Fields(c.expected)) << c.words.back();
    }
}

TEST(CliOptions, UsageErrorsGiveOneReasonAndExit64) {
    const std::vector<std::vector<const char*>> wrong = {
        {},
        {"frobnicate"},
        {"list", "check"},
        {"upgrade"},
        {"upgrade", "--port", "1", "--all"},
        {"upgrade", "--port", "1-2", "3-1"},
        {"upgrade", "--port"},
        {"upgrade", "--port", ""},
        {"list", "--watch"},
        {"--watch", "upgrade", "--all"},
        {"list", "--all"},
        {"--package", "", "list"},
        {"list", "--bogus"},
        {"upgrade", "--all", "--timeout", "0"},
        {"upgrade", "--all", "--timeout", "x"},
        {"list", "--timeout", "5"},
        // The operator names one box, on one port.
        {"upgrade", "--all", "--as", "Q750"},
        {"upgrade", "--watch", "--as", "Q750"},
        {"upgrade", "--port", "1-1", "--port", "1-2", "--as", "Q750"}};
    for (const auto& words : wrong) {
        const ParsedCommandLine parsed = Parse(words);
        EXPECT_FALSE(parsed.options) << parsed.output;
        EXPECT_EQ(parsed.exitCode, kExitUsage) << parsed.output;
        // "zelk-cli: reason", then the pointer to --help: two lines in all.
        EXPECT_EQ(parsed.output.rfind("zelk-cli: ", 0), 0U) << parsed.output;
        EXPECT_EQ(std::count(parsed.output.begin(), parsed.output.end(), '\n'), 2) << parsed.output;
        EXPECT_TRUE(parsed.output.ends_with("\nRun with --help for more information.\n"));
    }
    // Words the command does not take are named as they were written.
    EXPECT_EQ(Parse({"list", "--port", "1-1"}).output.substr(0, 40),
              "zelk-cli: not expected here: --port 1-1\n");
}

}  // namespace
}  // namespace ZELKUtil::Cli

namespace ZELKUtil::Cli {
namespace {

TEST(CliStop, TheFirstCtrlCStopsNewWorkEveryLaterOneAndSigtermTellWhatFor) {
    StopRequests requests;
    requests.TellWaitingBy([] { return std::string("1-1 (downloading)"); });
    EXPECT_FALSE(requests.Stopping().load());
    EXPECT_EQ(requests.Request(false).find("waiting for"), std::string::npos);
    EXPECT_TRUE(requests.Stopping().load());
    EXPECT_NE(requests.Request(false).find("waiting for 1-1 (downloading)"), std::string::npos);
    StopRequests terminated;
    EXPECT_NE(terminated.Request(true).find("waiting for nothing"), std::string::npos);
    EXPECT_TRUE(terminated.Stopping().load());
}

}  // namespace
}  // namespace ZELKUtil::Cli
