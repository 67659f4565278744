#include "support/json_schema.h"

#include "support/processes.h"
#include "support/test_platform.h"

namespace hhsync::test {

using nlohmann::json;

std::vector<std::vector<std::string>> ValidateJsonEach(const json& schema,
                                                       const std::vector<json>& values) {
  TempDir dir;
  WriteFile(dir.File("schema.json"), schema.dump());
  WriteFile(dir.File("values.json"), json(values).dump());
  const RunResult run = RunProcess(
      {"/usr/bin/python3", std::string(HHSYNC_SOURCE_DIR) + "/tests/support/validate_json.py",
       dir.File("schema.json"), dir.File("values.json")});
  const json answer = json::parse(run.out, nullptr, false);
  if (run.exitCode != 0 || !answer.is_array() || answer.size() != values.size()) {
    const std::string why = "the validator failed (exit " + std::to_string(run.exitCode) +
                            "): " + run.err.substr(0, 2000);
    return std::vector<std::vector<std::string>>(values.size(), {why});
  }
  return answer.get<std::vector<std::vector<std::string>>>();
}

std::vector<std::string> ValidateJson(const json& schema, const json& value) {
  return ValidateJsonEach(schema, {value}).front();
}

const json& ReportSchema() {
  static const json schema =
      json::parse(ReadFile(std::string(HHSYNC_SOURCE_DIR) + "/docs/report.schema.json"));
  return schema;
}

}  // namespace hhsync::test
