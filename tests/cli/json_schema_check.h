#pragma once

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

namespace ZELKUtil::Testing {

// A JSON Schema (draft 2020-12) checker for the keywords zelk-cli's event schema uses: $ref to
// its own $defs, type, const, enum, required, properties, additionalProperties (false), items,
// oneOf, pattern, minLength, minimum and maximum; title, description, examples, $schema, $id and
// $defs are read as the notes they are. A keyword it does not know is a fault of the schema: the
// check could not tell what it asks.
class SchemaCheck {
  public:
    explicit SchemaCheck(nlohmann::json schema) : root_(std::move(schema)) {}
    // What is wrong with the value, one line each ("/boxes/0/result: ..."); empty when it matches.
    std::vector<std::string> Problems(const nlohmann::json& value) const;

  private:
    void Check(const nlohmann::json& schema, const nlohmann::json& value, const std::string& at,
               std::vector<std::string>& problems) const;
    void CheckObject(const nlohmann::json& schema, const nlohmann::json& value,
                     const std::string& at, std::vector<std::string>& problems) const;
    void CheckOneOf(const nlohmann::json& branches, const nlohmann::json& value,
                    const std::string& at, std::vector<std::string>& problems) const;
    const nlohmann::json& Resolve(const std::string& ref) const;
    const std::regex& Pattern(const std::string& pattern) const;

    nlohmann::json root_;
    mutable std::mutex patternsLock_;
    mutable std::map<std::string, std::regex> patterns_;
};

}  // namespace ZELKUtil::Testing
