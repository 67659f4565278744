// The schema validator the report tests rely on: it must reject what the
// schema forbids, or the tests that use it could not fail.

#include "support/json_schema.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "formats/report_json.h"

namespace hhsync {
namespace {

using nlohmann::json;
using test::ValidateJson;

TEST(JsonSchemaTest, EachKeywordAcceptsWhatItAllowsAndRejectsTheRest) {
  const json schema = json::parse(R"({
    "type": "object",
    "required": ["n", "s"],
    "additionalProperties": false,
    "properties": {
      "n": {"type": "integer", "minimum": 1},
      "s": {"type": "string", "minLength": 2, "pattern": "^a"},
      "e": {"enum": ["x", 2]},
      "c": {"type": "boolean"},
      "k": {"const": "K"},
      "l": {"type": "array", "items": {"$ref": "#/definitions/small"}},
      "any": {"anyOf": [{"type": "string"}, {"type": "null"}]},
      "one": {"oneOf": [{"type": "integer"}, {"type": "number"}]},
      "not": {"not": {"type": "string"}},
      "open": {"type": "object", "additionalProperties": {"type": "boolean"}}
    },
    "if": {"properties": {"n": {"const": 5}}},
    "then": {"required": ["c"], "properties": {"c": {"const": true}}},
    "else": {"properties": {"c": {"const": false}}},
    "definitions": {"small": {"type": "integer", "minimum": 0}}
  })");
  const json good = json::parse(R"({"n": 2, "s": "ab", "e": 2, "c": false, "k": "K", "l": [0, 3],
      "any": null, "one": 1.5, "not": 4, "open": {"x": true}})");
  EXPECT_EQ(ValidateJson(schema, good), std::vector<std::string>{});
  EXPECT_EQ(ValidateJson(schema, json::parse(R"({"n": 5, "s": "ab", "c": true})")),
            std::vector<std::string>{});
  EXPECT_EQ(ValidateJson(schema, json::parse(R"({"n": 2.0, "s": "a\u00e9"})")),
            std::vector<std::string>{})
      << "2.0 is an integer; minLength counts characters";

  const std::vector<std::pair<std::string, std::function<void(json&)>>> breaks = {
      {"a required member missing", [](json& v) { v.erase("s"); }},
      {"a member not allowed", [](json& v) { v["extra"] = 1; }},
      {"the wrong type", [](json& v) { v["n"] = "2"; }},
      {"a number with a fraction as integer", [](json& v) { v["n"] = 2.5; }},
      {"below the minimum", [](json& v) { v["n"] = 0; }},
      {"too short", [](json& v) { v["s"] = "a"; }},
      {"not matching the pattern", [](json& v) { v["s"] = "ba"; }},
      {"not in the enum", [](json& v) { v["e"] = "y"; }},
      {"not the constant", [](json& v) { v["k"] = "k"; }},
      {"an element breaking a referenced schema", [](json& v) { v["l"][1] = -1; }},
      {"matching no branch of anyOf", [](json& v) { v["any"] = 3; }},
      {"matching two branches of oneOf", [](json& v) { v["one"] = 1; }},
      {"matching what not forbids", [](json& v) { v["not"] = "x"; }},
      {"a further member of the wrong type", [](json& v) { v["open"]["y"] = 1; }},
      {"breaking then", [](json& v) { v["n"] = 5, v.erase("c"); }},
      {"breaking then's constant", [](json& v) { v["n"] = 5; }},
      {"breaking else", [](json& v) { v["c"] = true; }},
      {"not an object at all", [](json& v) { v = json::array(); }},
  };
  for (const auto& [what, change] : breaks) {
    json bad = good;
    change(bad);
    EXPECT_FALSE(ValidateJson(schema, bad).empty()) << what << ": " << bad.dump();
  }
}

