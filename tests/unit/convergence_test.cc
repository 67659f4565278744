// What `hhctl sweep` counts as the same outcome: record and database ids
// ignored, records compared as multisets, unreachable record databases kept
// apart, times in the desktop registry compared by presence; and how it
// reads the keep entries the server received and the runs' reports.

#include "convergence.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "formats/report_json.h"
#include "support/json_schema.h"

namespace hhctl {
namespace {

using hhsync::CePropVal;
using hhsync::HandheldDump;
using hhsync::RegEntry;
using hhsync::RegRoot;
using hhsync::RegValue;

HandheldDump::Record Record(hhsync::CEOID id, std::vector<CePropVal> props) {
  return {id, std::move(props)};
}

HandheldDump::Record IndexRecord(hhsync::CEOID id, uint32_t contentId) {
  return Record(id, {CePropVal::Ui4(0x00640013, contentId), CePropVal::Text(0x0065001F, u"1"),
                     CePropVal::Text(0x0067001F, u"Item")});
}

HandheldDump::Record PartRecord(hhsync::CEOID id, uint32_t sequence, uint8_t byte) {
  return Record(id,
                {CePropVal::Blob(0x007A0041, {byte, byte}), CePropVal::Ui4(0x007C0013, sequence)});
}

// A handheld after a sync: one content table naming item 7, its two record
// databases, and a registry value. Ids start at base so that two dumps can
// hold the same content under other ids.
HandheldDump SyncedHandheld(hhsync::CEOID base) {
  HandheldDump d;
  d.connected = true;
  d.libraries = {"zvdll"};
  d.registry = {{"Software\\Acme\\News\\ni", true, "NO"}, {"Software\\Acme\\News\\sd6", false, ""}};
  HandheldDump::Database table{base, "c_news", {{0x0067001F, 0}, {0x00640013, 0}}, {}};
  table.records = {IndexRecord(base + 1, 7)};
  HandheldDump::Database j{base + 2, "J7", {{0x007C0013, 0}}, {}};
  j.records = {PartRecord(base + 3, 0, 1), PartRecord(base + 4, 1, 2)};
  HandheldDump::Database jj{base + 5, "JJ7", {{0x007C0013, 0}}, {}};
  jj.records = {PartRecord(base + 6, 0, 3)};
  d.volumes = {{"news.vol", {table, j, jj}}};
  return d;
}

HandheldDump::Database* Find(HandheldDump& d, const std::string& name) {
  for (auto& db : d.volumes.at(0).databases) {
    if (db.name == name) return &db;
  }
  return nullptr;
}

TEST(ConvergenceTest, DumpsThatDifferOnlyInIdsOrderCallsAndFaultsCompareEqual) {
  HandheldDump a = SyncedHandheld(100);
  HandheldDump b = SyncedHandheld(5000);
  // Other traversal order, a remote-call log and a fault: none of them counts.
  std::swap(Find(b, "J7")->records[0], Find(b, "J7")->records[1]);
  b.calls.push_back({"zvdll", "RAPIlaunchapp", "x"});
  b.faults.push_back({"CeWriteRecordProps", 3, false, 87, 1});
  b.registry[0].path = "SOFTWARE\\acme\\NEWS\\NI";  // the registry ignores case
  EXPECT_TRUE(Compare(StateFromDump(a), StateFromDump(b)).empty())
      << Summarize(Compare(StateFromDump(a), StateFromDump(b)));
}

TEST(ConvergenceTest, AMissingRecordADuplicateAndAChangedValueAreReportedWhereTheyAre) {
  const SyncState reference = StateFromDump(SyncedHandheld(1));

  HandheldDump missing = SyncedHandheld(1);
  Find(missing, "J7")->records.pop_back();
  std::vector<Difference> d = Compare(reference, StateFromDump(missing));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].where, "handheld db news.vol/J7");
  EXPECT_EQ(d[0].what.rfind("1 of 2 records missing, 0 extra", 0), 0u) << d[0].what;

