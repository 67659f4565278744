#include "support/report_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "base/text.h"
#include "support/json_schema.h"

namespace hhsync::test {
namespace {

using nlohmann::json;

const HandheldDump::Volume* FindVolume(const HandheldDump& dump, const std::string& name) {
  for (const auto& volume : dump.volumes) {
    if (EqualsNoCase(volume.name, name)) return &volume;
  }
  return nullptr;
}

const HandheldDump::Database* FindDatabase(const HandheldDump::Volume* volume,
                                           const std::string& name) {
  if (volume == nullptr) return nullptr;
  for (const auto& db : volume->databases) {
    if (EqualsNoCase(db.name, name)) return &db;
  }
  return nullptr;
}

const CePropVal* Prop(const HandheldDump::Record& record, CEPROPID id) {
  for (const CePropVal& p : record.props) {
    if (p.propid == id) return &p;
  }
  return nullptr;
}

std::set<CEOID> Ids(const HandheldDump::Database* db) {
  std::set<CEOID> ids;
  if (db) {
    for (const auto& record : db->records) ids.insert(record.id);
  }
  return ids;
}

int CountNew(const HandheldDump::Database* db, const std::set<CEOID>& before) {
  int count = 0;
  if (db) {
    for (const auto& record : db->records) count += before.count(record.id) == 0 ? 1 : 0;
  }
  return count;
}

// The version of the first "cats" record of key; null without one.
json CatsVersion(const HandheldDump::Volume* volume, const std::string& key) {
  const HandheldDump::Database* cats = FindDatabase(volume, "cats");
  if (cats == nullptr) return nullptr;
  for (const auto& record : cats->records) {
    const CePropVal* k = Prop(record, 0x0064001F);
    const CePropVal* v = Prop(record, 0x00650013);
    if (k && WideToUtf8(k->lpwsz) == key) return v ? json(v->ulVal) : json(0);
  }
  return nullptr;
}

std::string TableName(const std::string& key) {
  return "c_" + WideToUtf8(Utf8ToWide(key).substr(0, 24));
}

// The target of a logged request: its request line between the method and
// the protocol version, exactly as sent.
std::string Target(const json& entry) {
  const std::string head = entry.value("head", "");
  const std::string line = head.substr(0, head.find("\r\n"));
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string::npos || last <= first) return "";
  return line.substr(first + 1, last - first - 1);
}

void ExpectRequests(const json& report, const ObservedRun& observed) {
  if (observed.serverUrl.empty()) return;
  std::vector<json> answered;
  for (const json& request : report["requests"]) {
    const std::string url = request["url"];
    if (url.rfind(observed.serverUrl + "/", 0) == 0 && !request["status"].is_null()) {
      answered.push_back(request);
    }
  }
  ASSERT_EQ(answered.size(), observed.serverLog.size())
      << "one report entry per request the server answered; report: " << report["requests"];
  for (std::size_t i = 0; i < answered.size(); ++i) {
    const json& logged = observed.serverLog[i];
    EXPECT_EQ(answered[i]["method"], logged["method"]) << i;
    EXPECT_EQ(answered[i]["url"], observed.serverUrl + Target(logged)) << i;
  }
}

void ExpectCategories(const json& report, const ObservedRun& observed) {
  const std::string volumeName = report["handheld"]["volume"].is_string()
                                     ? report["handheld"]["volume"].get<std::string>()
                                     : "";
  const HandheldDump::Volume* before = FindVolume(observed.before, volumeName);
  const HandheldDump::Volume* after = FindVolume(observed.after, volumeName);
  if (report["categories"].empty()) return;
  ASSERT_NE(after, nullptr) << "categories were synced on " << volumeName;
  for (const json& category : report["categories"]) {
    const std::string key = category["key"];
    const std::string action = category["action"];
    SCOPED_TRACE("category " + key + " (" + action + ")");
    const std::string table = TableName(key);
    if (action == "left") continue;  // what the handheld held was not known
    EXPECT_EQ(category["version_before"], CatsVersion(before, key));
    EXPECT_EQ(category["version_after"], CatsVersion(after, key));
    if (action == "gone") {
      if (category["table_deleted"].get<bool>()) {
        EXPECT_EQ(FindDatabase(after, table), nullptr);
      }
      continue;
    }
    const HandheldDump::Database* tableBefore =
        action == "new" ? nullptr : FindDatabase(before, table);
    const HandheldDump::Database* tableAfter = FindDatabase(after, table);
    const std::set<CEOID> idsBefore = Ids(tableBefore);
    const std::set<CEOID> idsAfter = Ids(tableAfter);
    if (action != "new") {
      int deleted = 0;
      for (CEOID id : idsBefore) deleted += idsAfter.count(id) == 0 ? 1 : 0;
      EXPECT_EQ(category["items_deleted"], deleted);
    }
    // Records new since the run began: index records, and those of the
    // record databases of the items in the table.
    const int newIndex = CountNew(tableAfter, Ids(FindDatabase(before, table)));
    int newRecords = newIndex;
    if (tableAfter) {
      for (const auto& record : tableAfter->records) {
        const CePropVal* id = Prop(record, 0x00640013);
        if (!id) continue;
        const std::string text = std::to_string(static_cast<int32_t>(id->ulVal));
        for (const std::string& name : {"J" + text, "JJ" + text}) {
          newRecords += CountNew(FindDatabase(after, name), Ids(FindDatabase(before, name)));
        }
      }
    }
    EXPECT_GE(category["records_written"].get<int>(), newRecords);
    if (category["completed"].get<bool>()) {
      EXPECT_EQ(category["records_written"], newRecords);
      EXPECT_EQ(category["items_fetched"], newIndex);
    }
  }
}

void ExpectKeep(const json& report, const ObservedRun& observed) {
  const json& keep = report["keep"];
  if (keep.is_null() || !report["handheld"]["volume"].is_string()) return;
  const std::string volumeName = report["handheld"]["volume"];
  const HandheldDump::Database* before =
      FindDatabase(FindVolume(observed.before, volumeName), "keep");
  const HandheldDump::Database* after =
      FindDatabase(FindVolume(observed.after, volumeName), "keep");
  EXPECT_EQ(keep["entries_read"], before ? before->records.size() : 0u);
  int deleted = 0;
  const std::set<CEOID> left = Ids(after);
  for (CEOID id : Ids(before)) deleted += left.count(id) == 0 ? 1 : 0;
  EXPECT_EQ(keep["entries_deleted"], deleted);
  if (keep["database_deleted"].get<bool>()) {
    EXPECT_EQ(after, nullptr);
  }
  if (!keep["accepted"].get<bool>()) {
    EXPECT_EQ(keep["entries_deleted"], 0);
  }
}

void ExpectResources(const json& report, const ObservedRun& observed) {
  const json& resources = report["resources"];
  if (resources.is_null()) return;
  const HandheldDump::Volume* after =
      FindVolume(observed.after, report["handheld"]["volume"].get<std::string>());
  auto holds = [&](const char* database, const json& item) {
    const HandheldDump::Database* db = FindDatabase(after, database);
    if (db == nullptr) return false;
    for (const auto& record : db->records) {
      const CePropVal* rid = Prop(record, 0x00640013);
      const CePropVal* revision = Prop(record, 0x0065001F);
      if (rid && revision && std::to_string(static_cast<int32_t>(rid->ulVal)) == item["rid"] &&
          WideToUtf8(revision->lpwsz) == item["revision"]) {
        return true;
      }
    }
    return false;
  };
  for (const json& item : resources["items"]) {
    SCOPED_TRACE("resource " + item.dump());
    if (item["stored"].get<bool>()) {
      EXPECT_TRUE(holds("zavRes", item));
    }
    if (item["installed"].get<bool>()) {
      EXPECT_TRUE(holds("zavResA", item));
    }
    const std::string type = item["type"];
    if (item["fetched"].get<bool>() && (type == "CAB" || type == "INI") &&
        !observed.programDir.empty()) {
      const std::string file = observed.programDir + "/" + item["name"].get<std::string>();
      EXPECT_EQ(std::filesystem::file_size(file), item["bytes"].get<uint64_t>());
    }
  }
}

void ExpectMessages(const json& report, const ObservedRun& observed) {
  std::vector<std::string> shown;
  std::istringstream in(observed.err);
  static const std::regex kMessage("^[^ ]+: message: (.*)$");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kMessage)) shown.push_back(m[1]);
  }
  std::vector<std::string> reported;
  for (const json& message : report["messages"]) {
    std::string text;
    for (char c : message["text"].get<std::string>()) {
      if (c == '\n') {
        text += "\\n";
      } else if (c != '\r') {
        text += c;
      }
    }
    reported.push_back(text + " [" + message["buttons"].get<std::string>() + "] -> " +
                       message["answer"].get<std::string>());
  }
  EXPECT_EQ(reported, shown);
}

}  // namespace