TEST(JsonSchemaTest, AKeywordItDoesNotKnowOrAReferenceThatLeadsNowhereIsAnError) {
  EXPECT_FALSE(ValidateJson(json::parse(R"({"maxLength": 2})"), "abc").empty());
  EXPECT_FALSE(ValidateJson(json::parse(R"({"$ref": "#/definitions/none"})"), 1).empty());
  EXPECT_FALSE(ValidateJson(false, 1).empty());
  EXPECT_TRUE(ValidateJson(true, 1).empty());
}

// A report as the program writes it, valid; each change below breaks it in
// one way the schema forbids.
json ValidReport() {
  RunReport report;
  report.mode = "sync";
  report.startedAt = report.endedAt = 1796000000;
  report.outcome = RunOutcome::kComplete;
  report.handheld = {true, "news.vol", true, "SD6-1"};
  report.lstWritten = 1796000000;
  report.requests = {{"GET", "http://h:81/zavrik/update/profile?x", 200, 10, 3, 0, ""}};
  report.categories = {{"news", "new", 3, {}, 3, 1, 0, 4, false, true}};
  report.keep = KeepFacts{1, false, true, true, "no", 1, true, true, "http://login/p?m=no"};
  ResourcesFacts resources;
  resources.result = "unchanged";
  report.resources = resources;
  report.messages = {{"text", "retry,cancel", "cancel"}};
  return json::parse(ReportJson(report));
}

TEST(JsonSchemaTest, TheReportSchemaRejectsBrokenReports) {
  const json good = ValidReport();
  ASSERT_EQ(ValidateJson(test::ReportSchema(), good), std::vector<std::string>{});

  const std::vector<std::pair<std::string, std::function<void(json&)>>> breaks = {
      {"another program", [](json& r) { r["program"] = "other"; }},
      {"a version of another form", [](json& r) { r["version"] = "2.86"; }},
      {"an unknown mode", [](json& r) { r["mode"] = "resync"; }},
      {"an unknown outcome", [](json& r) { r["outcome"] = "ok"; }},
      {"a time without offset", [](json& r) { r["started"] = "2026-11-30T00:53:20"; }},
      {"negative seconds", [](json& r) { r["seconds"] = -1; }},
      {"a failure without reason", [](json& r) { r["outcome"] = "failed"; }},
      {"a complete run with a reason", [](json& r) { r["reason"] = "why"; }},
      {"lst written without its value", [](json& r) { r["lst"] = nullptr; }},
      {"lst not written with a value", [](json& r) { r["lst_written"] = false; }},
      {"no requests member", [](json& r) { r.erase("requests"); }},
      {"a member of its own", [](json& r) { r["note"] = "x"; }},
      {"credentials in a URL", [](json& r) { r["requests"][0]["url"] = "http://u:p@h/"; }},
      {"a request without status member", [](json& r) { r["requests"][0].erase("status"); }},
      {"a request with a header", [](json& r) { r["requests"][0]["headers"] = "x"; }},
      {"an error without code",
       [](json& r) {
         r["requests"][0]["error"] = {{"text", "x"}};
       }},
      {"a category of an unknown action", [](json& r) { r["categories"][0]["action"] = "x"; }},
      {"negative items", [](json& r) { r["categories"][0]["items_fetched"] = -1; }},
      {"a text version", [](json& r) { r["categories"][0]["version_after"] = "3"; }},
      {"keep of the wrong type", [](json& r) { r["keep"] = 1; }},
      {"keep without page_url", [](json& r) { r["keep"].erase("page_url"); }},
      {"an unknown resource result", [](json& r) { r["resources"]["result"] = "done"; }},
      {"a message with unknown buttons", [](json& r) { r["messages"][0]["buttons"] = "x"; }},
      {"a message without its answer", [](json& r) { r["messages"][0].erase("answer"); }},
      {"a handheld without sd6", [](json& r) { r["handheld"].erase("sd6"); }},
  };
  for (const auto& [what, change] : breaks) {
    json bad = good;
    change(bad);
    EXPECT_FALSE(ValidateJson(test::ReportSchema(), bad).empty()) << what << ": " << bad.dump();
  }
}

}  // namespace
}  // namespace hhsync
