// `hhctl sweep`, run as the real binary against the real hhsync: the reduced
// fault sweep (handheld, server and desktop faults) and a short kill test
// must complete with a well-formed report whose numbers agree with each
// other, every case must converge, and every run's own report must be whole
// and true to the state the run left. Which cases a sweep makes is
// sweep_cases_test.cc's business.

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

// The report of a run that completed: exit 0 or 1 agreeing with "ok".
json Report(const RunResult& run) {
  EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << ": " << run.err;
  json report = json::parse(run.out, nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << run.out.substr(0, 2000) << run.err;
  if (report.is_discarded()) return json::object();
  EXPECT_EQ(report.value("ok", false), run.exitCode == 0);
  return report;
}

void ExpectCleanControl(const json& control, const json& referenceOutcomes) {
  EXPECT_EQ(control["kind"], "");
  // Without a fault both runs end as the reference's did, with its state.
  EXPECT_TRUE(control["report_ok"].get<bool>()) << control["report_findings"].dump();
  EXPECT_TRUE(Contains(referenceOutcomes, control["report_outcome"])) << control.dump();
  EXPECT_EQ(control["differences_after_fault"], 0) << control.dump();
  EXPECT_TRUE(control["clean"].get<bool>()) << control.dump();
  EXPECT_EQ(control["keep_twice"], 0);
  EXPECT_GE(control["keep_bodies"].get<int>(), 1) << "the scenario posts keep entries";
}

// The set CI runs (a sanitizer build may cut it down with HHSYNC_SWEEP_LIMIT,
// which still covers every fault once): handheld, server and desktop faults.
TEST(SweepTest, ReducedSweepConvergesEverywhereAndNoReportClaimsMoreThanHappened) {
  std::vector<std::string> args = {"--reduced", "--json"};
  if (const char* limit = std::getenv("HHSYNC_SWEEP_LIMIT"))
    args.insert(args.end(), {"--limit", limit});
  const RunResult run = Sweep(args);
  const json report = Report(run);
  ASSERT_TRUE(report.contains("cases")) << run.err;
  ASSERT_EQ(report["scenarios"].size(), 2u);
  for (const json& scenario : report["scenarios"]) {
    // One connection per run: the counting itself is sound.
    for (const std::string& op : kConnectionOps) EXPECT_EQ(scenario["op_counts"][op], 1) << op;
    EXPECT_GT(scenario["requests"].size(), 2u);
    // A sync of this scenario is due every time, so the fault-free runs
    // complete, and so must every clean sync after a fault.
    EXPECT_EQ(scenario["reference_outcomes"], json::array({"complete"}));
    ExpectCleanControl(scenario["control"], scenario["reference_outcomes"]);
  }

  std::map<std::string, int> kinds;
  std::set<std::string> outcomes;
  int atLeastOnce = 0;
  for (const json& c : report["cases"]) {
    const std::string name = c["scenario"].get<std::string>() + " " + c["kind"].get<std::string>() +
                             " " + c["op"].get<std::string>() + " " + c["use"].get<std::string>() +
                             " " + std::to_string(c["nth"].get<int>());
    if (!c["skipped"].get<std::string>().empty()) {
      // Only the faults that need mounts may be missing, and say why.
      EXPECT_TRUE(c["op"] == "dir-readonly" || c["op"] == "disk-full") << name;
      continue;
    }
    ++kinds[c["kind"]];
    EXPECT_TRUE(c["fired"].get<bool>()) << "the fault must have hit the run: " << name;
    EXPECT_FALSE(c["faulted_run_timed_out"].get<bool>()) << name;
    // One fault never costs data, leaves nothing behind, or posts a keep
    // entry twice but where the post was accepted and its entry left on the
    // handheld; and no report hides what the fault left undone.
    EXPECT_TRUE(c["clean"].get<bool>()) << name << ": " << c["differences"].dump();
    EXPECT_TRUE(c["report_ok"].get<bool>()) << name << ": " << c["report_findings"].dump();
    outcomes.insert(c["report_outcome"].get<std::string>());
    atLeastOnce += c["keep_twice_at_least_once"].get<int>();
  }
  EXPECT_GT(kinds["handheld"], 0);
  EXPECT_GT(kinds["server"], 0);
  EXPECT_GT(kinds["desktop"], 0);
  EXPECT_TRUE(outcomes.count("failed") && outcomes.count("partial")) << run.out.substr(0, 2000);
  // A reply lost after the server took the list is counted, not hidden.
  EXPECT_GT(atLeastOnce, 0);

  // The totals are counted as TallyCases says (sweep_verdict_test.cc).
  const json& totals = report["totals"];
  EXPECT_EQ(totals["keep_twice_outside_window"], 0);
  EXPECT_EQ(totals["faults_not_fired"], 0);
  EXPECT_EQ(totals["report_lies"], 0);
  EXPECT_TRUE(totals["controls_clean"].get<bool>());
  EXPECT_EQ(run.exitCode, 0);
}

TEST(SweepTest, BadArgumentsEndWithStatusTwo) {
  // One case of each of the sweep's own checks; the parser's are hhctl_test.cc's.
  for (const auto& args : std::vector<std::vector<std::string>>{{"--errors", "x"},
                                                                {"--uses", "sometimes"},
                                                                {"--ops", "CeFormatDisk"},
                                                                {"--scenario", "third"},
                                                                {"--kill", "2", "--errors", "5"},
                                                                {"--seed", "3"},
                                                                {"--kill", "0"}}) {
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
  for (const json& p : report["points"]) {
    // The report file is the previous run's or the killed run's own, whole:
    // never torn, never gone.
    const std::string left = p["report_after_kill"];
    EXPECT_TRUE(left == "previous" || left == "new") << p.dump();
    EXPECT_EQ(p["report_outcome"] != "", left == "new") << p.dump();
    EXPECT_TRUE(p["report_ok"].get<bool>()) << p["report_findings"].dump();
    EXPECT_EQ(p["image_integrity"], "ok") << p.dump();
    EXPECT_EQ(p["store_integrity"], "ok") << p.dump();
    EXPECT_TRUE(p["dump_ok"].get<bool>()) << p.dump();
    EXPECT_GE(p["delay_ms"].get<double>(), 0.0);
    EXPECT_LE(p["delay_ms"].get<double>(), window + 1);
    // Held at the next request, the run was still working when it was
    // killed; after the last one it may have ended first.
    if (p["at_request"] < report["requests"]) {
      EXPECT_TRUE(p["killed"].get<bool>()) << p.dump();
    }
    EXPECT_TRUE(p["converged"].get<bool>()) << p["differences"].dump();
    EXPECT_EQ(p["keep_lost"], 0) << p.dump();
    EXPECT_EQ(p["keep_twice_outside_window"], 0) << p.dump();
  }
  EXPECT_EQ(run.exitCode, 0) << run.out;
}

// hhsync behind a script that changes what it leaves in its report.
std::string Wrapper(const test::TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.File(name);
  test::WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

// What a kill leaves in the report file is judged by CheckKilledReport
// (sweep_verdict_test.cc); the kill test above shows the sweep reads it.
TEST(SweepTest, AReportClaimingCompleteAfterAFailedRunIsALie) {
  test::TempDir dir;
  // Every report made to say complete: the run whose mount failed did
  // nothing, so its claim is a lie; the fault-free runs' claims are true.
  const std::string claim = Wrapper(
      dir, "claim.sh",
      std::string(HHSYNC_BIN) +
          " \"$@\"\nrc=$?\nsed -i -e 's/^  \"outcome\": \".*\",$/  \"outcome\": \"complete\",/'"
          " -e 's/^  \"reason\": \".*\",$/  \"reason\": null,/' \"$HHSYNC_REPORT\"\nexit $rc\n");
  const RunResult lie =
      SweepWith(claim, {"--scenario", "first", "--faults", "handheld", "--ops", "CeMountDBVol",
                        "--uses", "first", "--errors", "87", "--json"});
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
}

}  // namespace
}  // namespace hhsync
