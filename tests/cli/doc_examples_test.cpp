// The examples of the line guide and of the manual page, played: each command of an example runs on
// emulated boxes set up as the text around it describes, and what the program prints must be what
// the example shows, so that the documents cannot drift from the program.
//
// In an example, "$ " starts a command (`echo $?` shows the exit code of the one before it), a
// line "..." stands for lines left out, and "..." within a line for any text. Lines of different
// boxes may come in any order between themselves (the boxes' runs are threads); a box's own lines
// come in the order shown, one right after the other where no "..." is between them. The progress
// rows of a terminal are drawn by the progress board and compared with what it draws.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "bench_runs/bench_world.h"
#include "cli/cli_options.h"
#include "cli/progress_board.h"
#include "package/package_files.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

std::vector<std::string> ReadLines(const std::string& name) {
    std::ifstream file(std::string(ZELK_DOCS_DIR) + "/" + name);
    EXPECT_TRUE(file) << name;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The line guide's indented block after the paragraph that starts with `marker`, without its
// indent.
std::vector<std::string> ReadmeBlock(const std::string& marker) {
    const std::vector<std::string> doc = ReadLines("docs/line-guide.md");
    auto it = std::find_if(doc.begin(), doc.end(), [&](auto& l) { return l.starts_with(marker); });
    EXPECT_NE(it, doc.end()) << marker;
    while (it != doc.end() && !it->starts_with("    ")) {
        ++it;  // the rest of the paragraph, and the blank line
    }
    std::vector<std::string> block;
    for (; it != doc.end() && it->starts_with("    "); ++it) {
        block.push_back(it->substr(4));
    }
    return block;
}

// The manual page's example blocks (.nf to .fi) of a section, with roff's escapes undone.
std::vector<std::vector<std::string>> ManBlocks(const std::string& section) {
    std::vector<std::vector<std::string>> blocks;
    bool inSection = false;
    bool inBlock = false;
    for (std::string line : ReadLines("packaging/zelk-cli.1")) {
        if (line.starts_with(".SH")) {
            inSection = line == ".SH " + section;
        } else if (inSection && line == ".nf") {
            inBlock = true;
            blocks.emplace_back();
        } else if (line == ".fi") {
            inBlock = false;
        } else if (inBlock) {
            line = std::regex_replace(line, std::regex(R"(\\\(->)"), "→");
            line = std::regex_replace(line, std::regex(R"(\\&)"), "");
            blocks.back().push_back(std::regex_replace(line, std::regex(R"(\\-)"), "-"));
        }
    }
    return blocks;
}

// "..." within the pattern stands for any text.
bool Matches(const std::string& pattern, const std::string& text) {
    // A duration (the one number with one decimal) takes as long as it takes; columns line up
    // however wide it is.
    const auto loose = [](const std::string& s) {
        return std::regex_replace(std::regex_replace(s, std::regex(R"( +\d+\.\d( |$))"), " #$1"),
                                  std::regex(" +"), " ");
    };
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    const std::string escaped = std::regex_replace(loose(pattern), special, R"(\$&)");
    const std::string expression = std::regex_replace(escaped, std::regex(R"(\\\.\\\.\\\.)"), ".*");
    return std::regex_match(loose(text), std::regex(expression));
}

// Whose line it is: the box's port, or "" for the lines of the whole run.
std::string KeyOf(const std::string& line) {
    static const std::regex human(R"(^(\d[\d.-]*): .*)");
    static const std::regex json(R"re(^\{"event":"[a-z]+","port":"([^"]+)".*)re");
    std::smatch m;
    return std::regex_match(line, m, human) || std::regex_match(line, m, json) ? m[1].str() : "";
}

// The progress rows among the lines shown are checked against the board's own drawing, and left
// out of what the program printed.
std::vector<std::string> CheckBoardRows(const std::vector<std::string>& shown) {
    static const std::regex row(R"(^(\S+): \[[# ]{20}\] +(\d+) %  ([^,]*), about (\d+) s left$)");
    ProgressBoard board;
    std::vector<std::string> rows;
    std::vector<std::string> rest;
    for (const std::string& line : shown) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) {
            rest.push_back(line);
            continue;
        }
        rows.push_back(line);
        const std::optional<BoxState> state = StateNamed(m[3].str());
        EXPECT_TRUE(state) << line;
        board.Show(Events::State{m[1].str(), state.value_or(BoxState::Waiting)});
        board.Show(Events::Progress{m[1].str(), std::stoi(m[2].str()), std::stoll(m[4].str())});
    }
    std::string drawn = board.Draw();
    for (const std::string& expected : rows) {
        const std::size_t end = drawn.find('\n');
        EXPECT_EQ(drawn.substr(0, end), expected);
        drawn.erase(0, end + 1);
    }
    return rest;
}

// One command of an example: its words after "zelk-cli", what it shows, and its exit code.
struct Step {
    std::vector<std::string> words;
    std::vector<std::string> shown;
    std::optional<int> exit;
};

// The exit code a step's shown lines end with, taken from them.
void TakeExit(Step& step) {
    if (!step.shown.empty()) {
        step.exit = std::stoi(step.shown.back());
        step.shown.pop_back();
    }
}

std::vector<Step> StepsOf(const std::vector<std::string>& block) {
    std::vector<Step> steps;
    bool exitFollows = false;
    bool exitLast = false;  // "...; echo $?": the step's last line is its exit code
    for (const std::string& line : block) {
        if (line.starts_with("$ ")) {
            if (exitLast) {
                TakeExit(steps.back());
            }
            std::string command = line.substr(2);
            exitFollows = command == "echo $?";
            exitLast = command.ends_with("; echo $?");
            if (exitFollows) {
                continue;
            }
            command = command.substr(0, command.find(';'));
            std::istringstream words(command.substr(command.find("zelk-cli") + 9));
            steps.emplace_back();
            for (std::string word; words >> word;) {
                steps.back().words.push_back(word);
            }
        } else if (exitFollows) {
            steps.back().exit = std::stoi(line);
            exitFollows = false;
        } else if (!steps.empty()) {
            steps.back().shown.push_back(line);
        }
    }
    if (exitLast) {
        TakeExit(steps.back());
    }
    return steps;
}

// What the program printed shows as the example shows it.
void ExpectShown(const std::vector<std::string>& shown, const std::vector<std::string>& writes) {
    std::vector<std::string> printed;  // a table comes in one write
    for (const std::string& write : writes) {
        std::istringstream lines(write);
        for (std::string line; std::getline(lines, line);) {
            printed.push_back(line);
        }
    }
    std::map<std::string, std::size_t> next;  // per key, where its next line may be
    std::map<std::string, bool> anywhere;     // a "..." came since the key's last line
    bool gap = false;
    for (const std::string& line : CheckBoardRows(shown)) {
        if (line == "...") {
            gap = true;
            for (auto& [key, loose] : anywhere) {
                loose = true;
            }
            continue;
        }
        const std::string key = KeyOf(line);
        const bool loose = anywhere.count(key) != 0 ? anywhere[key] : gap;
        std::size_t at = next[key];
        while (at < printed.size() && (KeyOf(printed[at]) != key || !Matches(line, printed[at]))) {
            if (!loose && KeyOf(printed[at]) == key) {
                ADD_FAILURE() << "shown: " << line << "\nprinted instead: " << printed[at];
                return;
            }
            ++at;
        }
        if (at == printed.size()) {
            ADD_FAILURE() << "never printed: " << line;
            return;
        }
        next[key] = at + 1;
        anywhere[key] = false;
    }
}

// A bench with the package's one variant, Q750 at 2.04, and the boxes of an example.
struct ExampleBench {
    Testing::TempPackage pkg;
    ZELKSim::BenchWorld world;

    ExampleBench() : world(Write(pkg), 50) {}
    static std::string Write(const Testing::TempPackage& pkg) {
        ZELKSim::PackageContents package;
        package.version = "2.04";
        package.details = R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")"
                          R"( name="ZELK Q750" LPC3131="q750.bin" A3P060="" A3PN060=""/>)";
        package.files = {"q750.bin"};
        package.tools = {PackageFiles::kDfuUtil};
        EXPECT_TRUE(ZELKSim::WritePackage(pkg.Root(), package));
        return pkg.Root();
    }
    void Box(const std::string& port, const std::string& version, const std::string& serial,
             const wchar_t* product = L"ZELK Q750") {
        world.AddBox(port, {0x14E3, 0x0706, product}, version).SetSerial(serial);
    }
    // Plays the example's commands one after another.
    void Play(const std::vector<std::string>& block) {
        for (const Step& step : StepsOf(block)) {
            SCOPED_TRACE("zelk-cli " + ::testing::PrintToString(step.words));
            std::vector<std::string> words = step.words;
            // The package and the history are the bench's own.
            const auto package = std::find(words.begin(), words.end(), "--package");
            if (package != words.end()) {
                words.erase(package, package + 2);
            }
            words.insert(words.begin(), {"zelk-cli", "--history", pkg.Path("history.jsonl")});
            std::vector<const char*> argv;
            argv.reserve(words.size());
            for (const std::string& word : words) {
                argv.push_back(word.c_str());
            }
            const ParsedCommandLine parsed =
                ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "0");
            ASSERT_TRUE(parsed.options) << parsed.output;
            world.out.clear();
            world.stopping = false;
            // A watch goes on until Ctrl+C: pressed once its box has its result.
            world.onLine = [this](const std::string& line) {
                if (line.find(R"("event":"result")") != std::string::npos) {
                    world.stopping = true;
                }
            };
            const int exit = world.Run(*parsed.options);
            if (step.exit) {
                EXPECT_EQ(exit, *step.exit);
            }
            ExpectShown(step.shown, world.out);
        }
    }
};

