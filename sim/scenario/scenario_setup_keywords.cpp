// The commands that set up the world before the run: the package, the machine and the emulated
// tools.
#include <algorithm>
#include <map>

#include "scenario/scenario_parser.h"

namespace ZELKSim {
namespace {

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void Profile(ScenarioParser& p, const Tokens& t) {
    static const std::vector<std::string> kAttributes = {"profile", "vid",     "pid",    "id",
                                                         "name",    "LPC3131", "A3P060", "A3PN060"};
    std::map<std::string, std::string> given;
    for (std::size_t i = 2; i < t.size(); ++i) {
        if (!t[i].keyed ||
            std::find(kAttributes.begin(), kAttributes.end(), t[i].key) == kAttributes.end()) {
            p.Fail(
                "a profile's words are profile=, vid=, pid=, id=, name=, LPC3131=, A3P060= "
                "and A3PN060=, not '" +
                (t[i].keyed ? t[i].key + "=" : t[i].value) + "'");
            return;
        }
        given[t[i].key] = t[i].value;
    }
    // The IDs of the usual box and no images, unless stated; the names only when stated, so that
    // a profile can leave one out.
    for (const auto& [key, value] : std::map<std::string, std::string>{{"vid", "0x14E3"},
                                                                       {"pid", "0x0706"},
                                                                       {"LPC3131", ""},
                                                                       {"A3P060", ""},
                                                                       {"A3PN060", ""}}) {
        given.emplace(key, value);
    }
    std::string element = "<detail";
    for (const std::string& key : kAttributes) {
        if (const auto it = given.find(key); it != given.end()) {
            element += " " + key + "=\"" + XmlEscaped(it->second) + "\"";
        }
    }
    auto& details = p.Result().package.details;
    details = details.value_or("") + element + "/>";
}

// "package q750 arm|fpga|both": the usual package for the Q750 at 2.04 with dfu-util, its ARM
// image images/q750.bin, its FPGA image images/kr.stp (with the STAPL player) or both.
void UsualPackage(ScenarioParser& p, const Tokens& t) {
    const auto images = p.Choice<int>(t, {{"arm", 1}, {"fpga", 2}, {"both", 3}});
    if (!images) {
        return;
    }
    const bool arm = (*images & 1) != 0;
    const bool fpga = (*images & 2) != 0;
    PackageContents& package = p.Result().package;
    package.version = "2.04";
    // The profile as its own line would give it.
    Tokens profile = {{"", "package"},
                      {"", "profile"},
                      {"profile", "ZELK Q750", true},
                      {"id", "Q750", true},
                      {"name", "ZELK Q750", true}};
    if (arm) {
        profile.push_back({"LPC3131", "images/q750.bin", true});
    }
    if (fpga) {
        profile.push_back({"A3P060", "images/kr.stp", true});
    }
    Profile(p, profile);
    if (arm) {
        package.files.emplace_back("images/q750.bin");
    }
    if (fpga) {
        package.files.emplace_back("images/kr.stp");
    }
    package.tools.push_back(PlatformProgramName("Tools/dfu-util"));
    if (fpga) {
        package.tools.push_back(PlatformProgramName("Tools/STAPL Player"));
    }
}

constexpr Keyword kPackageItems[] = {
    {"q750", Keyword::kOwnWords, "", UsualPackage},
    {"version", 2, "package version TEXT",
     [](ScenarioParser& p, const Tokens& t) { p.Result().package.version = t[2].value; }},
    {"file", 2, "package file NAME",
     [](ScenarioParser& p, const Tokens& t) { p.Result().package.files.push_back(t[2].value); }},
    {"tool", 2, "package tool NAME",
     [](ScenarioParser& p, const Tokens& t) {
         p.Result().package.tools.push_back(PlatformProgramName(t[2].value));
     }},
    {"no-drivers", 1, "package no-drivers",
     [](ScenarioParser& p, const Tokens& /*t*/) { p.Result().package.drivers = false; }},
    {"profile", Keyword::kOwnWords, "", Profile},
};

void ToolsStep(ScenarioParser& p, std::function<void(ToolSettings&)> change) {
    p.Add(
        [change = std::move(change)](ScenarioRun& run) {
            change(run.world.tools.Settings());
            return std::string();
        },
        false);
}

// "tools ITEM CHOICE", the choices in the order the usage lists them.
template <typename Value>
void ToolsChoice(ScenarioParser& p, const Tokens& t,
                 std::initializer_list<std::pair<std::string_view, Value>> choices,
                 Value ToolSettings::*field) {
    if (const auto value = p.Choice(t, choices)) {
        ToolsStep(p, [field, v = *value](ToolSettings& s) { s.*field = v; });
    }
}

// "tools ITEM NUMBER", the number from 0 to `max`.
template <typename Field>
void ToolsNumber(ScenarioParser& p, const Tokens& t, std::int64_t max, Field ToolSettings::*field) {
    if (const auto value = p.Number(t[2], 0, max)) {
        ToolsStep(p, [field, v = *value](ToolSettings& s) { s.*field = static_cast<Field>(v); });
    }
}

constexpr std::int64_t kMaxCount = 10000;

void StaplPercentLines(ScenarioParser& p, const Tokens& t) {
    if (t.size() == 3 && t[2].value == "0") {
        p.Fail("a run prints at least one PERCENT_DONE line");
    } else if (p.Words(t, 2, "tools stapl-percent-lines NUMBER")) {
        ToolsNumber(p, t, kMaxCount, &ToolSettings::staplPercentLines);
    }
}

// "tools unstartable PROGRAM" and "tools startable PROGRAM".
void Startable(ScenarioParser& p, const Tokens& t) {
    ToolsStep(p, [v = PlatformProgramName(t[2].value),
                  add = t[1].value == "unstartable"](ToolSettings& s) {
        auto& list = s.unstartable;
        list.erase(std::remove(list.begin(), list.end(), v), list.end());
        if (add) {
            list.push_back(v);
        }
    });
}

constexpr Keyword kToolsItems[] = {
    {"dfu-util", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsChoice<DfuUtilBehaviour>(p, t,
                                       {{"finished-missing", DfuUtilBehaviour::FinishedMissing},
                                        {"no-device-current", DfuUtilBehaviour::NoDeviceCurrent},
                                        {"only-opening", DfuUtilBehaviour::OnlyOpening},
                                        {"works", DfuUtilBehaviour::Works},
                                        {"works-current", DfuUtilBehaviour::WorksCurrent}},
                                       &ToolSettings::dfuUtil);
     }},
    {"dfuapp", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsChoice<DfuAppBehaviour>(
             p, t, {{"fails", DfuAppBehaviour::Fails}, {"works", DfuAppBehaviour::Works}},
             &ToolSettings::dfuApp);
     }},
    {"stapl", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsChoice<StaplBehaviour>(p, t,
                                     {{"blank-line-first", StaplBehaviour::BlankLineFirst},
                                      {"erase-leaves-design", StaplBehaviour::EraseLeavesDesign},
                                      {"fails", StaplBehaviour::Fails},
                                      {"fails-silently", StaplBehaviour::FailsSilently},
                                      {"garbage-checksum", StaplBehaviour::GarbageChecksum},
                                      {"garbage-idcode", StaplBehaviour::GarbageIdcode},
                                      {"no-idcode", StaplBehaviour::NoIdcode},
                                      {"works", StaplBehaviour::Works}},
                                     &ToolSettings::stapl);
     }},
    {"programmer-firmware", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsChoice<ProgrammerFirmware>(p, t,
                                         {{"fails", ProgrammerFirmware::Fails},
                                          {"falls-back", ProgrammerFirmware::FallsBack},
                                          {"works", ProgrammerFirmware::Works}},
                                         &ToolSettings::programmerFirmware);
     }},
    {"dfu-util-opening-passes", 2, "tools dfu-util-opening-passes NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxCount, &ToolSettings::dfuUtilOpeningPasses);
     }},
    {"dfu-util-bar", 2, "tools dfu-util-bar NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxCount, &ToolSettings::dfuUtilBarLength);
     }},
    {"dfuapp-blocks", 2, "tools dfuapp-blocks NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxCount, &ToolSettings::dfuAppBlocks);
     }},
    {"stapl-missed-idcodes", 2, "tools stapl-missed-idcodes NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxCount, &ToolSettings::staplMissedIdcodes);
     }},
    {"stapl-percent-lines", Keyword::kOwnWords, "", StaplPercentLines},
    {"programmed-checksum", 2, "tools programmed-checksum NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, 0xFFFF, &ToolSettings::programmedChecksum);
     }},
    {"step-ms", 2, "tools step-ms NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxTimeMs, &ToolSettings::stepMs);
     }},
    {"installer-ms", 2, "tools installer-ms NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, kMaxTimeMs, &ToolSettings::installerMs);
     }},
    {"installer-exit-code", 2, "tools installer-exit-code NUMBER",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsNumber(p, t, 0xFFFFFFFF, &ToolSettings::installerExitCode);
     }},
    {"installer-installs-nothing", 1, "tools installer-installs-nothing",
     [](ScenarioParser& p, const Tokens& /*t*/) {
         ToolsStep(p, [](ToolSettings& s) { s.installerInstalls = false; });
     }},
    {"new-version", 2, "tools new-version TEXT",
     [](ScenarioParser& p, const Tokens& t) {
         ToolsStep(p, [v = t[2].value](ToolSettings& s) { s.newVersion = v; });
     }},
    {"unstartable", 2, "tools unstartable PROGRAM", Startable},
    {"startable", 2, "tools startable PROGRAM", Startable},
};

constexpr Keyword kSetupKeywords[] = {
    {"package", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         if (t.size() < 2 || p.NotStarted("package")) {
             p.Items(t, kPackageItems, "package version|profile|file|tool|no-drivers ...",
                     "unknown package item");
         }
     }},
    {"machine", 1, "machine NAME",
     [](ScenarioParser& p, const Tokens& t) {
         if (p.NotStarted("machine")) {
             p.Result().machine = t[1].value;
         }
     }},
    {"tools", Keyword::kOwnWords, "",
     [](ScenarioParser& p, const Tokens& t) {
         p.Items(t, kToolsItems, "tools WHAT ...", "unknown tools item");
     }},
};

}  // namespace

Keywords SetupKeywords() {
    return kSetupKeywords;
}

}  // namespace ZELKSim
