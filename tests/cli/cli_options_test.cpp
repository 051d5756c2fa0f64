#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <tuple>
#include <vector>

#include "cli/cli_help.h"
#include "cli/console_lines.h"

namespace ZELKUtil::Cli {
namespace {

ParsedCommandLine Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "zelk-cli");
    return ParseCommandLine(static_cast<int>(words.size()), words.data(), "1.2.3");
}

auto Fields(const Options& o) {
    return std::tie(o.command, o.package, o.json, o.history, o.ports, o.serials, o.all, o.watch,
                    o.timeoutMinutes, o.as, o.quiet, o.station, o.operatorName, o.historyFiles,
                    o.results, o.since, o.csv);
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
        {{"list"}, {Command::List, ".", false, false, "", {}, {}, false, false}},
        {{"--json", "check", "--package", "/p k", "--history=h"},
         {Command::Check, "/p k", true, true, "h", {}, {}, false, false}},
        {{"--history", "x", "history", "--json", "--result", "failed", "--since", "2026-12-01"},
         {.command = Command::History,
          .json = true,
          .history = "x",
          .results = V{"failed"},
          .since = "2026-12-01"}},
        {{"history", "--csv", "a.jsonl", "--port", "1-1", "b.jsonl", "-q"},
         {.command = Command::History,
          .ports = V{"1-1"},
          .quiet = true,
          .historyFiles = V{"a.jsonl", "b.jsonl"},
          .csv = true}},
        {{"upgrade", "--port", "1-2", "--json", "--port=3-1", "--port", "1-2", "--serial", "7"},
         {.command = Command::Upgrade, .json = true, .ports = V{"1-2", "3-1"}, .serials = V{"7"}}},
        {{"upgrade", "--all"}, {.command = Command::Upgrade, .all = true}},
        {{"upgrade", "--watch"}, {.command = Command::Upgrade, .all = true, .watch = true}},
        {{"upgrade", "--watch", "--serial", "9", "--serial", "9"},
         {.command = Command::Upgrade, .serials = V{"9"}, .watch = true}},
        {{"upgrade", "--all", "--timeout", "45", "--station", "bench 3", "--operator", "Ann"},
         {.command = Command::Upgrade,
          .all = true,
          .timeoutMinutes = 45,
          .station = "bench 3",
          .operatorName = "Ann"}},
        {{"upgrade", "--port", "1-1", "--as", "Q750"},
         {.command = Command::Upgrade, .ports = V{"1-1"}, .as = "Q750"}},
        {{"check", "--serial", "100001", "--port", "2-1"},
         {.command = Command::Check, .ports = V{"2-1"}, .serials = V{"100001"}}},
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
        {"upgrade", "--all", "--serial", "5"},
        {"list", "-q", "-v"},
        {"history", "--csv", "--json"},
        {"history", "--result", "passed"},
        {"history", "--since", "2026-12-08 10:00"},
        {"history", "--since", "2026-02-30"},
        {"upgrade", "--all", "--station", "a\tb"},
        {"upgrade", "--port", "1-1", "--serial", "5", "--as", "Q750"},
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
    // The reason in the program's words, never the parser's notation.
    const std::pair<std::vector<const char*>, const char*> worded[] = {
        {{"upgrade", "--all", "--timeout", "abc"},
         "--timeout takes whole minutes from 1 to 1440, not \"abc\""},
        {{"upgrade", "--port"}, "--port needs a value"},
        {{"frobnicate"},
         "unknown command: frobnicate (the commands: list, check, upgrade, history)"},
        {{"list", "--bogus"}, "unknown option of list: --bogus"},
        {{"upgrade", "--port", "1-2", "3-1"}, "not expected here: 3-1"},
        {{"history", "--result", "ok"},
         "--result ok: no record has that result; one of upgraded, up-to-date, failed, "
         "interrupted, stopped, left alone, unfinished, resumed"},
        {{"history", "--since", "yesterday"},
         "--since yesterday: give a date or a UTC time, as 2026-12-08 or 2026-12-08T10:00:00Z"},
    };
    for (const auto& [words, reason] : worded) {
        EXPECT_EQ(Parse(words).output,
                  std::string("zelk-cli: ") + reason + "\nRun with --help for more information.\n");
    }
}

// Every option the parser takes for a command is in its help and its shell completion, and
// neither names one the parser does not take.
TEST(CliOptions, HelpAndCompletionNameExactlyTheParsersOptions) {
    std::ifstream file(ZELK_COMPLETION);
    ASSERT_TRUE(file);
    const std::string script((std::istreambuf_iterator<char>(file)), {});
    const auto words = [](const std::string& text) {
        std::set<std::string> set;
        std::istringstream in(text);
        for (std::string word; in >> word;) {
            set.insert(word);
        }
        return set;
    };
    std::smatch global;
    ASSERT_TRUE(std::regex_search(script, global, std::regex("local global=\"([^\"]*)\"")));
    for (const std::optional<Command> command :
         {std::optional<Command>{}, std::optional{Command::List}, std::optional{Command::Check},
          std::optional{Command::Upgrade}, std::optional{Command::History}}) {
        const std::string name = command ? CommandName(*command) : "\\*";
        std::set<std::string> parser;
        for (const std::vector<std::string>& spellings : OptionSpellings(command)) {
            parser.insert(spellings.begin(), spellings.end());
        }
        std::set<std::string> helped;
        const std::vector<OptionHelp>& own = CommandOptionsHelp(command);
        for (const auto* list : {&own, &GlobalOptionsHelp()}) {
            for (const OptionHelp& option : *list) {
                helped.insert(option.spellings.begin(), option.spellings.end());
            }
        }
        EXPECT_EQ(helped, parser) << name;
        const std::string text = HelpText(command);
        for (const std::string& spelling : parser) {
            EXPECT_NE(text.find(spelling), std::string::npos) << name << " " << spelling;
        }
        for (const char* part : {"Usage: ", "Exit status: ", "Example:\n  zelk-cli "}) {
            EXPECT_NE(text.find(part), std::string::npos) << name << " " << part;
        }
        std::smatch line;
        ASSERT_TRUE(std::regex_search(script, line, std::regex(name + "\\) own=\"([^\"]*)\"")))
            << name;
        std::set<std::string> completed = words(line[1].str() + " " + global[1].str());
        EXPECT_EQ(completed, parser) << name;
    }
    // The help of a command is asked for after it, and is its own.
    EXPECT_EQ(Parse({"upgrade", "--help"}).output, HelpText(Command::Upgrade));
    EXPECT_EQ(Parse({"--json", "history", "-h"}).output, HelpText(Command::History));
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