  // The same record twice is a difference, though each is "present".
  HandheldDump twice = SyncedHandheld(1);
  Find(twice, "c_news")->records.push_back(IndexRecord(99, 7));
  d = Compare(reference, StateFromDump(twice));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].where, "handheld db news.vol/c_news");
  EXPECT_EQ(d[0].what.rfind("0 of 1 records missing, 1 extra", 0), 0u) << d[0].what;

  HandheldDump registry = SyncedHandheld(1);
  registry.registry[0].value = "YES";
  registry.registry[1].hasValue = true;
  registry.registry[1].value = "SD6";
  d = Compare(reference, StateFromDump(registry));
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].where, "handheld registry software\\acme\\news\\ni");
  EXPECT_EQ(d[0].what, "YES instead of NO");
  EXPECT_EQ(d[1].what, "SD6 instead of (no value)");

  HandheldDump sorts = SyncedHandheld(1);
  Find(sorts, "c_news")->sorts.pop_back();
  d = Compare(reference, StateFromDump(sorts));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_NE(d[0].what.find("sort orders"), std::string::npos);

  HandheldDump gone = SyncedHandheld(1);
  gone.volumes[0].databases.erase(gone.volumes[0].databases.begin());  // c_news
  d = Compare(reference, StateFromDump(gone));
  // The table is missing; its item's record databases, named by nothing
  // now, are missing as named databases and there as leftovers.
  ASSERT_EQ(d.size(), 5u) << Summarize(d);
  EXPECT_EQ(d[0].where, "handheld db news.vol/c_news");
  EXPECT_EQ(d[0].what, "missing (1 records)");
}

TEST(ConvergenceTest, RecordDatabasesNoIndexRecordNamesAreLeftoversAndEachADifference) {
  const SyncState reference = StateFromDump(SyncedHandheld(1));
  HandheldDump actual = SyncedHandheld(1);
  HandheldDump::Database stale{40, "J12", {{0x007C0013, 0}}, {PartRecord(41, 0, 9)}};
  HandheldDump::Database staleSecond{42, "JJ12", {}, {PartRecord(43, 0, 9)}};
  actual.volumes[0].databases.push_back(stale);
  actual.volumes[0].databases.push_back(staleSecond);
  const SyncState state = StateFromDump(actual);
  const std::vector<Difference> leftovers = Compare(reference, state);
  ASSERT_EQ(leftovers.size(), 2u) << Summarize(leftovers);
  EXPECT_EQ(leftovers[0].where, "handheld db news.vol/J12");
  EXPECT_EQ(leftovers[0].what, "leftover (1 records, no index record names it)");
  ASSERT_EQ(state.leftovers.size(), 2u);
  EXPECT_EQ(state.leftovers.count("news.vol/j12"), 1u);
  EXPECT_EQ(state.leftovers.count("news.vol/jj12"), 1u);
  EXPECT_EQ(state.databases.count("news.vol/j7"), 1u) << "named by an index record";

  // Any other database that is not in the reference is a difference.
  actual.volumes[0].databases.push_back(
      {44, "keep", {}, {Record(45, {CePropVal::Ui4(0x00640013, 1)})}});
  std::vector<Difference> d = Compare(reference, StateFromDump(actual));
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0].where, "handheld db news.vol/keep");
  EXPECT_EQ(d[0].what, "extra (1 records)");
}

