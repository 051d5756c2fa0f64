// Which line of the program's standard output a `when` line waits for, in both of its forms: the
// human lines and the JSON lines of --json.
#include <nlohmann/json.hpp>

#include "bench_runs/bench_scenario.h"

namespace ZELKSim {
namespace {

using Json = nlohmann::json;

// A field as a `when` line writes its value: a string as it is, anything else as its JSON text.
std::string FieldText(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

bool JsonMatches(const BenchScenario::When& when, const Json& object) {
    const auto port = object.find("port");
    if (when.port != "*" &&
        (port == object.end() || !port->is_string() || port->get<std::string>() != when.port)) {
        return false;
    }
    if (!when.fields.empty()) {
        for (const auto& [key, value] : when.fields) {
            const auto field = object.find(key);
            if (field == object.end() || FieldText(*field) != value) {
                return false;
            }
        }
        return true;
    }
    // The port is matched above, and a text such as "1-" should not match every line through it.
    for (const auto& [key, value] : object.items()) {
        if (key != "port" && value.is_string() &&
            value.get<std::string>().find(when.text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool WhenMatches(const BenchScenario::When& when, const std::string& line) {
    if (!line.empty() && line.front() == '{') {
        const Json object = Json::parse(line, nullptr, false);
        if (!object.is_discarded() && object.is_object()) {
            return JsonMatches(when, object);
        }
    }
    if (!when.fields.empty()) {
        return false;
    }
    const bool port = when.port == "*" || line.rfind(when.port + ": ", 0) == 0;
    return port && line.find(when.text) != std::string::npos;
}

}  // namespace ZELKSim
