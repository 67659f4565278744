// `hhctl sweep`, run as the real binary against the real hhsync: the reduced
// fault sweep and a short kill test must complete with a well-formed report
// whose numbers agree with each other, every case must converge, and every
// run's own report must be whole and true to the state the run left.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "support/json_schema.h"
#include "support/processes.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using nlohmann::json;
using test::RunResult;

const std::vector<std::string> kConnectionOps = {"CeRapiInitEx", "WaitForInit", "CeRapiUninit"};

RunResult SweepWith(const std::string& hhsync, std::vector<std::string> args) {
  args.insert(args.begin(), {HHCTL_BIN, "sweep", "--hhsync", hhsync});
  return test::RunProcess(args);
}

RunResult Sweep(std::vector<std::string> args) { return SweepWith(HHSYNC_BIN, std::move(args)); }

bool Contains(const json& array, const json& value) {
  return std::find(array.begin(), array.end(), value) != array.end();
}

// The report checks of one case or kill point agree with each other.
void ExpectReportFieldsAgree(const json& c, const json& referenceOutcomes) {
  EXPECT_EQ(c["report_ok"].get<bool>(), c["report_findings"].empty()) << c.dump();
  if (c["report_lie"].get<bool>()) {
    EXPECT_FALSE(c["report_ok"].get<bool>()) << c.dump();
  }
  if (c["report_ok"].get<bool>()) {
    EXPECT_TRUE(Contains(referenceOutcomes, c["clean_report_outcome"])) << c.dump();
  }
}

