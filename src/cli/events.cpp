#include "cli/events.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/utf8.h"

namespace ZELKUtil::Cli {
namespace {

// Keys in the order written: the event's kind first, then its port.
using Json = nlohmann::ordered_json;
using Kind = BoxEvent::Kind;

constexpr std::array<std::pair<Kind, const char*>, 7> kKindNames = {{
    {Kind::Found, "found"},
    {Kind::State, "state"},
    {Kind::Progress, "progress"},
    {Kind::Log, "log"},
    {Kind::Result, "result"},
    {Kind::Decision, "decision"},
    {Kind::Tool, "tool"},
}};

const char* KindName(Kind kind) {
    for (const auto& [k, name] : kKindNames) {
        if (k == kind) {
            return name;
        }
    }
    return "log";
}

std::optional<Kind> KindNamed(const std::string& name) {
    for (const auto& [kind, k] : kKindNames) {
        if (name == k) {
            return kind;
        }
    }
    return std::nullopt;
}

void PutText(Json& object, const char* key, const std::string& text) {
    if (!text.empty()) {
        object[key] = text;
    }
}

// A text field: absent leaves it empty; present, it must be a string.
bool GetText(const Json& object, const char* key, std::string& text) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_string()) {
        return false;
    }
    text = it->get<std::string>();
    return true;
}

// An integer field that fits the target; absent leaves the target as it is.
template <typename T>
bool GetInteger(const Json& object, const char* key, T& value) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (it->is_number_unsigned()) {
        const auto n = it->get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            return false;
        }
        value = static_cast<T>(n);
        return true;
    }
    if (!it->is_number_integer()) {
        return false;
    }
    const auto n = it->get<std::int64_t>();
    if (n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max()) {
        return false;
    }
    value = static_cast<T>(n);
    return true;
}

// A true-or-false field; absent leaves it unset.
bool GetFlag(const Json& object, const char* key, std::optional<bool>& flag) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    if (!it->is_boolean()) {
        return false;
    }
    flag = it->get<bool>();
    return true;
}

std::optional<BoxEvent> FromObject(const Json& object) {
    const auto kindField = object.find("event");
    const auto portField = object.find("port");
    if (kindField == object.end() || !kindField->is_string() || portField == object.end() ||
        !portField->is_string()) {
        return std::nullopt;
    }
    const std::optional<Kind> kind = KindNamed(kindField->get<std::string>());
    if (!kind) {
        return std::nullopt;
    }
    BoxEvent event;
    event.kind = *kind;
    event.port = portField->get<std::string>();
    bool ok = GetText(object, "mode", event.mode) && GetText(object, "model", event.model) &&
              GetText(object, "serial", event.serial) &&
              GetText(object, "version", event.version) && GetText(object, "text", event.text) &&
              GetText(object, "work", event.work) && GetText(object, "reason", event.reason) &&
              GetText(object, "verdict", event.verdict) && GetText(object, "tool", event.tool) &&
              GetInteger(object, "percent", event.percent) &&
              GetFlag(object, "up_to_date", event.upToDate) && GetFlag(object, "run", event.run);
    if (object.contains("seconds_left")) {
        std::int64_t seconds = 0;
        ok = ok && GetInteger(object, "seconds_left", seconds);
        event.secondsLeft = seconds;
    }
    return ok ? std::optional<BoxEvent>(std::move(event)) : std::nullopt;
}

// "Q750 2.01", "Q750", "version 2.01" or "": what the box told of itself.
std::string Identity(const BoxEvent& event) {
    if (event.model.empty()) {
        return event.version.empty() ? "" : "version " + event.version;
    }
    return event.version.empty() ? event.model : event.model + " " + event.version;
}

std::string FoundLine(const BoxEvent& event) {
    std::string line = "found";
    if (!event.mode.empty()) {
        line += ", " + event.mode + " mode";
    }
    if (const std::string identity = Identity(event); !identity.empty()) {
        line += ", " + identity;
    }
    if (!event.serial.empty()) {
        line += ", serial " + event.serial;
    }
    if (!event.verdict.empty()) {
        line += ", " + event.verdict;
    } else if (event.upToDate) {
        line += std::string(", ") + VerdictOf(true, event.upToDate);
    }
    return line;
}

std::string HumanText(const BoxEvent& event) {
    std::string line = event.port + ": ";
    switch (event.kind) {
        case Kind::Found:
            return line + FoundLine(event);
        case Kind::Progress:
            line += std::to_string(event.percent) + " %";
            if (event.secondsLeft) {
                line += ", about " + std::to_string(*event.secondsLeft) + " s left";
            }
            return line;
        case Kind::Decision:
            return line +
                   "decision: " + (event.run.value_or(false) ? "run " + event.work : "hold") +
                   ", " + event.reason;
        case Kind::Result:
            return line + event.text + (event.reason.empty() ? "" : ": " + event.reason);
        case Kind::Tool:
            return line + "[" + event.tool + "] " + event.text;
        case Kind::State:
        case Kind::Log:
            break;
    }
    return line + event.text;
}

}  // namespace

const char* VerdictOf(bool namesAProfile, std::optional<bool> upToDate) {
    if (!namesAProfile) {
        return kVerdictWrongPackage;
    }
    if (!upToDate) {
        return kVerdictUnknown;
    }
    return *upToDate ? kVerdictUpToDate : kVerdictUpgradeDue;
}

std::string ToJsonLine(const BoxEvent& event) {
    Json object = Json::object();
    object["event"] = KindName(event.kind);
    object["port"] = event.port;
    PutText(object, "mode", event.mode);
    PutText(object, "model", event.model);
    PutText(object, "serial", event.serial);
    PutText(object, "version", event.version);
    if (event.upToDate) {
        object["up_to_date"] = *event.upToDate;
    }
    PutText(object, "verdict", event.verdict);
    PutText(object, "tool", event.tool);
    PutText(object, "text", event.text);
    if (event.run) {
        object["run"] = *event.run;
    }
    PutText(object, "work", event.work);
    PutText(object, "reason", event.reason);
    // A progress event always tells its percent, 0 included; other events only when one is set.
    if (event.kind == Kind::Progress || event.percent != 0) {
        object["percent"] = event.percent;
    }
    if (event.secondsLeft) {
        object["seconds_left"] = *event.secondsLeft;
    }
    // Control characters are escaped, so the object stays on one line; text that is not UTF-8
    // (a box may send any byte) gets replacement characters rather than stopping the output.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<BoxEvent> FromJsonLine(const std::string& line) {
    // Parsed without exceptions; a line that is no JSON comes back discarded.
    const Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    return FromObject(object);
}

std::string ToHumanLine(const BoxEvent& event) {
    // A box may send any byte: nothing it says may move a terminal's cursor, change its colours
    // or start a line of its own.
    return OneLineText(HumanText(event));
}

}  // namespace ZELKUtil::Cli