TEST(DocExamples, TheLineGuidesWorkedExample) {
    ExampleBench bench;
    bench.Box("1-1", "2.01", "000123");
    bench.Box("1-2", "2.01", "000124");
    bench.Box("1-3", "3.00", "000125", L"ZELK Other");
    bench.Play(ReadmeBlock("A worked example"));
    // The rows a terminal shows meanwhile.
    const std::vector<std::string> rows = ReadmeBlock("On a terminal, a progress line");
    EXPECT_EQ(rows.size(), 2U);
    EXPECT_TRUE(CheckBoardRows(rows).empty());
}

TEST(DocExamples, TheManualPagesExamplesAndOutput) {
    const auto examples = ManBlocks("EXAMPLES");
    ASSERT_EQ(examples.size(), 2U);
    ExampleBench bench;
    bench.Box("1-2", "2.01", "000123");
    bench.Box("1-3", "2.04", "000124");
    bench.Play(examples[0]);
    // OUTPUT's lines, each for example, are among those of the first example's upgrade.
    std::vector<std::string> output{"$ zelk-cli upgrade --port 1-2"};
    for (const auto& block : ManBlocks("OUTPUT")) {
        for (const std::string& line : block) {
            output.insert(output.end(), {"...", line});
        }
    }
    bench.world.boxes[0].SetFirmwareVersion("2.01");
    bench.Play(output);

    ExampleBench line;
    line.Box("2-1", "2.01", "000001");
    line.Play(examples[1]);
}

}  // namespace
}  // namespace ZELKUtil::Cli
