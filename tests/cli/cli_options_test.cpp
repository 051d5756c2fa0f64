#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ZELKUtil::Cli {
namespace {

ParsedCommandLine Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "zelk-cli");
    return ParseCommandLine(static_cast<int>(words.size()), words.data(), "1.2.3");
}

TEST(CliOptions, HelpAndVersionPrintAndExitZero) {
    const ParsedCommandLine help = Parse({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, kExitOk);
    for (const char* word : {"--package", "--json", "--history", "list", "check", "upgrade"}) {
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(help.output.find("worker"), std::string::npos);
    const ParsedCommandLine upgradeHelp = Parse({"upgrade", "--help"});
    EXPECT_NE(upgradeHelp.output.find("--watch"), std::string::npos);

    const ParsedCommandLine version = Parse({"list", "--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, kExitOk);
    EXPECT_EQ(version.output, "zelk-cli 1.2.3\n");
}

TEST(CliOptions, CommandsWithOptionsBeforeOrAfter) {
    const ParsedCommandLine list = Parse({"list"});
    ASSERT_TRUE(list.options);
    EXPECT_EQ(list.options->command, Command::List);
    EXPECT_EQ(list.options->package, ".");
    EXPECT_FALSE(list.options->json);
    EXPECT_EQ(list.options->history, "");

    const ParsedCommandLine check =
        Parse({"--json", "check", "--package", "/p k g", "--history=h.jsonl"});
    ASSERT_TRUE(check.options);
    EXPECT_EQ(check.options->command, Command::Check);
    EXPECT_TRUE(check.options->json);
    EXPECT_EQ(check.options->package, "/p k g");
    EXPECT_EQ(check.options->history, "h.jsonl");

    const ParsedCommandLine history = Parse({"--history", "x", "history", "--json"});
    ASSERT_TRUE(history.options);
    EXPECT_EQ(history.options->command, Command::History);
    EXPECT_TRUE(history.options->json);

    const ParsedCommandLine worker = Parse({"worker", "--port", "1-2.3"});
    ASSERT_TRUE(worker.options);
    EXPECT_EQ(worker.options->command, Command::Worker);
    EXPECT_EQ(worker.options->ports, std::vector<std::string>{"1-2.3"});
}

TEST(CliOptions, UpgradePortsAllAndWatch) {
    const ParsedCommandLine ports =
        Parse({"upgrade", "--port", "1-2", "--json", "--port=3-1", "--port", "1-2"});
    ASSERT_TRUE(ports.options);
    EXPECT_EQ(ports.options->command, Command::Upgrade);
    EXPECT_EQ(ports.options->ports, (std::vector<std::string>{"1-2", "3-1"}));
    EXPECT_FALSE(ports.options->all);
    EXPECT_FALSE(ports.options->watch);

    const ParsedCommandLine all = Parse({"upgrade", "--all"});
    ASSERT_TRUE(all.options);
    EXPECT_TRUE(all.options->all);
    EXPECT_TRUE(all.options->ports.empty());

    const ParsedCommandLine watchAll = Parse({"upgrade", "--watch"});
    ASSERT_TRUE(watchAll.options);
    EXPECT_TRUE(watchAll.options->watch);
    EXPECT_TRUE(watchAll.options->all);

    const ParsedCommandLine watchPort = Parse({"upgrade", "--watch", "--port", "2-1"});
    ASSERT_TRUE(watchPort.options);
    EXPECT_TRUE(watchPort.options->watch);
    EXPECT_FALSE(watchPort.options->all);
    EXPECT_EQ(watchPort.options->ports, std::vector<std::string>{"2-1"});
}

TEST(CliOptions, UsageErrorsGiveOneReasonAndExit64) {
    const std::vector<std::vector<const char*>> wrong = {
        {},
        {"frobnicate"},
        {"list", "check"},
        {"upgrade"},
        {"upgrade", "--port", "1-2", "--all"},
        {"upgrade", "--port", "1-2", "3-1"},
        {"upgrade", "--port"},
        {"upgrade", "--port", ""},
        {"list", "--watch"},
        {"--watch", "upgrade", "--all"},
        {"list", "--all"},
        {"worker"},
        {"--package", "", "list"},
        {"list", "--bogus"},
    };
    for (const auto& words : wrong) {
        const ParsedCommandLine parsed = Parse(words);
        std::string shown;
        for (const char* word : words) {
            shown += std::string(word) + " ";
        }
        EXPECT_FALSE(parsed.options) << shown;
        EXPECT_EQ(parsed.exitCode, kExitUsage) << shown;
        // "zelk-cli: reason", then the pointer to --help: two lines in all.
        EXPECT_EQ(parsed.output.rfind("zelk-cli: ", 0), 0U) << parsed.output;
        EXPECT_EQ(std::count(parsed.output.begin(), parsed.output.end(), '\n'), 2) << parsed.output;
        EXPECT_TRUE(parsed.output.ends_with("\nRun with --help for more information.\n")) << shown;
    }
}

}  // namespace
}  // namespace ZELKUtil::Cli
