// The examples of the line guide and of the manual page, played: each command of an example runs
// through zelk-cli's own entry, on emulated boxes set up as the text around it describes, and what
// the program prints must be what the example shows, so that the documents cannot drift from the
// program.
//
// An example shows what a terminal shows: standard output and the error stream together, each
// line where the program wrote it. "$ " starts a command (`echo $?` shows the exit code of the one
// before it, as does "; echo $?" after it). A line "^C" is Ctrl+C, pressed once the line shown
// before it is printed; the terminal's own echo of it is not the program's. A line "..." stands
// for any lines left out, and "..." within a line for any text; nothing else may be left out, and
// blanks count, so that columns stay where the example has them. Only a table's duration (a
// number with one decimal) takes as long as it takes: any such number of the same width, aligned
// the same way, stands for it. Lines of different boxes may come in any order between themselves
// (the boxes' runs are threads), and the run's own lines (those of no port) between any of them;
// the lines of one box (a table's row among them), and those of the run, come in the order shown.
// The progress rows of a terminal are drawn by the progress board and compared with what it draws.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <streambuf>
#include <thread>

#include "bench_runs/bench_world.h"
#include "cli/cli_entry.h"
#include "cli/console_lines.h"
#include "cli/progress_board.h"
#include "cli/q750_package.h"
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
std::vector<std::string> GuideBlock(const std::string& marker) {
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

// The pattern of an example's line as a regular expression: "..." for any text, and a duration
// for any number of its width that ends where it ends.
std::string PatternExpression(const std::string& pattern) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    static const std::regex duration(R"(( +)(\d+)\.\d( |$))");
    std::string expression;
    std::smatch m;
    std::string rest = pattern;
    const auto escape = [](const std::string& text) {
        const std::string escaped = std::regex_replace(text, special, R"(\$&)");
        return std::regex_replace(escaped, std::regex(R"(\\\.\\\.\\\.)"), ".*");
    };
    while (std::regex_search(rest, m, duration)) {
        const std::size_t width = m[1].length() + m[2].length();
        expression += escape(m.prefix().str()) + "(?= *\\d+\\.)[ \\d]{" + std::to_string(width) +
                      "}\\.\\d" + escape(m[3].str());
        rest = m.suffix().str();
    }
    return expression + escape(rest);
}

bool Matches(const std::string& pattern, const std::string& text) {
    return std::regex_match(text, std::regex(PatternExpression(pattern)));
}

