// Plays a bench scenario: the bench runner over emulated boxes, in real time run fast.
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <set>

#include "bench_runs/bench_scenario.h"
#include "bench_runs/bench_world.h"
#include "cli/cli_options.h"
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

// Acts on the line when a "when" line names it; each acts once.
void React(BenchWorld& world, const BenchScenario& scenario, std::vector<bool>& done,
           const std::string& line, const std::string& history) {
    std::set<std::pair<std::string, std::string>> firedOnThisLine;
    for (std::size_t i = 0; i < scenario.whens.size(); ++i) {
        const BenchScenario::When& when = scenario.whens[i];
        const bool port = when.port == "*" || line.rfind(when.port + ": ", 0) == 0;
        if (done[i] || !port || line.find(when.text) == std::string::npos ||
            !firedOnThisLine.emplace(when.port, when.text).second) {
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

int Play(const BenchScenario& scenario, const std::string& root, const std::string& path,
         std::ostream& out, std::ostream& err) {
    std::vector<std::string> arguments = {"zelk-cli"};
    arguments.insert(arguments.end(), scenario.arguments.begin(), scenario.arguments.end());
    const std::vector<const char*> argv = [&arguments] {
        std::vector<const char*> pointers;
        pointers.reserve(arguments.size());
        for (const std::string& argument : arguments) {
            pointers.push_back(argument.c_str());
        }
        return pointers;
    }();
    const auto parsed =
        ZELKUtil::Cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "0");
    if (!parsed.options) {
        err << path << ": the run line: " << parsed.output;
        return kScenarioUnplayable;
    }
    BenchWorld world(root, kSpeed);
    world.tools.newVersion = scenario.newVersion;
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
    std::vector<bool> done(scenario.whens.size(), false);
    ZELKUtil::Cli::Options options = *parsed.options;
    const std::string history = root + "/history.jsonl";
    world.onLine = [&](const std::string& line) { React(world, scenario, done, line, history); };
    options.history = history;
    if (scenario.history) {
        if (const auto written = WritePackageFile(root, "history.jsonl", *scenario.history, false);
            !written) {
            err << path << ": " << written.error().Text() << '\n';
            return kScenarioUnplayable;
        }
    }
    const int exitCode = world.Run(options);
    for (const std::string& line : world.out) {
        out << line << '\n';
    }
    for (const std::string& line : world.err) {
        out << "(error stream) " << line << '\n';
    }
    int status = kScenarioPassed;
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

}  // namespace

int RunBenchScenarioFile(const std::string& path, std::ostream& out, std::ostream& err) {
    constexpr std::size_t kMaxBytes = std::size_t{1024} * 1024;
    const auto read = ZELKUtil::Files::ReadHead(path, kMaxBytes);
    if (!read) {
        err << path << ": cannot read: " << read.error().reason << '\n';
        return kScenarioUnplayable;
    }
    const BenchScenarioParse parsed = ParseBenchScenario(read.value());
    if (parsed.errorLine != 0) {
        err << path << ':' << parsed.errorLine << ": " << parsed.error << '\n';
        return kScenarioUnplayable;
    }
    ScratchFolder folder;
    if (const auto created = folder.Create(); !created) {
        err << path << ": " << created.error().Text() << '\n';
        return kScenarioUnplayable;
    }
    if (const auto written = WritePackage(folder.Root(), parsed.scenario.package); !written) {
        err << path << ": " << written.error().Text() << '\n';
        return kScenarioUnplayable;
    }
    return Play(parsed.scenario, folder.Root(), path, out, err);
}

}  // namespace ZELKSim
