// Reads a bench scenario. The package lines are those of the scenario files, read by their parser.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <utility>

#include "bench_runs/bench_scenario.h"
#include "scenario/scenario.h"
#include "scenario/scenario_tokenizer.h"

namespace ZELKSim {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) {
        std::istringstream in{std::string(text)};
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines_.push_back(line);
        }
    }

    BenchScenarioParse Parse() {
        std::string packageLines;
        for (index_ = 0; index_ < lines_.size() && result_.errorLine == 0; ++index_) {
            Tokens t;
            if (const std::string error = Tokenize(lines_[index_], t); !error.empty()) {
                Fail(error);
                break;
            }
            const bool package = !t.empty() && t[0].value == "package" && !t[0].keyed;
            // The package lines keep their line numbers for the scenario parser's errors.
            packageLines += (package ? lines_[index_] : "") + "\n";
            if (!t.empty() && !package) {
                Command(t);
            }
        }
        if (result_.errorLine == 0) {
            ScenarioParseResult package = ParseScenario(packageLines);
            result_.scenario.package = std::move(package.scenario.package);
            result_.errorLine = package.errorLine;
            result_.error = std::move(package.error);
        }
        if (result_.errorLine == 0 && result_.scenario.arguments.empty()) {
            index_ = lines_.size() - 1;
            Fail("no run line: what the program is asked to do");
        }
        return std::move(result_);
    }

  private:
    void Fail(const std::string& error) {
        if (result_.errorLine == 0) {
            result_.errorLine = static_cast<int>(index_) + 1;
            result_.error = error;
        }
    }

    // unplug|plug|stop [TARGET], swap VERSION [TARGET], history-breaks.
    static bool WhenAction(const Tokens& t) {
        if (t.empty()) {
            return false;
        }
        const std::string& action = t[0].value;
        if (action == "swap") {
            return t.size() == 2 || t.size() == 3;
        }
        if (action == "history-breaks") {
            return t.size() == 1;
        }
        return (action == "unplug" || action == "plug" || action == "stop") && t.size() <= 2;
    }

    static bool Plain(const Tokens& t) {
        return std::none_of(t.begin(), t.end(), [](const Token& w) { return w.keyed; });
    }

    void Command(const Tokens& t) {
        const std::string& command = t[0].value;
        BenchScenario& s = result_.scenario;
        if (command == "box") {
            Box(t);
        } else if (command == "history" && t.size() == 2 && Plain(t)) {
            s.history = t[1].value;
        } else if (command == "tools" && t.size() == 3 && Plain(t) && t[1].value == "new-version") {
            s.newVersion = t[2].value;
        } else if (command == "when") {
            When(t);
        } else if (command == "run" && t.size() >= 2 && Plain(t)) {
            for (std::size_t i = 1; i < t.size(); ++i) {
                s.arguments.push_back(t[i].value);
            }
        } else if (command == "expect" && t.size() >= 2 && Plain(t)) {
            Expect(t);
        } else {
            Fail(
                "unknown line; a bench scenario has package, tools new-version, box, history, "
                "when, run and expect lines");
        }
    }

    // when PORT "TEXT"|FIELD=VALUE... ACTION...
    void When(const Tokens& t) {
        static const char* const kUsage =
            "usage: when PORT \"TEXT\"|FIELD=VALUE... unplug|plug|stop [TARGET] | swap "
            "VERSION [TARGET] | history-breaks";
        if (t.size() < 2 || t[1].keyed) {
            Fail(kUsage);
            return;
        }
        BenchScenario::When when;
        std::size_t at = 2;
        for (; at < t.size() && t[at].keyed; ++at) {
            when.fields.emplace_back(t[at].key, t[at].value);
        }
        if (when.fields.empty() && at < t.size()) {
            when.text = t[at++].value;
        }
        const Tokens action(t.begin() + static_cast<std::ptrdiff_t>(at), t.end());
        if (!Plain(action) || !WhenAction(action)) {
            Fail(kUsage);
            return;
        }
        const bool swap = action[0].value == "swap";
        const std::size_t targetAt = swap ? 2 : 1;
        when.port = t[1].value;
        when.action = action[0].value;
        when.target = action.size() > targetAt ? action[targetAt].value : t[1].value;
        when.version = swap ? action[1].value : "";
        result_.scenario.whens.push_back(std::move(when));
    }

    void Box(const Tokens& t) {
        static const char* const kUsage =
            "usage: box PORT VERSION [product=NAME] [serial=TEXT] [idcode=HEX] [checksum=HEX] "
            "[unplugged|bootloader|programmer]";
        if (t.size() < 3 || t[1].keyed || t[2].keyed) {
            Fail(kUsage);
            return;
        }
        BenchScenario::Box box;
        box.port = t[1].value;
        box.version = t[2].value;
        for (std::size_t i = 3; i < t.size(); ++i) {
            const std::string& key = t[i].key;
            if (t[i].keyed && key == "product") {
                box.product = t[i].value;
            } else if (t[i].keyed && key == "serial") {
                box.serial = t[i].value;
            } else if (t[i].keyed && (key == "idcode" || key == "checksum")) {
                const std::optional<std::uint32_t> value = Hex(t[i].value);
                if (!value || (key == "checksum" && *value > 0xFFFF)) {
                    Fail(kUsage);
                    return;
                }
                if (key == "idcode") {
                    box.idcode = *value;
                } else {
                    box.checksum = static_cast<std::uint16_t>(*value);
                }
            } else if (!t[i].keyed && t[i].value == "unplugged") {
                box.plugged = false;
            } else if (!t[i].keyed && (t[i].value == "bootloader" || t[i].value == "programmer")) {
                box.mode =
                    t[i].value == "bootloader" ? BoxMode::Bootloader : BoxMode::FpgaProgrammer;
            } else {
                Fail(kUsage);
            }
        }
        result_.scenario.boxes.push_back(box);
    }

    // "0x1234" or "1234", in hex.
    static std::optional<std::uint32_t> Hex(const std::string& text) {
        const std::string digits = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
    }

    void Expect(const Tokens& t) {
        BenchScenario::Expect expect{static_cast<int>(index_) + 1, t[1].value, "", {}};
        if (t[1].value == "exit" && t.size() == 3) {
            expect.lines = {t[2].value};
        } else if (t.size() == 4 && t[2].value == "result") {
            expect = {expect.line, "result", t[1].value, {t[3].value}};
        } else if (t.size() == 2) {
            if (t[1].value != "errors" && t[1].value != "history") {
                expect.what = "port";
                expect.port = t[1].value;
            }
            expect.lines = Block();
        } else {
            Fail("usage: expect exit N | expect PORT result R | expect PORT|errors|history");
        }
        result_.scenario.expects.push_back(expect);
    }

    // The "|" lines up to "end".
    std::vector<std::string> Block() {
        std::vector<std::string> block;
        for (++index_; index_ < lines_.size(); ++index_) {
            const std::string& line = lines_[index_];
            if (line == "end") {
                return block;
            }
            if (line.empty() || line[0] != '|') {
                Fail("a block's lines start with |, and it ends with end");
                return block;
            }
            block.push_back(line.substr(1));
        }
        Fail("a block without its end");
        return block;
    }

    std::vector<std::string> lines_;
    std::size_t index_ = 0;
    BenchScenarioParse result_;
};

}  // namespace

BenchScenarioParse ParseBenchScenario(std::string_view text) {
    return Reader(text).Parse();
}

}  // namespace ZELKSim
