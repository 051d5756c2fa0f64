// Plays a bench scenario: the bench runner over emulated boxes, in real time run fast.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

#include "bench_runs/bench_scenario.h"
#include "bench_runs/bench_world.h"
#include "bench_runs/run_limit.h"
#include "cleanup/temp_folders.h"
#include "cli/cli_options.h"
#include "cli/events.h"
#include "cli/history.h"
#include "platform/files.h"
#include "scenario/scenario_runner.h"

namespace ZELKSim {
namespace {

// Every wait of the controller and every step of the emulated boxes and tools, run 50 times
// faster than the wall clock.
constexpr int kSpeed = 50;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += "|" + line + "\n";
    }
    return text;
}

// The port's lines of standard output, each without its "PORT: ".
std::vector<std::string> PortLines(const std::vector<std::string>& out, const std::string& port) {
    std::vector<std::string> lines;
    const std::string prefix = port + ": ";
    for (const std::string& line : out) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

// The history as "PORT RESULT BEFORE AFTER" lines ("-" for a version not known), by port (boxes
// upgraded side by side end in any order).
std::vector<std::string> HistoryLines(const std::string& path) {
    const auto records = ZELKUtil::Cli::HistoryFile(path).ReadAll();
    if (!records) {
        return {"cannot be read: " + records.error().Text()};
    }
    std::vector<std::string> lines;
    for (const ZELKUtil::Cli::HistoryRecord& r : records.value().records) {
        const auto known = [](const std::string& version) {
            return version.empty() ? std::string("-") : version;
        };
        lines.push_back(r.port + " " + r.result + " " + known(r.versionBefore) + " " +
                        known(r.versionAfter));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What a `when` line waits for, so that of several that wait for the same, one acts on a line.
std::string MatchKey(const BenchScenario::When& when) {
    std::string key = when.text;
    for (const auto& [field, value] : when.fields) {
        key.append(1, '\x1f').append(field).append(1, '=').append(value);
    }
    return key;
}

// Acts on the line when a "when" line names it; each acts once. `humanLine`, when given, is the
// same line in human words: a when line that names either acts.
void React(BenchWorld& world, const BenchScenario& scenario, std::vector<bool>& done,
           const std::string& line, const std::string& history,
           const std::optional<std::string>& humanLine = std::nullopt) {
    std::set<std::pair<std::string, std::string>> firedOnThisLine;
    for (std::size_t i = 0; i < scenario.whens.size(); ++i) {
        const BenchScenario::When& when = scenario.whens[i];
        const bool named = WhenMatches(when, line) || (humanLine && WhenMatches(when, *humanLine));
        if (done[i] || !named || !firedOnThisLine.emplace(when.port, MatchKey(when)).second) {
            continue;
        }
        done[i] = true;
        if (when.action == "stop") {
            world.stopping = true;
            continue;
        }
        if (when.action == "history-breaks") {
            std::error_code ignored;
            std::filesystem::remove(history, ignored);
            std::filesystem::create_directory(history, ignored);
            continue;
        }
        for (EmulatedBox& box : world.boxes) {
            if (box.Port() != when.target) {
                continue;
            }
            if (when.action == "unplug") {
                box.Unplug();
            } else if (when.action == "swap") {
                // Another box in its place: another serial, the firmware the line names.
                box.Unplug();
                const std::string number = std::to_string(i + 1);
                box.SetSerial("9" + std::string(5 - std::min<std::size_t>(number.size(), 5), '0') +
                              number);
                box.SetFirmwareVersion(when.version);
                box.Plug(BoxMode::Normal);
            } else {
                box.Plug(BoxMode::Normal);
            }
        }
    }
}

// What the run gave for the expectation, in the form its block states.
std::vector<std::string> Actual(const BenchScenario::Expect& expect, const BenchWorld& world,
                                int exitCode, const std::string& history) {
    if (expect.what == "exit") {
        return {std::to_string(exitCode)};
    }
    if (expect.what == "port") {
        return PortLines(world.out, expect.port);
    }
    if (expect.what == "result") {
        const std::vector<std::string> lines = PortLines(world.out, expect.port);
        return {lines.empty() ? "" : lines.back()};
    }
    if (expect.what == "errors") {
        return world.err;
    }
    return HistoryLines(history);
}

void AddBoxes(BenchWorld& world, const BenchScenario& scenario) {
    for (const BenchScenario::Box& b : scenario.boxes) {
        EmulatedBox& box = world.AddBox(
            b.port, {0x14E3, 0x0706, std::wstring(b.product.begin(), b.product.end())}, b.version);
        box.SetFpgaIdcode(b.idcode);
        box.SetFpgaChecksum(b.checksum);
        if (!b.serial.empty()) {
            box.SetSerial(b.serial);
        }
        if (!b.plugged) {
            box.Unplug();
        } else if (b.mode != BoxMode::Normal) {
            box.Plug(b.mode);
        }
    }
}

// What the program printed, after the run, the error stream's lines marked.
void ShowOutput(const BenchWorld& world, std::ostream& out) {
    for (const std::string& line : world.out) {
        out << line << '\n';
    }
    for (const std::string& line : world.err) {
        out << "(error stream) " << line << '\n';
    }
}

// Runs the runner under the time limit. Past it, Ctrl+C is pressed, as one would at a run that
// went on too long; a run that does not end after that either cannot be stopped from here (its
// threads are the runner's), so the process ends, its temporary folders removed.
int RunWithin(BenchWorld& world, const ZELKUtil::Cli::Options& options, const BenchPlay& play,
              const std::string& path, std::ostream& err, bool& overran) {
    constexpr std::int64_t kGraceMs = std::int64_t{2} * 60 * 1000;
    const std::int64_t seconds = play.timeLimitMs / 1000;
    RunLimit limit(
        world.clock, play.timeLimitMs, kGraceMs,
        [&] {
            const std::lock_guard<std::mutex> lock(world.outLock);
            err << path << ": the run went past its time limit of " << seconds
                << " s (the emulated clock's; --time-limit changes it): Ctrl+C is pressed"
                << std::endl;
            world.stopping = true;
        },
        [&] {
            {
                const std::lock_guard<std::mutex> lock(world.outLock);
                err << path << ": the run did not end within " << kGraceMs / 1000
                    << " s after Ctrl+C either: zelk-sim ends it" << std::endl;
            }
            EndProcessNow(kScenarioFailed);
        });
    const int exitCode = world.Run(options);
    overran = limit.Finish();
    return exitCode;
}

// The scenario's run line as the program reads it, with the words added.
ZELKUtil::Cli::ParsedCommandLine RunLine(const BenchScenario& scenario,
                                         const std::vector<std::string>& added = {}) {
    std::vector<std::string> arguments = {"zelk-cli"};
    arguments.insert(arguments.end(), scenario.arguments.begin(), scenario.arguments.end());
    arguments.insert(arguments.end(), added.begin(), added.end());
    std::vector<const char*> argv;
    argv.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return ZELKUtil::Cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "0");
}

int Play(const BenchScenario& scenario, const std::string& root, const std::string& path,
         const BenchPlay& play, std::ostream& out, std::ostream& err) {
    const auto parsed = RunLine(scenario);
    if (!parsed.options) {
        err << path << ": the run line: " << parsed.output;
        return kScenarioUnplayable;
    }
    BenchWorld world(root, kSpeed);
    world.tools.newVersion = scenario.newVersion;
    AddBoxes(world, scenario);
    std::vector<bool> done(scenario.whens.size(), false);
    ZELKUtil::Cli::Options options = *parsed.options;
    const std::string history = root + "/history.jsonl";
    // Live, each line goes where the program printed it, at once.
    world.onLine = [&](const std::string& line) {
        if (play.live) {
            out << line << std::endl;
        }
        React(world, scenario, done, line, history);
    };
    options.history = history;
    if (play.live) {
        world.onErrorLine = [&err](const std::string& line) { err << line << std::endl; };
    }
    bool overran = false;
    const int exitCode = RunWithin(world, options, play, path, err, overran);
    if (!play.live) {
        ShowOutput(world, out);
    }
    int status = overran ? kScenarioFailed : kScenarioPassed;
    for (const BenchScenario::Expect& expect : scenario.expects) {
        const std::vector<std::string> actual = Actual(expect, world, exitCode, history);
        if (actual != expect.lines) {
            err << path << ':' << expect.line << ": expected\n"
                << Joined(expect.lines) << "but got\n"
                << Joined(actual);
            status = kScenarioFailed;
        }
    }
    return status;
}

// The scenario read, and its package and history (when it has one) written into the scratch
// folder; nullopt after saying why, with the file's name.
std::optional<BenchScenario> Prepare(const std::string& path, ScratchFolder& folder,
                                     std::string& problem) {
    constexpr std::size_t kMaxBytes = std::size_t{1024} * 1024;
    const auto read = ZELKUtil::Files::ReadHead(path, kMaxBytes);
    if (!read) {
        problem = path + ": cannot read: " + read.error().reason;
        return std::nullopt;
    }
    const BenchScenarioParse parsed = ParseBenchScenario(read.value());
    if (parsed.errorLine != 0) {
        problem = path + ":" + std::to_string(parsed.errorLine) + ": " + parsed.error;
        return std::nullopt;
    }
    if (const auto created = folder.Create(); !created) {
        problem = path + ": " + created.error().Text();
        return std::nullopt;
    }
    if (const auto written = WritePackage(folder.Root(), parsed.scenario.package); !written) {
        problem = path + ": " + written.error().Text();
        return std::nullopt;
    }
    if (parsed.scenario.history) {
        const auto written =
            WritePackageFile(folder.Root(), "history.jsonl", *parsed.scenario.history, false);
        if (!written) {
            problem = path + ": " + written.error().Text();
            return std::nullopt;
        }
    }
    return parsed.scenario;
}

}  // namespace

int RunBenchScenarioFile(const std::string& path, const BenchPlay& play, std::ostream& out,
                         std::ostream& err) {
    ScratchFolder folder;
    std::string problem;
    const std::optional<BenchScenario> scenario = Prepare(path, folder, problem);
    if (!scenario) {
        err << problem << '\n';
        return kScenarioUnplayable;
    }
    return Play(*scenario, folder.Root(), path, play, out, err);
}

BenchJsonPlay PlayBenchScenarioAsJson(const std::string& path) {
    BenchJsonPlay played;
    ScratchFolder folder;
    const std::optional<BenchScenario> scenario = Prepare(path, folder, played.problem);
    if (!scenario) {
        return played;
    }
    const auto parsed = RunLine(*scenario, {"--json"});
    if (!parsed.options) {
        played.problem = path + ": the run line: " + parsed.output;
        return played;
    }
    BenchWorld world(folder.Root(), kSpeed);
    world.tools.newVersion = scenario->newVersion;
    AddBoxes(world, *scenario);
    ZELKUtil::Cli::Options options = *parsed.options;
    options.history = folder.Root() + "/history.jsonl";
    // A "when" written for the JSON lines acts on the line; one written for the human lines, on
    // the event's human line, as it would on the run without --json.
    std::vector<bool> done(scenario->whens.size(), false);
    world.onLine = [&](const std::string& line) {
        std::optional<std::string> human;
        if (const auto event = ZELKUtil::Cli::FromJsonLine(line)) {
            human = ZELKUtil::Cli::ToHumanLine(*event, options.verbose);
        }
        React(world, *scenario, done, line, options.history, human);
    };
    std::ostringstream overrun;
    bool overran = false;
    played.exitCode = RunWithin(world, options, BenchPlay{}, path, overrun, overran);
    if (overran) {
        played.problem = overrun.str();
    }
    played.out = world.out;
    played.err = world.err;
    return played;
}

}  // namespace ZELKSim