// Whose line it is: the box's port (a table's row is its box's), or "" for the lines of the
// whole run.
std::string KeyOf(const std::string& line) {
    static const std::regex human(R"(^(\d[\d.-]*): .*)");
    static const std::regex json(R"re(^\{"event":"[a-z]+","port":"([^"]+)".*)re");
    static const std::regex row(R"(^\d{4}-\d\d-\d\dT[\d:]+Z +(\S+) .*)");
    std::smatch m;
    return std::regex_match(line, m, human) || std::regex_match(line, m, json) ||
                   std::regex_match(line, m, row)
               ? m[1].str()
               : "";
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

// What a terminal shows of the program: the lines of both streams in the order they were written.
class Terminal {
  public:
    Terminal() : out(&outBuffer_), err(&errBuffer_) {}
    std::vector<std::string> Lines() {
        const std::lock_guard<std::mutex> lock(lock_);
        return lines_;
    }
    // Tells of every line as it comes (outside the terminal's lock, so it may write a line).
    std::function<void(const std::string&)> onLine = [](const std::string&) {};
    void Take(const std::string& line) {
        {
            const std::lock_guard<std::mutex> lock(lock_);
            lines_.push_back(line);
        }
        onLine(line);
    }

  private:
    // A stream's characters, handed on a line at a time.
    class LineBuffer : public std::streambuf {
      public:
        explicit LineBuffer(Terminal& terminal) : terminal_(terminal) {}

      protected:
        int_type overflow(int_type c) override {
            if (c == traits_type::eof()) {
                return traits_type::not_eof(c);
            }
            if (c != '\n') {
                pending_ += static_cast<char>(c);
                return c;
            }
            std::string line;
            line.swap(pending_);
            terminal_.Take(line);
            return c;
        }

      private:
        Terminal& terminal_;
        std::string pending_;
    };

    std::mutex lock_;
    std::vector<std::string> lines_;
    LineBuffer outBuffer_{*this};
    LineBuffer errBuffer_{*this};

  public:
    std::ostream out;
    std::ostream err;
};

// One command of an example: its words after "zelk-cli", what it shows, its exit code, and the
// line after which Ctrl+C is pressed.
struct Step {
    std::vector<std::string> words;
    std::vector<std::string> shown;
    std::optional<int> exit;
    std::optional<std::string> ctrlCAfter;
};

// The exit code a step's shown lines end with, taken from them.
void TakeExit(Step& step) {
    ASSERT_FALSE(step.shown.empty()) << "\"; echo $?\" shows no exit code";
    step.exit = std::stoi(step.shown.back());
    step.shown.pop_back();
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
        } else if (line == "^C") {
            EXPECT_FALSE(steps.back().shown.empty() || steps.back().shown.back() == "...")
                << "Ctrl+C follows no line";
            steps.back().ctrlCAfter = steps.back().shown.back();
        } else if (!steps.empty()) {
            steps.back().shown.push_back(line);
        }
    }
    if (exitLast) {
        TakeExit(steps.back());
    }
    return steps;
}

// One key's lines as an example shows them: a pattern each, or a gap ("...") for any lines.
struct Shown {
    std::vector<std::optional<std::string>> items;  // nullopt: a gap
};

// Whether the printed lines are what the items show, a gap standing for any lines.
bool Fits(const std::vector<std::optional<std::string>>& items,
          const std::vector<std::string>& printed) {
    // fits[i][j]: items from i on show the printed lines from j on.
    std::vector<std::vector<char>> fits(items.size() + 1, std::vector<char>(printed.size() + 1, 0));
    fits[items.size()][printed.size()] = 1;
    for (std::size_t i = items.size(); i-- > 0;) {
        for (std::size_t j = printed.size() + 1; j-- > 0;) {
            const bool more = j < printed.size();
            fits[i][j] = static_cast<char>(
                items[i] ? more && fits[i + 1][j + 1] != 0 && Matches(*items[i], printed[j])
                         : fits[i + 1][j] != 0 || (more && fits[i][j + 1] != 0));
        }
    }
    return fits[0][0] != 0;
}

// What the program printed, both streams as a terminal shows them, is what the example shows:
// per box (and for the run's own lines), every line in its order, nothing more.
void ExpectShown(const std::vector<std::string>& shown, const std::vector<std::string>& printed) {
    std::map<std::string, Shown> expected;
    std::map<std::string, std::vector<std::string>> got;
    for (const std::string& line : printed) {
        got[KeyOf(line)].push_back(line);
        expected.try_emplace(KeyOf(line));
    }
    for (const std::string& line : shown) {
        expected.try_emplace(KeyOf(line));
    }
    for (const std::string& line : CheckBoardRows(shown)) {
        for (auto& [key, lines] : expected) {
            if (line == "...") {
                if (lines.items.empty() || lines.items.back()) {
                    lines.items.emplace_back();  // a gap for every key
                }
            } else if (KeyOf(line) == key) {
                lines.items.emplace_back(line);
            }
        }
    }
    for (const auto& [key, lines] : expected) {
        if (!Fits(lines.items, got[key])) {
            std::string text = "lines of \"" + key + "\" shown:\n";
            for (const auto& item : lines.items) {
                text += "  " + item.value_or("...") + "\n";
            }
            text += "printed:\n";
            for (const std::string& line : got[key]) {
                text += "  " + line + "\n";
            }
            ADD_FAILURE() << text;
        }
    }
}

// A bench with the package's one variant, Q750 at 2.04, and the boxes of an example.
struct ExampleBench {
    Testing::TempPackage pkg;
    ZELKSim::BenchWorld world;

    ExampleBench() : world(WriteQ750ArmPackage(pkg), 50) {}
    void Box(const std::string& port, const std::string& version, const std::string& serial,
             const wchar_t* product = L"ZELK Q750") {
        world.AddBox(port, {0x14E3, 0x0706, product}, version).SetSerial(serial);
    }
    // Runs one command through zelk-cli's entry; what it printed goes to the terminal.
    int Run(const Step& step, Terminal& terminal) {
        // The package is the bench's own (an example's "cd" into it included); the history is
        // the user's default one, in a state folder of the bench's own.
        std::vector<std::string> words = step.words;
        const auto package = std::find(words.begin(), words.end(), "--package");
        if (package != words.end()) {
            words.erase(package, package + 2);
        }
        words.insert(words.begin(), {"zelk-cli", "--package", pkg.Root()});
        std::vector<const char*> argv;
        argv.reserve(words.size());
        for (const std::string& word : words) {
            argv.push_back(word.c_str());
        }
        const std::string state = pkg.Path("state");
        StopRequests stops;
        PressCtrlCAfter(step, terminal, stops);
        CliPlatform platform = world.Platform(
            terminal.out, terminal.err,
            [state](const std::string& name) {
                return name == "XDG_STATE_HOME" || name == "LOCALAPPDATA" ? state : std::string();
            },
            stops);
        return RunCli(static_cast<int>(argv.size()), argv.data(), platform);
    }
    // Ctrl+C, as zelk-cli's signal handler takes it, once the line before it is printed.
    static void PressCtrlCAfter(const Step& step, Terminal& terminal, StopRequests& stops) {
        terminal.onLine = [&terminal, &stops, after = step.ctrlCAfter,
                           pressed = false](const std::string& line) mutable {
            if (after && !pressed && Matches(*after, line)) {
                pressed = true;
                terminal.Take(stops.Request(false));
            }
        };
    }
    // Plays the example's commands one after another.
    void Play(const std::vector<std::string>& block) {
        for (const Step& step : StepsOf(block)) {
            SCOPED_TRACE("zelk-cli " + ::testing::PrintToString(step.words));
            const bool watch =
                std::find(step.words.begin(), step.words.end(), "--watch") != step.words.end();
            ASSERT_TRUE(!watch || step.ctrlCAfter) << "a watch that no Ctrl+C ends";
            Terminal terminal;
            const int exit = Run(step, terminal);
            if (step.exit) {
                EXPECT_EQ(exit, *step.exit);
            }
            ExpectShown(step.shown, terminal.Lines());
        }
    }
};

TEST(DocExamples, TheLineGuidesWorkedExample) {
    ExampleBench bench;
    bench.Box("1-1", "2.01", "000123");
    bench.Box("1-2", "2.01", "000124");
    bench.Box("1-3", "3.00", "000125", L"ZELK Other");
    bench.Play(GuideBlock("A worked example"));
    // The rows a terminal shows meanwhile.
    const std::vector<std::string> rows = GuideBlock("On a terminal, a progress line");
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
