#include "scenario/scenario_parser.h"

#include <array>

#include "scenario/console_view.h"

namespace ZELKSim {

ScenarioParser::ScenarioParser(std::string_view text) {
    std::size_t start = 0;
    // A last line end ends the last line; it does not begin an empty one.
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        // A scenario written with CR LF line ends reads like one written with LF.
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines_.emplace_back(line);
        start = end + 1;
    }
}

ScenarioParseResult ScenarioParser::Parse() {
    for (index_ = 0; index_ < lines_.size() && result_.errorLine == 0; ++index_) {
        line_ = static_cast<int>(index_) + 1;
        Tokens tokens;
        if (std::string error = Tokenize(lines_[index_], tokens); !error.empty()) {
            Fail(error);
            break;
        }
        if (tokens.empty()) {
            continue;
        }
        if (tokens[0].keyed) {
            Fail("a line begins with a command, not with " + tokens[0].key + "=");
            break;
        }
        Command(tokens);
    }
    return std::move(result_);
}

void ScenarioParser::Command(const Tokens& t) {
    const std::array<Keywords, 4> tables = {SetupKeywords(), BoxKeywords(), StepKeywords(),
                                            ExpectKeywords()};
    for (const Keywords table : tables) {
        if (Dispatch(table, 0, t)) {
            return;
        }
    }
    Fail("unknown command '" + t[0].value + "'");
}

bool ScenarioParser::Dispatch(Keywords table, std::size_t at, const Tokens& t) {
    for (const Keyword& keyword : table) {
        if (keyword.name != t[at].value) {
            continue;
        }
        if (keyword.words == Keyword::kOwnWords ||
            Words(t, keyword.words, std::string(keyword.usage))) {
            keyword.handle(*this, t);
        }
        return true;
    }
    return false;
}

void ScenarioParser::Items(const Tokens& t, Keywords items, const std::string& usage,
                           const std::string& unknown) {
    if (t.size() < 2) {
        Fail("usage: " + usage);
    } else if (!Dispatch(items, 1, t)) {
        Fail(unknown + " '" + t[1].value + "'");
    }
}

void ScenarioParser::Fail(const std::string& error) {
    if (result_.errorLine == 0) {
        result_.errorLine = line_;
        result_.error = error;
    }
}

void ScenarioParser::Add(StepAction action, bool needsController, bool stopsOnFailure) {
    if (needsController) {
        started_ = true;
    }
    std::string text = lines_[static_cast<std::size_t>(line_ - 1)];
    text.erase(0, text.find_first_not_of(" \t"));
    result_.scenario.steps.push_back(
        {line_, std::move(text), needsController, stopsOnFailure, std::move(action)});
}

void ScenarioParser::AddExpect(std::string what, std::function<std::string(ScenarioRun&)> actual,
                               std::string expected) {
    const int line = line_;
    Add([line, what = std::move(what), actual = std::move(actual),
         expected = std::move(expected)](ScenarioRun& run) {
        const std::string got = actual(run);
        if (got != expected) {
            run.failures.push_back(std::to_string(line) + ": expected " + what + " " + expected +
                                   ", got " + got);
        }
        return std::string();
    });
}

bool ScenarioParser::Words(const Tokens& t, std::size_t count, const std::string& usage) {
    if (t.size() != count + 1) {
        Fail("usage: " + usage);
        return false;
    }
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i].keyed) {
            Fail("usage: " + usage);
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> ScenarioParser::Number(const Token& token, std::int64_t min,
                                                   std::int64_t max) {
    const auto value = ParseInt(token.value, min, max);
    if (!value) {
        Fail("'" + token.value + "' is not a number from " + std::to_string(min) + " to " +
             std::to_string(max));
    }
    return value;
}

std::optional<bool> ScenarioParser::Flag(const Token& token) {
    if (token.value == "yes" || token.value == "on") {
        return true;
    }
    if (token.value == "no" || token.value == "off") {
        return false;
    }
    Fail("'" + token.value + "' is neither yes nor no");
    return std::nullopt;
}

std::optional<ZELKUtil::Control> ScenarioParser::ControlNamed(const Token& token) {
    const auto control = ControlByName(token.value);
    if (!control) {
        Fail("no control is named '" + token.value + "'");
    }
    return control;
}

bool ScenarioParser::NotStarted(const std::string& what) {
    if (started_) {
        Fail("'" + what + "' lines come before the first step of the run");
        return false;
    }
    return true;
}

std::optional<std::vector<std::string>> ScenarioParser::Block(const std::string& what) {
    const int opening = line_;
    std::vector<std::string> lines;
    for (++index_; index_ < lines_.size(); ++index_) {
        line_ = static_cast<int>(index_) + 1;
        const std::string& raw = lines_[index_];
        const std::size_t first = raw.find_first_not_of(" \t");
        if (first == std::string::npos) {
            Fail("an empty line inside the " + what + " block; write \"|\" for an empty line");
            return std::nullopt;
        }
        if (raw.compare(first, std::string::npos, "end") == 0) {
            line_ = opening;
            return lines;
        }
        if (raw[first] != '|') {
            Fail("a line of the " + what + " block begins with \"|\"; the block ends with " +
                 "\"end\"");
            return std::nullopt;
        }
        std::string line;
        if (std::string error = Unescape(std::string_view(raw).substr(first + 1), line);
            !error.empty()) {
            Fail(error);
            return std::nullopt;
        }
        lines.push_back(std::move(line));
    }
    line_ = opening;
    Fail("the " + what + " block has no \"end\"");
    return std::nullopt;
}

ScenarioParseResult ParseScenario(std::string_view text) {
    return ScenarioParser(text).Parse();
}

}  // namespace ZELKSim
