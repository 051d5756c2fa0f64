#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

#include "cli/cli_help.h"
#include "cli/history_query.h"

namespace ZELKUtil::Cli {
namespace {

constexpr const char* kProgram = "zelk-cli";
constexpr const char* kMoreHelp = "Run with --help for more information.\n";
constexpr int kMostMinutes = 24 * 60;

// An empty name would later read as "the working directory" or "the default file", which the
// operator did not ask for.
CLI::Validator NotEmpty() {
    return {[](const std::string& text) {
                return text.empty() ? std::string("must not be empty") : "";
            },
            "", "not empty"};
}

// The option values as CLI11 fills them; the commands are told apart by which subcommand ran.
struct Parsed {
    Options options;
    std::vector<std::string> ports;
    std::vector<std::string> serials;
    std::string timeout;
    CLI::App* list = nullptr;
    CLI::App* check = nullptr;
    CLI::App* upgrade = nullptr;
    CLI::App* history = nullptr;
};

void AddGlobalOptions(CLI::App& app, Options& options) {
    app.add_option("--package", options.package)->check(NotEmpty());
    app.add_option("--history", options.history)->check(NotEmpty());
    app.add_flag("--json", options.json);
    app.add_flag("-v,--verbose", options.verbose);
    app.add_flag("-q,--quiet", options.quiet);
}

// Each --port and --serial takes one word, so that a port is never mistaken for the next word.
void AddTargets(CLI::App& command, Parsed& parsed) {
    command.add_option("--port", parsed.ports)->allow_extra_args(false)->check(NotEmpty());
    command.add_option("--serial", parsed.serials)->allow_extra_args(false)->check(NotEmpty());
}

void AddCommands(CLI::App& app, Parsed& parsed) {
    Options& options = parsed.options;
    parsed.list = app.add_subcommand("list");
    AddTargets(*parsed.list, parsed);
    parsed.check = app.add_subcommand("check");
    AddTargets(*parsed.check, parsed);
    parsed.upgrade = app.add_subcommand("upgrade");
    AddTargets(*parsed.upgrade, parsed);
    parsed.upgrade->add_flag("--all", options.all);
    parsed.upgrade->add_flag("--watch", options.watch);
    parsed.upgrade->add_option("--as", options.as)->check(NotEmpty());
    parsed.upgrade->add_option("--timeout", parsed.timeout);
    parsed.upgrade->add_option("--station", options.station)->check(NotEmpty());
    parsed.upgrade->add_option("--operator", options.operatorName)->check(NotEmpty());
    parsed.history = app.add_subcommand("history");
    AddTargets(*parsed.history, parsed);
    parsed.history->add_option("--result", options.results)->allow_extra_args(false);
    parsed.history->add_option("--since", options.since)->check(NotEmpty());
    parsed.history->add_flag("--csv", options.csv);
    parsed.history->add_option("files", options.historyFiles)->check(NotEmpty());
}

// Every command's help is the program's own (CLI11's would show its notation).
void Build(CLI::App& app, Parsed& parsed) {
    app.name(kProgram);
    // The global options may also follow the command: a subcommand hands what it does not know
    // to the program.
    app.fallthrough();
    // At most one command; a missing one is told apart from a word that is no command below.
    app.require_subcommand(0, 1);
    AddGlobalOptions(app, parsed.options);
    AddCommands(app, parsed);
}

// The reason on one line, however it was worded.
ParsedCommandLine UsageError(std::string reason) {
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    ParsedCommandLine result;
    result.output = std::string(kProgram) + ": " + reason + "\n" + kMoreHelp;
    result.exitCode = kExitUsage;
    return result;
}

void AddOnce(std::vector<std::string>& to, std::vector<std::string>& from) {
    for (std::string& word : from) {
        if (std::find(to.begin(), to.end(), word) == to.end()) {
            to.push_back(std::move(word));
        }
    }
}

std::optional<std::string> ReadTimeout(const std::string& text, int& minutes) {
    if (text.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > kMostMinutes) {
        return "--timeout takes whole minutes from 1 to 1440, not \"" + text + "\"";
    }
    minutes = value;
    return std::nullopt;
}

std::optional<std::string> CompleteUpgrade(Parsed& parsed) {
    Options& options = parsed.options;
    if (std::optional<std::string> wrong = ReadTimeout(parsed.timeout, options.timeoutMinutes)) {
        return wrong;
    }
    const bool named = !options.ports.empty() || !options.serials.empty();
    if (options.all && named) {
        return "upgrade --all names every box: not with --port or --serial";
    }
    if (options.watch && !named) {
        options.all = true;
    }
    if (!options.all && !named) {
        return "upgrade needs --port P, --serial S or --all";
    }
    // The operator's word names one box: the one on the port named, never any box that appears.
    if (!options.as.empty() && (options.ports.size() != 1 || !options.serials.empty())) {
        return "upgrade --as MODEL needs exactly one --port P, the box's, and no --serial";
    }
    for (const std::string* text : {&options.station, &options.operatorName}) {
        if (std::any_of(text->begin(), text->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
            return "--station and --operator take one line of text, without control characters";
        }
    }
    return std::nullopt;
}

// The history's filters are checked here, so that a wrong one is a usage error before any file
// is read.
std::optional<std::string> CompleteHistory(const Options& options) {
    if (options.csv && options.json) {
        return "history prints a table, --csv or --json: one of them";
    }
    const FilterOrWhy filter =
        HistoryFilterOf(options.serials, options.ports, options.results, options.since);
    if (!filter.filter) {
        return filter.why;
    }
    return std::nullopt;
}

// The command that ran, with what only it means; nullopt with the reason when the combination is
// not one the program takes.
std::optional<std::string> Complete(Parsed& parsed) {
    Options& options = parsed.options;
    // Repeats are dropped: one box is named once.
    AddOnce(options.ports, parsed.ports);
    AddOnce(options.serials, parsed.serials);
    if (options.quiet && options.verbose) {
        return "-q shows less and -v more: not both";
    }
    if (parsed.upgrade->parsed()) {
        options.command = Command::Upgrade;
        return CompleteUpgrade(parsed);
    }
    if (parsed.list->parsed()) {
        options.command = Command::List;
    } else if (parsed.check->parsed()) {
        options.command = Command::Check;
    } else if (parsed.history->parsed()) {
        options.command = Command::History;
        return CompleteHistory(options);
    } else {
        return "no command given: list, check, upgrade or history";
    }
    return std::nullopt;
}

std::optional<Command> CommandOf(const Parsed& parsed, CLI::App* command) {
    for (const auto& [app, named] :
         {std::pair{parsed.list, Command::List}, std::pair{parsed.check, Command::Check},
          std::pair{parsed.upgrade, Command::Upgrade},
          std::pair{parsed.history, Command::History}}) {
        if (app == command) {
            return named;
        }
    }
    return std::nullopt;
}

// The words the parser could not place, in the order they were written.
std::string Extras(CLI::App& app, const Parsed& parsed) {
    const std::vector<std::string> extras = app.remaining(true);
    std::string words;
    for (const std::string& word : extras) {
        words += (words.empty() ? "" : " ") + word;
    }
    if (extras.empty()) {
        return "not expected here";
    }
    if (extras.front().starts_with("-")) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        const std::string where =
            chosen.empty() ? "" : std::string(" of ") + CommandName(*CommandOf(parsed, chosen[0]));
        return "unknown option" + where + ": " + words;
    }
    if (app.get_subcommands().empty()) {
        return "unknown command: " + extras.front() +
               " (the commands: list, check, upgrade, history)";
    }
    return "not expected here: " + words;
}

// CLI11's words for a parse error, in the program's.
std::string Reason(const CLI::ParseError& error) {
    std::string what = error.what();
    if (what.find(" required ") != std::string::npos && what.ends_with(" missing")) {
        return what.substr(0, what.find(':')) + " needs a value";
    }
    return what;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, const std::string& version) {
    Parsed parsed;
    CLI::App app;
    Build(app, parsed);
    app.set_version_flag("--version", std::string(kProgram) + " " + version);
    // CLI11 takes the words last first.
    std::vector<std::string> words;
    for (int i = argc - 1; i >= 1; --i) {
        words.emplace_back(argv[i]);
    }
    ParsedCommandLine result;
    try {
        app.parse(std::move(words));
    } catch (const CLI::CallForHelp&) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        result.output = HelpText(chosen.empty() ? std::nullopt : CommandOf(parsed, chosen[0]));
        return result;
    } catch (const CLI::CallForVersion& e) {
        result.output = std::string(e.what()) + "\n";
        return result;
    } catch (const CLI::ExtrasError&) {
        return UsageError(Extras(app, parsed));
    } catch (const CLI::ParseError& e) {
        return UsageError(Reason(e));
    }
    if (std::optional<std::string> wrong = Complete(parsed)) {
        return UsageError(*wrong);
    }
    parsed.options.packageGiven = app.count("--package") > 0;
    result.options = std::move(parsed.options);
    return result;
}

std::vector<std::vector<std::string>> OptionSpellings(std::optional<Command> command) {
    Parsed parsed;
    CLI::App app;
    Build(app, parsed);
    app.set_version_flag("--version", "");
    std::vector<const CLI::App*> apps = {&app};
    if (command) {
        const std::map<Command, CLI::App*> commands = {{Command::List, parsed.list},
                                                       {Command::Check, parsed.check},
                                                       {Command::Upgrade, parsed.upgrade},
                                                       {Command::History, parsed.history}};
        apps.push_back(commands.at(*command));
    }
    std::vector<std::vector<std::string>> spellings;
    for (const CLI::App* each : apps) {
        for (const CLI::Option* option : each->get_options()) {
            std::vector<std::string> names;
            for (const std::string& name : option->get_snames()) {
                names.push_back("-" + name);
            }
            for (const std::string& name : option->get_lnames()) {
                names.push_back("--" + name);
            }
            // A command's help flag is the program's; the version is the program's alone.
            const bool program =
                each == &app && command && (names == std::vector<std::string>{"--version"});
            if (!names.empty() && !program &&
                std::find(spellings.begin(), spellings.end(), names) == spellings.end()) {
                spellings.push_back(names);
            }
        }
    }
    return spellings;
}

}  // namespace ZELKUtil::Cli
