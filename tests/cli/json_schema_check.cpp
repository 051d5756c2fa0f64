#include "json_schema_check.h"

#include <algorithm>
#include <regex>
#include <set>

namespace ZELKUtil::Testing {
namespace {

using Json = nlohmann::json;

bool HasType(const Json& value, const std::string& type) {
    if (type == "string") {
        return value.is_string();
    }
    if (type == "integer") {
        return value.is_number_integer();
    }
    if (type == "number") {
        return value.is_number();
    }
    if (type == "boolean") {
        return value.is_boolean();
    }
    if (type == "object") {
        return value.is_object();
    }
    if (type == "array") {
        return value.is_array();
    }
    return type == "null" && value.is_null();
}

// The characters of a UTF-8 string, as minLength counts them.
std::size_t Characters(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

const std::set<std::string>& Known() {
    static const std::set<std::string> known = {"$ref",
                                                "type",
                                                "const",
                                                "enum",
                                                "required",
                                                "properties",
                                                "additionalProperties",
                                                "items",
                                                "oneOf",
                                                "pattern",
                                                "minLength",
                                                "minimum",
                                                "maximum",
                                                "title",
                                                "description",
                                                "examples",
                                                "$schema",
                                                "$id",
                                                "$defs"};
    return known;
}

}  // namespace

std::vector<std::string> SchemaCheck::Problems(const Json& value) const {
    std::vector<std::string> problems;
    Check(root_, value, "", problems);
    return problems;
}

const std::regex& SchemaCheck::Pattern(const std::string& pattern) const {
    // Made once each: a line is checked against every kind, and a regex is slow to make.
    const std::lock_guard<std::mutex> lock(patternsLock_);
    auto made = patterns_.find(pattern);
    if (made == patterns_.end()) {
        made = patterns_.emplace(pattern, std::regex(pattern)).first;
    }
    return made->second;
}

const Json& SchemaCheck::Resolve(const std::string& ref) const {
    static const Json nothing;
    const std::string prefix = "#/$defs/";
    if (ref.rfind(prefix, 0) != 0 || !root_.contains("$defs") ||
        !root_["$defs"].contains(ref.substr(prefix.size()))) {
        return nothing;
    }
    return root_["$defs"][ref.substr(prefix.size())];
}

void SchemaCheck::Check(const Json& schema, const Json& value, const std::string& at,
                        std::vector<std::string>& problems) const {
    const auto problem = [&](const std::string& what) { problems.push_back(at + ": " + what); };
    for (const auto& [keyword, argument] : schema.items()) {
        if (Known().count(keyword) == 0) {
            problem("the schema's keyword " + keyword + " is not one this check knows");
        }
    }
    if (schema.contains("$ref")) {
        const Json& target = Resolve(schema["$ref"]);
        if (target.is_null()) {
            problem("the schema's $ref " + schema["$ref"].dump() + " names nothing");
        } else {
            Check(target, value, at, problems);
        }
    }
    if (schema.contains("type") && !HasType(value, schema["type"])) {
        problem(value.dump() + " is not of type " + schema["type"].get<std::string>());
        return;
    }
    if (schema.contains("const") && value != schema["const"]) {
        problem(value.dump() + " is not " + schema["const"].dump());
    }
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
        problem(value.dump() + " is none of " + schema["enum"].dump());
    }
    if (value.is_string() && schema.contains("pattern") &&
        !std::regex_search(value.get<std::string>(), Pattern(schema["pattern"]))) {
        problem(value.dump() + " does not match " + schema["pattern"].get<std::string>());
    }
    if (value.is_string() && schema.contains("minLength") &&
        Characters(value.get<std::string>()) < schema["minLength"].get<std::size_t>()) {
        problem(value.dump() + " is shorter than " + schema["minLength"].dump());
    }
    if (value.is_number() && schema.contains("minimum") && value < schema["minimum"]) {
        problem(value.dump() + " is below " + schema["minimum"].dump());
    }
    if (value.is_number() && schema.contains("maximum") && value > schema["maximum"]) {
        problem(value.dump() + " is above " + schema["maximum"].dump());
    }
    if (value.is_object()) {
        CheckObject(schema, value, at, problems);
    }
    if (value.is_array() && schema.contains("items")) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            Check(schema["items"], value[i], at + "/" + std::to_string(i), problems);
        }
    }
    if (schema.contains("oneOf")) {
        CheckOneOf(schema["oneOf"], value, at, problems);
    }
}

void SchemaCheck::CheckObject(const Json& schema, const Json& value, const std::string& at,
                              std::vector<std::string>& problems) const {
    for (const Json& name : schema.value("required", Json::array())) {
        if (!value.contains(name.get<std::string>())) {
            problems.push_back(at + ": " + name.get<std::string>() + " is missing");
        }
    }
    const Json properties = schema.value("properties", Json::object());
    for (const auto& [name, field] : value.items()) {
        std::string path = at;
        path.append("/").append(name);
        if (properties.contains(name)) {
            Check(properties[name], field, path, problems);
        } else if (schema.contains("additionalProperties")) {
            // Only `false` is known: no field beyond those named.
            problems.push_back(path.append(schema["additionalProperties"] == false
                                               ? ": not a field of this line"
                                               : ": only additionalProperties false is known"));
        }
    }
}

void SchemaCheck::CheckOneOf(const Json& branches, const Json& value, const std::string& at,
                             std::vector<std::string>& problems) const {
    std::size_t matched = 0;
    std::vector<std::string> closest;
    bool first = true;
    for (const Json& branch : branches) {
        std::vector<std::string> found;
        Check(branch, value, at, found);
        matched += found.empty() ? 1 : 0;
        // What kept the value from the branch it came nearest is what a reader needs.
        if (!found.empty() && (first || found.size() < closest.size())) {
            closest = std::move(found);
            first = false;
        }
    }
    if (matched == 1) {
        return;
    }
    problems.push_back(at + ": matches " + std::to_string(matched) + " of the " +
                       std::to_string(branches.size()) + " kinds, not one");
    if (matched == 0) {
        problems.insert(problems.end(), closest.begin(), closest.end());
    }
}

}  // namespace ZELKUtil::Testing
