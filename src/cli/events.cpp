#include "cli/events.h"

#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "cli/json_fields.h"
#include "platform/utf8.h"

namespace ZELKUtil::Cli {
namespace {

// Keys in the order written: the event's kind first, then its port.
using JsonFields::Json;
using JsonFields::PutText;

// One name table per word list: the names written and read back.
template <typename E, std::size_t N>
const char* NameIn(const std::array<std::pair<E, const char*>, N>& table, E value) {
    for (const auto& [v, name] : table) {
        if (v == value) {
            return name;
        }
    }
    return "?";
}

template <typename E, std::size_t N>
std::optional<E> ValueIn(const std::array<std::pair<E, const char*>, N>& table,
                         const std::string& name) {
    for (const auto& [v, n] : table) {
        if (name == n) {
            return v;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::pair<BoxResult, const char*>, 6> kResults = {{
    {BoxResult::Upgraded, "upgraded"},
    {BoxResult::UpToDate, "up-to-date"},
    {BoxResult::Failed, "failed"},
    {BoxResult::Interrupted, "interrupted"},
    {BoxResult::Stopped, "stopped"},
    {BoxResult::LeftAlone, "left alone"},
}};

constexpr std::array<std::pair<BoxState, const char*>, 14> kStates = {{
    {BoxState::Waiting, "waiting"},
    {BoxState::Connected, "connected"},
    {BoxState::CountingDown, "counting down"},
    {BoxState::Restarting, "restarting"},
    {BoxState::InBootloader, "bootloader"},
    {BoxState::Downloading, "downloading"},
    {BoxState::RestartingWithNewFirmware, "restarting with the new firmware"},
    {BoxState::InProgrammer, "FPGA programmer"},
    {BoxState::DownloadingProgrammer, "downloading the programmer"},
    {BoxState::ErasingFpga, "erasing the FPGA"},
    {BoxState::ProgrammingFpga, "programming the FPGA"},
    {BoxState::Unplugged, "unplugged"},
    {BoxState::WaitingForBox, "waiting for another box"},
    {BoxState::WaitingForInstaller, "waiting for another box's driver installer"},
}};

constexpr std::array<std::pair<BoxMode, const char*>, 3> kModes = {{
    {BoxMode::Normal, "normal"},
    {BoxMode::Bootloader, "bootloader"},
    {BoxMode::Programmer, "programmer"},
}};

constexpr std::array<std::pair<RoadMark, const char*>, 4> kMarks = {{
    {RoadMark::Recognised, "recognised"},
    {RoadMark::SentToBootloader, "sent to its bootloader"},
    {RoadMark::ArmWritten, "ARM firmware written"},
    {RoadMark::InProgrammer, "in its programmer mode"},
}};

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

// A true-or-false field; absent leaves it as it is.
template <typename T>
bool GetFlag(const Json& object, const char* key, T& flag) {
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

// A word of one of the name tables.
template <typename E, std::size_t N>
bool GetWord(const Json& object, const char* key,
             const std::array<std::pair<E, const char*>, N>& table, E& value) {
    std::string name;
    if (!GetText(object, key, name)) {
        return false;
    }
    const std::optional<E> named = ValueIn(table, name);
    if (named) {
        value = *named;
    }
    return named.has_value();
}

// Writes each kind of event: its name and its fields.
struct Writer {
    Json& o;
    const char* operator()(const Events::Found& e) const {
        JsonFields::PutFound(o, e);
        return "found";
    }
    const char* operator()(const Events::State& e) const {
        o["text"] = StateName(e.state);
        return "state";
    }
    const char* operator()(const Events::Progress& e) const {
        o["percent"] = e.percent;
        if (e.secondsLeft) {
            o["seconds_left"] = *e.secondsLeft;
        }
        return "progress";
    }
    const char* operator()(const Events::Download& e) const {
        o["percent"] = e.percent;
        return "download";
    }
    const char* operator()(const Events::Log& e) const {
        PutText(o, "text", e.text);
        return "log";
    }
    const char* operator()(const Events::Tool& e) const {
        PutText(o, "tool", e.tool);
        PutText(o, "text", e.text);
        return "tool";
    }
    const char* operator()(const Events::Decision& e) const {
        o["runs"] = e.run;
        PutText(o, "work", e.work);
        PutText(o, "reason", e.reason);
        return "decision";
    }
    const char* operator()(const Events::Resumed& e) const {
        PutText(o, "model", e.model);
        PutText(o, "serial", e.serial);
        PutText(o, "record_run", e.run);
        if (e.ageSeconds) {
            o["age_seconds"] = *e.ageSeconds;
        }
        if (e.byOperator) {
            o["by_operator"] = true;
        }
        PutText(o, "recorded_model", e.recordedModel);
        return "resume";
    }
    const char* operator()(const Events::Ended& e) const {
        o["text"] = ResultName(e.result);
        PutText(o, "reason", e.reason);
        PutText(o, "version", e.version);
        if (e.arm) {
            o["arm"] = true;
        }
        if (e.fpga) {
            o["fpga"] = true;
        }
        return "result";
    }
};

std::optional<BoxEvent> Read(const std::string& kind, const Json& o, std::string port) {
    bool ok = false;
    // Lines written before every line had its time and run id kept two fields under "run": the
    // decision's flag and the resumed record's run. Such a line has no time and no new name.
    const auto named = [&o](const char* now, const char* before) {
        return o.contains(now) || o.contains("time") ? now : before;
    };
    if (kind == "found") {
        Events::Found e;
        e.port = std::move(port);
        ok = GetWord(o, "mode", kModes, e.mode) && GetText(o, "model", e.model) &&
             GetText(o, "product", e.product) && GetText(o, "serial", e.serial) &&
             GetText(o, "version", e.version) && GetFlag(o, "up_to_date", e.upToDate) &&
             GetText(o, "verdict", e.verdict);
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "state") {
        Events::State e;
        e.port = std::move(port);
        return GetWord(o, "text", kStates, e.state) ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "progress") {
        Events::Progress e;
        e.port = std::move(port);
        ok = GetInteger(o, "percent", e.percent);
        if (o.contains("seconds_left")) {
            std::int64_t seconds = 0;
            ok = ok && GetInteger(o, "seconds_left", seconds);
            e.secondsLeft = seconds;
        }
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "download") {
        Events::Download e;
        e.port = std::move(port);
        return GetInteger(o, "percent", e.percent) ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "log") {
        Events::Log e;
        e.port = std::move(port);
        return GetText(o, "text", e.text) ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "tool") {
        Events::Tool e;
        e.port = std::move(port);
        ok = GetText(o, "tool", e.tool) && GetText(o, "text", e.text);
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "decision") {
        Events::Decision e;
        e.port = std::move(port);
        ok = GetFlag(o, named("runs", "run"), e.run) && GetText(o, "work", e.work) &&
             GetText(o, "reason", e.reason);
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "resume") {
        Events::Resumed e;
        e.port = std::move(port);
        ok = GetText(o, "model", e.model) && GetText(o, "serial", e.serial) &&
             GetText(o, named("record_run", "run"), e.run) &&
             GetFlag(o, "by_operator", e.byOperator) &&
             GetText(o, "recorded_model", e.recordedModel);
        if (ok && o.contains("age_seconds")) {
            std::int64_t age = 0;
            ok = GetInteger(o, "age_seconds", age);
            e.ageSeconds = age;
        }
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    if (kind == "result") {
        Events::Ended e;
        e.port = std::move(port);
        ok = GetWord(o, "text", kResults, e.result) && GetText(o, "reason", e.reason) &&
             GetText(o, "version", e.version) && GetFlag(o, "arm", e.arm) &&
             GetFlag(o, "fpga", e.fpga);
        return ok ? std::optional<BoxEvent>(e) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

const char* ResultName(BoxResult result) {
    return NameIn(kResults, result);
}

std::optional<BoxResult> ResultNamed(const std::string& name) {
    return ValueIn(kResults, name);
}

const char* StateName(BoxState state) {
    return NameIn(kStates, state);
}

std::optional<BoxState> StateNamed(const std::string& name) {
    return ValueIn(kStates, name);
}

std::string WrittenText(bool arm, bool fpga) {
    if (arm && fpga) {
        return "ARM and FPGA";
    }
    if (arm || fpga) {
        return arm ? "ARM" : "FPGA";
    }
    return "";
}

const char* MarkName(RoadMark mark) {
    return NameIn(kMarks, mark);
}

std::optional<RoadMark> MarkNamed(const std::string& name) {
    return ValueIn(kMarks, name);
}

const char* ModeName(BoxMode mode) {
    return NameIn(kModes, mode);
}

const std::string& PortOf(const BoxEvent& event) {
    return std::visit([](const auto& e) -> const std::string& { return e.port; }, event);
}

const char* VerdictOf(bool namesAProfile, std::optional<bool> upToDate) {
    if (!namesAProfile) {
        return kVerdictWrongPackage;
    }
    if (!upToDate) {
        return kVerdictUnknown;
    }
    return *upToDate ? kVerdictUpToDate : kVerdictUpgradeDue;
}

std::string ToJsonLine(const BoxEvent& event, const LineStamp& stamp) {
    Json fields = Json::object();
    const char* kind = std::visit(Writer{fields}, event);
    Json object = Json::object();
    object["event"] = kind;
    // A box whose port the system does not tell has none.
    PutText(object, "port", PortOf(event));
    PutText(object, "time", stamp.time);
    PutText(object, "run", stamp.run);
    for (auto& [key, value] : fields.items()) {
        object[key] = std::move(value);
    }
    return JsonFields::Dump(object);
}

std::optional<BoxEvent> FromJsonLine(const std::string& line) {
    // Parsed without exceptions; a line that is no JSON comes back discarded.
    const Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto kind = object.find("event");
    std::string port;
    if (kind == object.end() || !kind->is_string() || !GetText(object, "port", port)) {
        return std::nullopt;
    }
    return Read(kind->get<std::string>(), object, std::move(port));
}

void JsonFields::PutText(Json& object, const char* key, const std::string& text) {
    if (!text.empty()) {
        object[key] = text;
    }
}

void JsonFields::PutFound(Json& object, const Events::Found& found) {
    object["mode"] = ModeName(found.mode);
    PutText(object, "model", found.model);
    PutText(object, "product", found.product);
    PutText(object, "serial", found.serial);
    PutText(object, "version", found.version);
    if (found.upToDate) {
        object["up_to_date"] = *found.upToDate;
    }
    PutText(object, "verdict", found.verdict);
}

std::string JsonFields::Dump(const Json& object) {
    // Control characters are escaped, so the object stays on one line.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace ZELKUtil::Cli