// The report of a run that completed: exit 0 or 1 agreeing with "ok".
json Report(const RunResult& run) {
  EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << ": " << run.err;
  json report = json::parse(run.out, nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << run.out.substr(0, 2000) << run.err;
  if (report.is_discarded()) return json::object();
  EXPECT_EQ(report.value("ok", false), run.exitCode == 0);
  return report;
}

// The calls the uses name for an operation called count times, as the tool
// picks them: first 1, last count, one case per distinct call.
std::set<uint32_t> FirstAndLast(uint32_t count) {
  if (count == 0) return {};
  return {1u, count};
}

void ExpectCleanControl(const json& control, const json& referenceOutcomes) {
  EXPECT_EQ(control["op"], "");
  // Without a fault both runs end as the reference's did, with its state.
  EXPECT_TRUE(control["report_ok"].get<bool>()) << control["report_findings"].dump();
  EXPECT_TRUE(Contains(referenceOutcomes, control["report_outcome"])) << control.dump();
  EXPECT_TRUE(Contains(referenceOutcomes, control["clean_report_outcome"])) << control.dump();
  EXPECT_EQ(control["differences_after_fault"], 0) << control.dump();
  EXPECT_TRUE(control["converged"].get<bool>()) << control["differences"].dump();
  EXPECT_EQ(control["keep_lost"], 0);
  EXPECT_EQ(control["keep_twice"], 0);
  EXPECT_TRUE(control["keep_unexpected"].empty());
  EXPECT_GE(control["keep_bodies"].get<int>(), 1) << "the scenario posts keep entries";
  for (const auto& [entry, times] : control["keep_delivered"].items()) {
    EXPECT_EQ(times, 1) << entry;
  }
}

TEST(SweepTest, ReducedSweepReportsEveryCaseWithConsistentTotals) {
  const RunResult run = Sweep({"--reduced", "--json"});
  const json report = Report(run);
  ASSERT_TRUE(report.contains("cases")) << run.err;
  EXPECT_EQ(report["errors"], json::array({87, 5}));
  EXPECT_EQ(report["uses"], json::array({"first", "last"}));

  // The expected cases, from the calls the tool counted: every operation but
  // the connection ones, first and last call, both errors.
  std::map<std::string, std::set<uint32_t>> expectedCalls;  // "scenario op" -> calls
  std::set<std::string> calledOps;
  std::size_t expectedCases = 0;
  ASSERT_EQ(report["scenarios"].size(), 2u);
  EXPECT_EQ(report["scenarios"][0]["name"], "first");
  EXPECT_EQ(report["scenarios"][1]["name"], "resync");
  for (const json& scenario : report["scenarios"]) {
    const json& counts = scenario["op_counts"];
    for (const std::string& op : EmulatedHandheld::FaultableOperations()) {
      ASSERT_TRUE(counts.contains(op)) << op;
    }
    // One connection per run: the counting itself is sound.
    for (const std::string& op : kConnectionOps) EXPECT_EQ(counts[op], 1) << op;
    EXPECT_GT(counts["CeWriteRecordProps"].get<uint32_t>(), 20u);
    EXPECT_GT(scenario["reference_run_ms"].get<int>(), 0);
    // A sync of this scenario is due every time, so the fault-free runs
    // complete, and so must every clean sync after a fault.
    EXPECT_EQ(scenario["reference_outcomes"], json::array({"complete"}));
    ExpectCleanControl(scenario["control"], scenario["reference_outcomes"]);
    for (const auto& [op, count] : counts.items()) {
      if (std::count(kConnectionOps.begin(), kConnectionOps.end(), op) != 0) continue;
      std::set<uint32_t> calls = FirstAndLast(count.get<uint32_t>());
      if (!calls.empty()) calledOps.insert(op);
      expectedCalls[scenario["name"].get<std::string>() + " " + op] = calls;
      expectedCases += calls.size() * 2;
    }
  }
  EXPECT_TRUE(calledOps.count("CeDeleteRecord")) << "the resync scenario deletes records";

  const json& cases = report["cases"];
  EXPECT_EQ(cases.size(), expectedCases);
  std::map<std::string, std::set<uint32_t>> seenCalls;
  std::set<std::string> seenOps;
  const json outcomes = test::ReportSchema()["properties"]["outcome"]["enum"];
  int converged = 0, leftoverCases = 0, lost = 0, twice = 0, reportsBad = 0, reportLies = 0;
  std::set<std::string> faultedOutcomes;
  for (const json& c : cases) {
    const std::string op = c["op"];
    seenOps.insert(op);
    seenCalls[c["scenario"].get<std::string>() + " " + op].insert(c["nth"].get<uint32_t>());
    EXPECT_TRUE(c["error"] == 87 || c["error"] == 5) << c.dump();
    EXPECT_TRUE(c["fired"].get<bool>()) << "the fault must have hit the run: " << c.dump();
    EXPECT_EQ(c["converged"].get<bool>(), c["differences"].empty()) << c.dump();
    EXPECT_EQ(c["leftovers"].get<std::size_t>(), c["leftover_databases"].size());
    EXPECT_FALSE(c["faulted_run_timed_out"].get<bool>()) << c.dump();
    int caseLost = 0, caseTwice = 0;
    for (const auto& [entry, times] : c["keep_delivered"].items()) {
      caseLost += times == 0 ? 1 : 0;
      caseTwice += times > 1 ? 1 : 0;
    }
    EXPECT_EQ(c["keep_lost"], caseLost);
    EXPECT_EQ(c["keep_twice"], caseTwice);
    ExpectReportFieldsAgree(c, json::array({"complete"}));
    EXPECT_TRUE(Contains(outcomes, c["report_outcome"])) << "a whole report: " << c.dump();
    faultedOutcomes.insert(c["report_outcome"].get<std::string>());
    if (c["differences_after_fault"] == 0) {
      EXPECT_FALSE(c["report_lie"].get<bool>()) << c.dump();
    }
    reportsBad += c["report_ok"].get<bool>() ? 0 : 1;
    reportLies += c["report_lie"].get<bool>() ? 1 : 0;
    converged += c["converged"].get<bool>() ? 1 : 0;
    leftoverCases += c["leftovers"].get<int>() > 0 ? 1 : 0;
    lost += caseLost;
    twice += caseTwice;
  }
  for (const auto& [key, calls] : expectedCalls) {
    EXPECT_EQ(seenCalls[key], calls) << key;
  }
  EXPECT_EQ(seenOps, calledOps) << "every operation the runs call is failed at least once";

  const json& totals = report["totals"];
  EXPECT_EQ(totals["cases"], cases.size());
  EXPECT_EQ(totals["converged"], converged);
  EXPECT_NEAR(totals["converged_percent"].get<double>(), 100.0 * converged / cases.size(), 1e-9);
  EXPECT_EQ(totals["leftover_cases"], leftoverCases);
  EXPECT_EQ(totals["keep_lost"], lost);
  EXPECT_EQ(totals["keep_twice"], twice);
  EXPECT_EQ(totals["faults_not_fired"], 0);
  EXPECT_EQ(totals["reports_bad"], reportsBad);
  EXPECT_EQ(totals["report_lies"], reportLies);
  EXPECT_TRUE(totals["controls_clean"].get<bool>());
  // A failed mount ends the run as failed: not every faulted run completes.
  EXPECT_TRUE(faultedOutcomes.count("failed")) << run.out.substr(0, 2000);

  // One failure never costs data: every case converges after one clean
  // sync, with every keep entry delivered exactly once; and no report hides
  // what the failure left undone.
  EXPECT_EQ(run.exitCode, 0);
  for (const json& c : cases) {
    EXPECT_TRUE(c["clean"].get<bool>())
        << c["scenario"] << " " << c["op"] << " call " << c["nth"] << " error " << c["error"]
        << ": " << c["differences"].dump() << " keep lost " << c["keep_lost"] << " twice "
        << c["keep_twice"];
    EXPECT_TRUE(c["report_ok"].get<bool>())
        << c["scenario"] << " " << c["op"] << " call " << c["nth"] << " error " << c["error"]
        << ": " << c["report_findings"].dump();
  }
}

TEST(SweepTest, TableShowsOneRowPerCaseAndTheTotals) {
  const RunResult run = Sweep({"--scenario", "first", "--ops", "CeWriteRecordProps", "--uses",
                               "first,last,first", "--errors", "87"});
  ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.err;
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < run.out.size();) {
    std::size_t end = run.out.find('\n', pos);
    lines.push_back(run.out.substr(pos, end - pos));
    pos = end + 1;
  }
  auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("scenario  ", 0) == 0 && l.find("converged") != std::string::npos;
  });
  ASSERT_NE(header, lines.end()) << run.out;
  EXPECT_NE(header->find("keep lost"), std::string::npos);
  EXPECT_NE(header->find("keep twice"), std::string::npos);
  EXPECT_NE(header->find("reports"), std::string::npos);
  // The control, then the first and the last write (the repeated use once).
  ASSERT_GE(lines.end() - header, 4) << run.out;
  EXPECT_EQ(header[1].rfind("first", 0), 0u);
  EXPECT_NE(header[1].find("(none)"), std::string::npos);
  // The faulted (here: fault-free) run's outcome, then the clean run's.
  EXPECT_NE(header[1].find("  complete/complete"), std::string::npos) << header[1];
  EXPECT_NE(header[2].find("CeWriteRecordProps  first "), std::string::npos) << header[2];
  EXPECT_NE(header[3].find("CeWriteRecordProps  last "), std::string::npos) << header[3];
  EXPECT_EQ(header[4], "");
  EXPECT_NE(run.out.find("\ncases: 2  converged: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  bad reports: 0  report lies: 0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("controls (no fault): converged"), std::string::npos) << run.out;
}

TEST(SweepTest, EveryUseFailsEachCallOfTheOperationOnce) {
  const RunResult run = Sweep({"--scenario", "resync", "--ops", "CeDeleteRecord", "--uses",
                               "every,last", "--errors", "87", "--json"});
  const json report = Report(run);
  ASSERT_TRUE(report.contains("cases")) << run.err;
  const uint32_t count = report["scenarios"][0]["op_counts"]["CeDeleteRecord"];
  ASSERT_GT(count, 1u);
  ASSERT_EQ(report["cases"].size(), count);
  for (uint32_t i = 0; i < count; ++i) {
    const json& c = report["cases"][i];
    EXPECT_EQ(c["nth"], i + 1);
    EXPECT_EQ(c["use"], i + 1 == count ? "every/last" : "every");
    EXPECT_TRUE(c["fired"].get<bool>());
  }
}

TEST(SweepTest, BadArgumentsEndWithStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--errors", "x"},
                                                                {"--uses", "sometimes"},
                                                                {"--ops", "CeFormatDisk"},
                                                                {"--scenario", "third"},
                                                                {"--kill", "2", "--errors", "5"},
                                                                {"--seed", "3"},
                                                                {"--kill", "0"},
                                                                {"--unknown"}}) {
    RunResult run = Sweep(args);
    EXPECT_EQ(run.exitCode, 2) << args[0] << ": " << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST(SweepTest, AKillAtAnyMomentLeavesAnIntactImageThatTheNextSyncRepairs) {
  // 20 seeded moments of a 500-item first sync.
  const RunResult run = Sweep({"--kill", "20", "--seed", "7", "--items", "500", "--json"});
  const json report = Report(run);
  ASSERT_TRUE(report.contains("points")) << run.err;
  EXPECT_EQ(report["mode"], "kill");
  EXPECT_EQ(report["items"], 500);
  EXPECT_EQ(report["reference_outcomes"], json::array({"complete"}));
  const double window = report["reference_run_ms"].get<double>();
  ASSERT_EQ(report["points"].size(), 20u);
  std::map<std::string, int> afterKill;
  for (const json& p : report["points"]) {
    // The report file is the previous run's or the killed run's own, whole:
    // never torn, never gone; a run that ended first wrote its own.
    const std::string left = p["report_after_kill"];
    ++afterKill[left];
    EXPECT_TRUE(left == "previous" || left == "new") << p.dump();
    if (!p["killed"].get<bool>()) {
      EXPECT_EQ(left, "new") << p.dump();
    }
    EXPECT_EQ(p["report_outcome"] != "", left == "new") << p.dump();
    ExpectReportFieldsAgree(p, report["reference_outcomes"]);
    EXPECT_TRUE(p["report_ok"].get<bool>()) << p["report_findings"].dump();
    EXPECT_EQ(p["image_integrity"], "ok") << p.dump();
    EXPECT_EQ(p["store_integrity"], "ok") << p.dump();
    EXPECT_TRUE(p["dump_ok"].get<bool>()) << p.dump();
    EXPECT_GE(p["delay_ms"].get<double>(), 0.0);
    EXPECT_LE(p["delay_ms"].get<double>(), window + 1);
    EXPECT_TRUE(p["converged"].get<bool>()) << p["differences"].dump();
    EXPECT_EQ(p["keep_lost"], 0) << p.dump();
    EXPECT_EQ(p["keep_twice_outside_window"], 0) << p.dump();
  }
  EXPECT_EQ(report["totals"]["points"], 20);
  EXPECT_EQ(report["totals"]["intact"], 20);
  EXPECT_EQ(report["totals"]["converged"], 20);
  const json& reports = report["totals"]["reports_after_kill"];
  EXPECT_EQ(reports["previous"], afterKill["previous"]);
  EXPECT_EQ(reports["new"], afterKill["new"]);
  EXPECT_EQ(reports["none"], 0);
  EXPECT_EQ(reports["broken"], 0);
  EXPECT_EQ(report["totals"]["reports_bad"], 0);
  EXPECT_EQ(report["totals"]["report_lies"], 0);
  EXPECT_EQ(run.exitCode, 0) << run.out;
}

// hhsync behind a script that changes what it leaves in its report.
std::string Wrapper(const test::TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.File(name);
  test::WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(SweepTest, AReportClaimingCompleteAfterAFailedRunIsALieAndATornOneIsFound) {
  test::TempDir dir;
  // Every report made to say complete: the run whose mount failed did
  // nothing, so its claim is a lie; the fault-free runs' claims are true.
  const std::string claim = Wrapper(
      dir, "claim.sh",
      std::string(HHSYNC_BIN) +
          " \"$@\"\nrc=$?\nsed -i -e 's/^  \"outcome\": \".*\",$/  \"outcome\": \"complete\",/'"
          " -e 's/^  \"reason\": \".*\",$/  \"reason\": null,/' \"$HHSYNC_REPORT\"\nexit $rc\n");
  const RunResult lie = SweepWith(claim, {"--scenario", "first", "--ops", "CeMountDBVol", "--uses",
                                          "first", "--errors", "87", "--json"});
  const json lies = Report(lie);
  ASSERT_EQ(lies["cases"].size(), 1u) << lie.err;
  const json& c = lies["cases"][0];
  EXPECT_TRUE(c["converged"].get<bool>()) << c.dump();
  EXPECT_EQ(c["report_outcome"], "complete");
  EXPECT_GT(c["differences_after_fault"].get<int>(), 0);
  EXPECT_TRUE(c["report_lie"].get<bool>()) << c.dump();
  EXPECT_FALSE(c["report_ok"].get<bool>());
  EXPECT_TRUE(lies["scenarios"][0]["control"]["report_ok"].get<bool>());
  EXPECT_EQ(lies["totals"]["report_lies"], 1);
  EXPECT_EQ(lies["totals"]["reports_bad"], 1);
  EXPECT_EQ(lie.exitCode, 1);

  // A report file cut short before hhsync starts: a run killed before it
  // writes its own leaves it torn, which the kill test must find.
  const std::string torn =
      Wrapper(dir, "torn.sh",
              "printf '{\"program\": \"hhsync\", \"outc' > \"$HHSYNC_REPORT\"\n"
              "exec " +
                  std::string(HHSYNC_BIN) + " \"$@\"\n");
  const RunResult kill = SweepWith(torn, {"--kill", "2", "--seed", "3", "--items", "20", "--json"});
  const json kills = Report(kill);
  ASSERT_EQ(kills["points"].size(), 2u) << kill.err;
  int broken = 0;
  for (const json& p : kills["points"]) {
    if (!p["killed"].get<bool>()) continue;
    ++broken;
    EXPECT_EQ(p["report_after_kill"], "broken") << p.dump();
    EXPECT_FALSE(p["report_ok"].get<bool>());
    EXPECT_FALSE(p["ok"].get<bool>());
  }
  EXPECT_EQ(kills["totals"]["reports_after_kill"]["broken"], broken);
  EXPECT_GT(broken, 0) << "the kills fall within the run";
  EXPECT_EQ(kill.exitCode, 1);
}

}  // namespace
}  // namespace hhsync
