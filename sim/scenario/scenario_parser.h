#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scenario/scenario.h"
#include "scenario/scenario_tokenizer.h"

namespace ZELKSim {

// The longest run a scenario may ask for: a day of virtual time, so that a mistyped number cannot
// keep the runner busy for hours.
constexpr std::int64_t kMaxTimeMs = 24LL * 3600 * 1000;
constexpr std::int64_t kMaxTicks = kMaxTimeMs / ScenarioWorld::kTimerIntervalMs;

class ScenarioParser;

// A command of a scenario line, or an item after one ("box version"), and what reads the rest of
// the line. The dispatcher checks the word count first: `words` more words after the command, none
// of them key=value, else "usage: " and `usage`; a handler that takes a varying count checks its
// words itself.
struct Keyword {
    static constexpr std::size_t kOwnWords = static_cast<std::size_t>(-1);

    std::string_view name;
    std::size_t words = kOwnWords;
    std::string_view usage;
    void (*handle)(ScenarioParser& parser, const Tokens& t) = nullptr;
};

using Keywords = std::span<const Keyword>;

// Reads a scenario line by line into its steps. The keywords' handlers read their words through
// the shared checks here, which note the first error with its line.
class ScenarioParser {
  public:
    explicit ScenarioParser(std::string_view text);

    ScenarioParseResult Parse();

    // The first error wins; later ones are dropped.
    void Fail(const std::string& error);

    // Checks the word count: the command and `count` more words, none of them key=value.
    bool Words(const Tokens& t, std::size_t count, const std::string& usage);
    std::optional<std::int64_t> Number(const Token& token, std::int64_t min, std::int64_t max);
    std::optional<bool> Flag(const Token& token);
    std::optional<ZELKUtil::Control> ControlNamed(const Token& token);
    // "COMMAND ITEM NAME", the name one of `choices`: its value, or none after
    // "usage: COMMAND ITEM NAME1|NAME2|..." (the names in the order given).
    template <typename Value>
    std::optional<Value> Choice(const Tokens& t,
                                std::initializer_list<std::pair<std::string_view, Value>> choices) {
        std::string usage = t[0].value + " " + t[1].value;
        for (const auto& choice : choices) {
            usage += (&choice == choices.begin() ? " " : "|") + std::string(choice.first);
        }
        if (!Words(t, 2, usage)) {
            return std::nullopt;
        }
        for (const auto& [name, value] : choices) {
            if (name == t[2].value) {
                return value;
            }
        }
        Fail("usage: " + usage);
        return std::nullopt;
    }
    // Whether no step that needs the controller came yet; an error naming `what` otherwise.
    bool NotStarted(const std::string& what);
    // The "|" lines after the current line, up to "end".
    std::optional<std::vector<std::string>> Block(const std::string& what);

    // Runs the handler of the keyword t[at] names, after checking its word count. False when the
    // table has no such keyword.
    bool Dispatch(Keywords table, std::size_t at, const Tokens& t);
    // A command whose second word names an item of `items`: "usage: `usage`" without one,
    // "`unknown` 'ITEM'" for an item that is not there.
    void Items(const Tokens& t, Keywords items, const std::string& usage,
               const std::string& unknown);

    // Adds a step for the current line.
    void Add(StepAction action, bool needsController = true, bool stopsOnFailure = false);
    // Adds an expectation: a failure with this line when the texts differ.
    void AddExpect(std::string what, std::function<std::string(ScenarioRun&)> actual,
                   std::string expected);

    int Line() const { return line_; }
    Scenario& Result() { return result_.scenario; }

  private:
    void Command(const Tokens& t);

    std::vector<std::string> lines_;
    std::size_t index_ = 0;
    int line_ = 0;
    bool started_ = false;
    ScenarioParseResult result_;
};

// The commands, by their jobs: what the package holds and the machine it runs on, the box, the
// emulated tools, the run's steps (time, the operator, the box's plug) and the expectations.
Keywords SetupKeywords();
Keywords BoxKeywords();
Keywords StepKeywords();
Keywords ExpectKeywords();

}  // namespace ZELKSim
