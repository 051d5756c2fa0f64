#include "cli/cli_help.h"

#include <sstream>

namespace ZELKUtil::Cli {
namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kTextColumn = 22;

const std::vector<OptionHelp> kGlobal = {
    {{"--package"}, "DIR", "the upgrade package's folder (default: the working directory)"},
    {{"--history"}, "FILE", "the history file (default: the per-user one)"},
    {{"--json"}, "", "one JSON object per line instead of text (see zelk-cli(1), OUTPUT)"},
    {{"-v", "--verbose"}, "", "also the window's log lines (marked [window]) and its decisions"},
    {{"-q", "--quiet"}, "", "only how each box ended, not the steps of its road"},
    {{"-h", "--help"}, "", "this help"},
};

const OptionHelp kPort = {{"--port"}, "P", "the box on this USB port (such as 1-2); repeatable"};
const OptionHelp kSerial = {
    {"--serial"}, "S", "the box with this serial, on whichever port it is; repeatable"};

const std::vector<OptionHelp> kProgramOptions = {
    {{"--version"}, "", "the program's version"},
};

const std::vector<OptionHelp> kList = {kPort, kSerial};

const std::vector<OptionHelp> kUpgrade = {
    kPort,
    kSerial,
    {{"--all"}, "", "every box present (not with --port or --serial)"},
    {{"--watch"},
     "",
     "keep running until Ctrl+C and upgrade every box plugged in later: the boxes named "
     "wherever they are plugged in, or any box when none is named"},
    {{"--as"},
     "MODEL",
     "the box in its bootloader or programmer mode on the one port named is of this model "
     "(a profile's id): its image is written into it"},
    {{"--timeout"},
     "MIN",
     "the longest one box's run may take, in whole minutes from 1 to 1440 (default: 20)"},
    {{"--station"}, "NAME", "this station's name in the history (default: the host name)"},
    {{"--operator"}, "NAME", "who runs the upgrade, kept in the history"},
};

const std::vector<OptionHelp> kHistory = {
    {{"--port"}, "P", "only the boxes recorded on this port; repeatable"},
    {{"--serial"}, "S", "only the boxes with this serial; repeatable"},
    {{"--result"},
     "R",
     "only the boxes that ended so: upgraded, up-to-date, failed, interrupted, stopped, "
     "\"left alone\", unfinished or resumed; repeatable"},
    {{"--since"},
     "TIME",
     "only records from this UTC date or time on (2026-12-08, or 2026-12-08T10:00:00Z)"},
    {{"--csv"}, "", "comma-separated values with a header row instead of the table"},
};

struct CommandHelp {
    const char* what;
    const char* usage;
    const char* exits;
    const char* example;
};

CommandHelp HelpOf(std::optional<Command> command) {
    if (!command) {
        return {
            "Finds ZELK boxes on the USB bus and upgrades their firmware from an upgrade "
            "package.",
            "zelk-cli [OPTIONS] COMMAND [COMMAND OPTIONS]\n"
            "Commands:\n"
            "  list      the boxes present, their mode, serial and firmware\n"
            "  check     what an upgrade would make of each box, in the exit status too\n"
            "  upgrade   upgrade the boxes named, or every box\n"
            "  history   the boxes' runs kept in the history\n"
            "A command's own help: zelk-cli COMMAND --help.",
            "0 done; 64 the command line is wrong; each command's help tells the rest.",
            "zelk-cli --package /media/usb/package upgrade --all"};
    }
    switch (*command) {
        case Command::List:
            return {
                "Lists the boxes present: port, mode, product, serial and version, and with a "
                "package what an upgrade would make of each. Without a package, only boxes "
                "with the default USB IDs are found in their normal mode (a package's "
                "profiles may name others); every box in its bootloader or programmer mode is "
                "found.",
                "zelk-cli [--package DIR] list [--port P]... [--serial S]...",
                "0 boxes listed; 3 no box found; 64 the command line is wrong; 66 the package "
                "named cannot be used.",
                "zelk-cli list --serial 100001"};
        case Command::Check:
            return {"Tells what an upgrade would make of each box present, touching none.",
                    "zelk-cli [--package DIR] check [--port P]... [--serial S]...",
                    "0 every box is up to date; 2 a box needs an upgrade or tells no version; 3 no "
                    "box found; 5 a box cannot take this package; 64 the command line is wrong; "
                    "66 the package cannot be used.",
                    "zelk-cli --package /media/usb/package check; echo $?"};
        case Command::Upgrade:
            return {
                "Upgrades the boxes named to the package's version, each on its own port, "
                "side by side, and keeps a record of each in the history.",
                "zelk-cli [--package DIR] upgrade (--port P | --serial S)... [--watch]\n"
                "       zelk-cli [--package DIR] upgrade --all [--watch]",
                "0 every box has the package's version; 1 a box failed, was interrupted or "
                "left alone; 3 no box found; 4 Ctrl+C left work undone; 64 the command line "
                "is wrong; 66 the package cannot be used; 73 the history cannot be written.",
                "zelk-cli --package /media/usb/package upgrade --all --station bench-3"};
        case Command::History:
            return {
                "Shows the boxes' runs kept in the history, each box once with how it ended; "
                "several history files (one per station) are read together, merged by time.",
                "zelk-cli history [--port P]... [--serial S]... [--result R]...\n"
                "                        [--since TIME] [--csv] [FILE...]",
                "0 shown; 64 the command line is wrong; 74 a history cannot be read or the "
                "output cannot be written.",
                "zelk-cli history --since 2026-12-01 --result failed a.jsonl b.jsonl"};
    }
    return {};
}

// The words of `text`, wrapped to the help's width from `column` on.
void Wrap(std::ostringstream& out, const std::string& text, std::size_t column, std::size_t at) {
    std::istringstream words(text);
    std::size_t position = at;
    bool first = true;
    for (std::string word; words >> word;) {
        if (!first && position + 1 + word.size() > kWidth) {
            out << "\n" << std::string(column, ' ');
            position = column;
        } else if (!first) {
            out << ' ';
            ++position;
        }
        out << word;
        position += word.size();
        first = false;
    }
    out << "\n";
}

void ListOptions(std::ostringstream& out, const std::vector<OptionHelp>& options) {
    for (const OptionHelp& option : options) {
        std::string names = "  ";
        for (const std::string& spelling : option.spellings) {
            names += (names.size() > 2 ? ", " : "") + spelling;
        }
        if (!option.value.empty()) {
            names += " " + option.value;
        }
        out << names;
        if (names.size() + 2 > kTextColumn) {
            out << "\n" << std::string(kTextColumn, ' ');
        } else {
            out << std::string(kTextColumn - names.size(), ' ');
        }
        Wrap(out, option.text, kTextColumn, kTextColumn);
    }
}

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::List:
            return "list";
        case Command::Check:
            return "check";
        case Command::Upgrade:
            return "upgrade";
        case Command::History:
            return "history";
    }
    return "";
}

const std::vector<OptionHelp>& CommandOptionsHelp(std::optional<Command> command) {
    if (!command) {
        return kProgramOptions;
    }
    switch (*command) {
        case Command::List:
        case Command::Check:
            return kList;
        case Command::Upgrade:
            return kUpgrade;
        case Command::History:
            return kHistory;
    }
    return kProgramOptions;
}

const std::vector<OptionHelp>& GlobalOptionsHelp() {
    return kGlobal;
}

std::string HelpText(std::optional<Command> command) {
    const CommandHelp help = HelpOf(command);
    std::ostringstream out;
    Wrap(out, help.what, 0, 0);
    out << "\nUsage: " << help.usage << "\n";
    out << "\nOptions:\n";
    if (command) {
        ListOptions(out, CommandOptionsHelp(command));
        out << "\nOptions of every command (before or after it):\n";
        ListOptions(out, kGlobal);
    } else {
        ListOptions(out, kGlobal);
        ListOptions(out, kProgramOptions);
    }
    out << "\nExit status: ";
    Wrap(out, help.exits, 2, 13);
    out << "\nExample:\n  " << help.example << "\n\nMore in zelk-cli(1).\n";
    return out.str();
}

}  // namespace ZELKUtil::Cli
