#pragma once
// JSON Schema validation for tests, done by Debian's python3-jsonschema
// (tests/support/validate_json.py) rather than a validator of our own.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hhsync::test {

// For each value, every way it breaks schema, each as "<JSON pointer>: <what>";
// an empty list for a value that validates. A schema that is itself invalid,
// or a validator that cannot run, gives every value one error saying so.
std::vector<std::vector<std::string>> ValidateJsonEach(const nlohmann::json& schema,
                                                       const std::vector<nlohmann::json>& values);
std::vector<std::string> ValidateJson(const nlohmann::json& schema, const nlohmann::json& value);

// The report schema of docs/report.schema.json.
const nlohmann::json& ReportSchema();

}  // namespace hhsync::test