TEST(ConvergenceTest, DesktopTimesCompareByPresenceAndOtherValuesByContent) {
  SyncState reference, later, without, changed;
  const std::string path = "Software\\Acme\\News";
  AddDesktopRegistry(&reference, RegRoot::kLocalMachine,
                     {{path, "lst", RegValue::Dword(1000)}, {path, "tu", RegValue::String("0")}});
  AddDesktopRegistry(&later, RegRoot::kLocalMachine,
                     {{path, "LST", RegValue::Dword(2000)}, {path, "tu", RegValue::String("0")}});
  AddDesktopRegistry(&without, RegRoot::kLocalMachine, {{path, "tu", RegValue::String("0")}});
  AddDesktopRegistry(&changed, RegRoot::kLocalMachine,
                     {{path, "lst", RegValue::Dword(1000)}, {path, "tu", RegValue::String("24")}});
  EXPECT_TRUE(Compare(reference, later).empty());
  std::vector<Difference> d = Compare(reference, without);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].where, "desktop registry hklm\\software\\acme\\news value lst");
  EXPECT_EQ(d[0].what, "missing (reference: (present))");
  d = Compare(reference, changed);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].what, "sz:24 instead of sz:0");

  SyncState withDefault = reference;
  AddDesktopRegistry(&withDefault, RegRoot::kLocalMachine,
                     {{path + "\\log", "", RegValue::String("NO")}});
  d = Compare(reference, withDefault);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].where, "desktop registry hklm\\software\\acme\\news\\log (default value)");
  EXPECT_EQ(d[0].what, "extra: sz:NO");

  SyncState file = reference;
  AddFile(&file, "app.cab", "bytes");
  d = Compare(reference, file);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].where, "file app.cab");
}

TEST(ConvergenceTest, KeepBodiesSplitIntoEntriesOfFiveFields) {
  std::vector<std::string> entries;
  EXPECT_TRUE(ParseKeepBody("p=acme&count=2&keep=7|d|m:page|e|c|8|d2|note|e2|c2|", &entries));
  EXPECT_EQ(entries, (std::vector<std::string>{"7|d|m:page|e|c", "8|d2|note|e2|c2"}));
  EXPECT_TRUE(ParseKeepBody("p=acme&count=0&keep=", &entries));
  EXPECT_TRUE(entries.empty());
  // A count that does not match, a field short, the form's fields missing.
  EXPECT_FALSE(ParseKeepBody("p=acme&count=2&keep=7|d|m:page|e|c|", &entries));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_FALSE(ParseKeepBody("p=acme&count=1&keep=7|d|m:page|e|", &entries));
  EXPECT_FALSE(ParseKeepBody("count=1&keep=7|d|m|e|c|", &entries));
}

TEST(ConvergenceTest, TallyCountsLostTwiceAndUnexpectedEntries) {
  const std::vector<std::string> expected = {"1|a|b|c|d", "2|a|b|c|d", "3|a|b|c|d"};
  const std::string received =
      "p=x&count=2&keep=1|a|b|c|d|0|||||\n"
      "p=x&count=2&keep=1|a|b|c|d|2|a|b|c|d|\n"
      "garbage\n";
  KeepTally t = TallyKeep(received, expected);
  EXPECT_EQ(t.bodies, 3);
  EXPECT_EQ(t.malformed, 1);
  EXPECT_EQ(t.delivered.at("1|a|b|c|d"), 2);
  EXPECT_EQ(t.delivered.at("2|a|b|c|d"), 1);
  EXPECT_EQ(t.delivered.at("3|a|b|c|d"), 0);
  EXPECT_EQ(t.lost(), 1);
  EXPECT_EQ(t.twice(), 1);
  EXPECT_EQ(t.unexpected, (std::vector<std::string>{"0||||"}));

  KeepTally none = TallyKeep("", expected);
  EXPECT_EQ(none.lost(), 3);
  EXPECT_EQ(none.bodies, 0);
}

TEST(ConvergenceTest, ReportKeysAndOutcomesAreTheSchemas) {
  const nlohmann::json& schema = hhsync::test::ReportSchema();
  std::set<std::string> required;
  for (const auto& key : schema["required"]) required.insert(key.get<std::string>());
  std::set<std::string> properties;
  for (const auto& [key, value] : schema["properties"].items()) properties.insert(key);
  const std::set<std::string> keys(ReportKeys().begin(), ReportKeys().end());
  EXPECT_EQ(keys, required);
  EXPECT_EQ(keys, properties);
  EXPECT_EQ(ReportOutcomes(),
            schema["properties"]["outcome"]["enum"].get<std::vector<std::string>>());
}

