// The report schema must reject what a reader of reports may not meet, or
// the tests that validate reports against it could not fail.

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
  report.categories = {{"news", CategoryAction::kNew, 3, {}, 3, 1, 0, 4, false, true}};
  report.keep = KeepFacts{1, false, true, true, "no", 1, true, true, "http://login/p?m=no"};
  ResourcesFacts resources;
  resources.result = ResourcesResult::kUnchanged;
  report.resources = resources;
  report.messages = {{"text", "retry,cancel", "cancel"}};
  return json::parse(ReportJson(report));
}

TEST(JsonSchemaTest, TheReportSchemaRejectsBrokenReports) {
  const json good = ValidReport();
  ASSERT_EQ(test::ValidateJson(test::ReportSchema(), good), std::vector<std::string>{});

  const std::vector<std::pair<std::string, std::function<void(json&)>>> breaks = {
      {"another program", [](json& r) { r["program"] = "other"; }},
      {"a version of another form", [](json& r) { r["version"] = "2.86"; }},
      {"an unknown mode", [](json& r) { r["mode"] = "resync"; }},
      {"an unknown outcome", [](json& r) { r["outcome"] = "ok"; }},
      {"a time without offset", [](json& r) { r["started"] = "2026-11-30T00:53:20"; }},
      {"negative seconds", [](json& r) { r["seconds"] = -1; }},
      {"a failure without reason", [](json& r) { r["outcome"] = "failed"; }},
      {"a complete run with an empty reason", [](json& r) { r["reason"] = ""; }},
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
  std::vector<json> bad;
  for (const auto& [what, change] : breaks) {
    change(bad.emplace_back(good));
  }
  const auto errors = test::ValidateJsonEach(test::ReportSchema(), bad);
  for (std::size_t i = 0; i < breaks.size(); ++i) {
    EXPECT_FALSE(errors[i].empty()) << breaks[i].first << ": " << bad[i].dump();
  }
}

}  // namespace
}  // namespace hhsync
