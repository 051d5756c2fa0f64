#include "scenario/scenario_names.h"

#include <algorithm>
#include <map>

#include "scenario/console_view.h"
#include "scenario/scenario.h"

namespace ZELKSim {
namespace {

// Escapes a text for a block line: backslash and control characters, the double quote left alone.
std::string BlockEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"') {
            out += c;
        } else {
            const std::string quoted = Quoted(std::string(1, c));
            out += quoted.substr(1, quoted.size() - 2);
        }
    }
    return out;
}

}  // namespace

std::optional<BoxMode> ModeByName(const std::string& name) {
    static const std::map<std::string, BoxMode> kModes = {
        {"normal", BoxMode::Normal},
        {"bootloader", BoxMode::Bootloader},
        {"fpga-programmer", BoxMode::FpgaProgrammer},
        {"absent", BoxMode::Absent},
    };
    const auto it = kModes.find(name);
    return it == kModes.end() ? std::nullopt : std::optional<BoxMode>(it->second);
}

std::string ModeName(BoxMode mode) {
    switch (mode) {
        case BoxMode::Normal:
            return "normal";
        case BoxMode::Bootloader:
            return "bootloader";
        case BoxMode::FpgaProgrammer:
            return "fpga-programmer";
        case BoxMode::Absent:
            return "absent";
    }
    return "?";
}

std::string ScenarioProgramName(std::string platformName) {
#ifdef _WIN32
    std::replace(platformName.begin(), platformName.end(), '\\', '/');
    const std::string exe = ".exe";
    if (platformName.size() > exe.size() &&
        platformName.compare(platformName.size() - exe.size(), exe.size(), exe) == 0) {
        platformName.resize(platformName.size() - exe.size());
    }
#endif
    return platformName;
}

std::string PlatformProgramName(std::string scenarioName) {
#ifdef _WIN32
    std::replace(scenarioName.begin(), scenarioName.end(), '/', '\\');
    scenarioName += ".exe";
#endif
    return scenarioName;
}

std::string ToolCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
    const auto word = [](const std::string& text) {
        const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c > ' ' && c != '"' && c != '\\' && c != 0x7F;
        });
        return plain ? text : Quoted(text);
    };
    std::string line = word(ScenarioProgramName(program));
    for (const std::string& argument : arguments) {
        line += " " + word(argument);
    }
    return line;
}

std::vector<std::string> LogBlockLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = log.find("\r\n", start);
        lines.push_back(BlockEscaped(
            log.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 2;
    }
}

}  // namespace ZELKSim
