#pragma once
// A JSON Schema validator for the keywords the project's schemas use
// (draft-07): type, enum, const, properties, required,
// additionalProperties, items (one schema for every element), minimum,
// minLength, pattern, $ref to "#/..." inside the same schema, allOf, and
// if/then/else; title, description, $schema, $id,
// $comment and definitions are read as annotations. Any other keyword is
// itself reported as an error, so that a schema never relies on a keyword
// this validator would pass over.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hhsync::test {

// Every way value breaks schema, each as "<JSON pointer>: <what>"; empty
// when it validates.
std::vector<std::string> ValidateJson(const nlohmann::json& schema, const nlohmann::json& value);

// The report schema of docs/report.schema.json.
const nlohmann::json& ReportSchema();

}  // namespace hhsync::test
