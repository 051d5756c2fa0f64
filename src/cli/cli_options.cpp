#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>

namespace ZELKUtil::Cli {
namespace {

constexpr const char* kProgram = "zelk-cli";
constexpr const char* kMoreHelp = "Run with --help for more information.\n";

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
    std::vector<std::string> upgradePorts;
    CLI::App* list = nullptr;
    CLI::App* check = nullptr;
    CLI::App* upgrade = nullptr;
    CLI::App* history = nullptr;
};

void AddGlobalOptions(CLI::App& app, Options& options) {
    app.add_option("--package", options.package,
                   "The upgrade package's folder (default: the working directory)")
        ->type_name("DIR")
        ->check(NotEmpty());
    app.add_flag("--json", options.json, "Write one JSON object per line instead of text");
    app.add_flag("-v,--verbose", options.verbose,
                 "Also show the window's log lines (marked [window]) and the decisions");
    app.add_option("--history", options.history,
                   "The history file (default: the per-user history file)")
        ->type_name("FILE")
        ->check(NotEmpty());
}

void AddUpgrade(CLI::App& app, Parsed& parsed) {
    parsed.upgrade = app.add_subcommand("upgrade", "Upgrade the boxes on the ports named, or all");
    // Each --port takes one port, so that a port is never mistaken for the next word.
    CLI::Option* port = parsed.upgrade
                            ->add_option("--port", parsed.upgradePorts,
                                         "One box's USB port; repeat --port for more boxes")
                            ->type_name("P")
                            ->allow_extra_args(false)
                            ->check(NotEmpty());
    CLI::Option* all = parsed.upgrade->add_flag("--all", parsed.options.all, "Every box present");
    port->excludes(all);
    parsed.upgrade->add_flag("--watch", parsed.options.watch,
                             "Keep running until Ctrl+C and upgrade every box plugged in later: "
                             "into the ports named, or anywhere without --port");
    parsed.upgrade
        ->add_option("--as", parsed.options.as,
                     "The box in its bootloader or programmer mode on the one port named is of "
                     "this model (a profile's id): its image is written into it")
        ->type_name("MODEL")
        ->check(NotEmpty());
    parsed.upgrade
        ->add_option("--timeout", parsed.options.timeoutMinutes,
                     "The longest one box's run may take, in minutes (default: 20)")
        ->type_name("MIN")
        ->check(CLI::Range(1, 24 * 60));
}

void AddCommands(CLI::App& app, Parsed& parsed) {
    parsed.list = app.add_subcommand("list", "List the boxes present and their firmware");
    parsed.check = app.add_subcommand(
        "check", "Tell what an upgrade would make of each box present, in the exit code too");
    AddUpgrade(app, parsed);
    parsed.history = app.add_subcommand("history", "Show the runs kept in the history file");
}

// The reason on one line, however CLI11 worded it.
ParsedCommandLine UsageError(std::string reason) {
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    ParsedCommandLine result;
    result.output = std::string(kProgram) + ": " + reason + "\n" + kMoreHelp;
    result.exitCode = kExitUsage;
    return result;
}

std::optional<std::string> CompleteUpgrade(Parsed& parsed) {
    Options& options = parsed.options;
    // Repeats are dropped: one box is upgraded once.
    for (std::string& port : parsed.upgradePorts) {
        if (std::find(options.ports.begin(), options.ports.end(), port) == options.ports.end()) {
            options.ports.push_back(std::move(port));
        }
    }
    if (options.watch && options.ports.empty()) {
        options.all = true;
    }
    if (!options.all && options.ports.empty()) {
        return "upgrade needs --port P or --all";
    }
    // The operator's word names one box: the one on the port named, never any box that appears.
    if (!options.as.empty() && (options.ports.size() != 1 || options.all)) {
        return "upgrade --as MODEL needs exactly one --port P, the box's";
    }
    return std::nullopt;
}

// The command that ran, with what only it means; nullopt with the reason when the combination is
// not one the program takes.
std::optional<std::string> Complete(Parsed& parsed) {
    Options& options = parsed.options;
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
    } else {
        return "no command given: list, check, upgrade or history";
    }
    return std::nullopt;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, const std::string& version) {
    Parsed parsed;
    CLI::App app(
        "Finds ZELK boxes on the USB bus and upgrades their firmware from an upgrade "
        "package.",
        kProgram);
    // The global options may also follow the command: a subcommand hands what it does not know
    // to the program.
    app.fallthrough();
    // At most one command; a missing one is told apart from a word that is no command below.
    app.require_subcommand(0, 1);
    app.footer("A command's own options: zelk-cli COMMAND --help. More in zelk-cli(1).");
    app.set_version_flag("--version", std::string(kProgram) + " " + version);
    AddGlobalOptions(app, parsed.options);
    AddCommands(app, parsed);

    // CLI11 takes the words last first.
    std::vector<std::string> words;
    for (int i = argc - 1; i >= 1; --i) {
        words.emplace_back(argv[i]);
    }
    ParsedCommandLine result;
    try {
        app.parse(std::move(words));
    } catch (const CLI::CallForHelp&) {
        result.output = app.help();
        return result;
    } catch (const CLI::CallForVersion& e) {
        result.output = std::string(e.what()) + "\n";
        return result;
    } catch (const CLI::ExtrasError&) {
        // CLI11 names them in the order it took them, last first.
        std::string extras;
        for (const std::string& word : app.remaining(true)) {
            extras += (extras.empty() ? "" : " ") + word;
        }
        return UsageError("not expected here: " + extras);
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (std::optional<std::string> wrong = Complete(parsed)) {
        return UsageError(*wrong);
    }
    result.options = std::move(parsed.options);
    return result;
}

}  // namespace ZELKUtil::Cli