// A report as the program writes it, with the outcome and keep list given.
std::string WrittenReport(hhsync::RunOutcome outcome, std::optional<hhsync::KeepFacts> keep = {}) {
  hhsync::RunReport report;
  report.mode = "sync";
  report.outcome = outcome;
  report.reason = outcome == hhsync::RunOutcome::kComplete ? "" : "why";
  report.keep = keep;
  return hhsync::ReportJson(report);
}

TEST(ConvergenceTest, AReportIsWholeOnlyWhenItParsesWithEveryKeyAndAKnownOutcome) {
  const ReportRead missing = ReadReport(std::nullopt);
  EXPECT_FALSE(missing.present);
  EXPECT_FALSE(missing.whole);
  EXPECT_EQ(missing.problem, "missing");

  const std::string text = WrittenReport(hhsync::RunOutcome::kPartial);
  const ReportRead whole = ReadReport(text);
  EXPECT_TRUE(whole.present);
  EXPECT_TRUE(whole.whole) << whole.problem;
  EXPECT_EQ(whole.outcome, "partial");
  EXPECT_EQ(whole.problem, "");

  // Cut anywhere before its closing brace, it is never whole.
  const std::size_t end = text.rfind('}');
  for (std::size_t length = 0; length <= end; ++length) {
    const ReportRead torn = ReadReport(text.substr(0, length));
    EXPECT_TRUE(torn.present);
    EXPECT_FALSE(torn.whole) << length;
    EXPECT_EQ(torn.outcome, "") << length;
  }

  auto changed = [&text](const std::function<void(nlohmann::ordered_json&)>& change) {
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(text);
    change(j);
    return ReadReport(j.dump());
  };
  EXPECT_EQ(changed([](auto& j) { j.erase("messages"); }).problem, "no \"messages\"");
  EXPECT_EQ(changed([](auto& j) { j["extra"] = 1; }).problem, "unknown key \"extra\"");
  EXPECT_EQ(changed([](auto& j) { j["outcome"] = "done"; }).problem, "unknown outcome \"done\"");
  EXPECT_EQ(changed([](auto& j) { j["outcome"] = 1; }).problem, "unknown outcome 1");
  EXPECT_EQ(changed([](auto& j) { j["program"] = "other"; }).problem, "program is \"other\"");
  EXPECT_EQ(ReadReport("[1]").problem, "not a JSON object");
  EXPECT_FALSE(ReadReport("").whole);
}

TEST(ConvergenceTest, AKeepListLeftForTheNextSyncIsWhatTheKeepSectionSays) {
  using hhsync::KeepFacts;
  using hhsync::RunOutcome;
  auto keepLeft = [](std::optional<KeepFacts> keep) {
    const ReportRead read = ReadReport(WrittenReport(RunOutcome::kComplete, keep));
    EXPECT_TRUE(read.whole) << read.problem;
    return read.keepLeft;
  };
  KeepFacts done;
  done.entriesRead = 2;
  done.posted = true;
  done.accepted = true;
  done.reply = "no";
  done.entriesDeleted = 2;
  done.databaseDeleted = true;
  EXPECT_FALSE(keepLeft(std::nullopt));
  EXPECT_FALSE(keepLeft(KeepFacts{})) << "no entries, none failed: nothing is left";
  EXPECT_FALSE(keepLeft(done));

  KeepFacts failed;
  failed.readFailed = true;
  EXPECT_TRUE(keepLeft(failed));
  KeepFacts refused = done;
  refused.accepted = false;
  refused.entriesDeleted = 0;
  refused.databaseDeleted = false;
  EXPECT_TRUE(keepLeft(refused));
  KeepFacts oneLeft = done;
  oneLeft.entriesDeleted = 1;
  oneLeft.databaseDeleted = false;
  EXPECT_TRUE(keepLeft(oneLeft));
  KeepFacts databaseLeft = done;
  databaseLeft.databaseDeleted = false;
  EXPECT_TRUE(keepLeft(databaseLeft));
}

}  // namespace
}  // namespace hhctl