void ExpectReportMatches(const json& report, const ObservedRun& observed) {
  EXPECT_EQ(ValidateJson(ReportSchema(), report), std::vector<std::string>{}) << report.dump(2);
  if (!report.is_object() || !report.contains("requests")) return;
  SCOPED_TRACE("report " + report.dump());
  ExpectRequests(report, observed);
  ExpectCategories(report, observed);
  ExpectKeep(report, observed);
  ExpectResources(report, observed);
  ExpectMessages(report, observed);
  if (report["lst_written"].get<bool>()) {
    EXPECT_EQ(observed.lst, report["lst"].get<uint32_t>());
  }
  if (report["outcome"] == "complete") {
    for (const json& category : report["categories"]) {
      EXPECT_TRUE(category["completed"].get<bool>()) << category;
    }
    if (report["resources"].is_object()) {
      EXPECT_NE(report["resources"]["result"], "failed");
    }
  }
}

std::string TakeSummaryLine(std::string* err, const std::string& caption) {
  static const std::set<std::string> kOutcomes = {"complete",         "partial",   "not-due",
                                                  "page-only",        "cancelled", "no-handheld",
                                                  "no-configuration", "redirect",  "failed"};
  if (err->empty() || err->back() != '\n') return "";
  const std::size_t start = err->rfind('\n', err->size() - 2);
  const std::size_t lineStart = start == std::string::npos ? 0 : start + 1;
  const std::string line = err->substr(lineStart, err->size() - 1 - lineStart);
  const std::string prefix = caption + ": ";
  if (line.rfind(prefix, 0) != 0) return "";
  const std::size_t colon = line.find(": ", prefix.size());
  if (colon == std::string::npos ||
      kOutcomes.count(line.substr(prefix.size(), colon - prefix.size())) == 0) {
    return "";
  }
  err->resize(lineStart);
  return line;
}

}  // namespace hhsync::test
