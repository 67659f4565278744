// What `hhctl sweep` concludes from a case's runs, as pure functions: the
// at-least-once window of keep entries, the claims a report may make, the
// report file a kill leaves, and the totals over cases and kill points.

#include "sweep_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/run_report.h"
#include "formats/report_json.h"

namespace hhctl {
namespace {

// A program's report with this outcome and, when given, the keep list's facts.
std::string Report(hhsync::RunOutcome outcome, std::optional<hhsync::KeepFacts> keep = {}) {
  hhsync::RunReport report;
  report.mode = "sync";
  report.outcome = outcome;
  report.keep = keep;
  return hhsync::ReportJson(report);
}

TEST(SweepVerdictTest, KeepEntriesTwiceCountApartOnlyWhenPostedAndLeftOnTheHandheld) {
  // The faulted run posted 1 and 2; the handheld still holds 2 and 3.
  const KeepTally posted = TallyKeep("p=x&count=2&keep=1|a||||2|b||||\n", {"1|a|||", "2|b|||"});
  EXPECT_EQ(PostedAndLeft({"2|b|||", "3|c|||"}, posted), std::set<std::string>{"2|b|||"});

  Verdict v;
  KeepTally after;
  after.delivered = {{"1|a|||", 2}, {"2|b|||", 2}, {"3|c|||", 0}};
  JudgeKeep(after, {"2|b|||"}, &v);
  EXPECT_EQ(v.twiceInWindow, 1);
  EXPECT_EQ(v.twiceOutside, 1);
  EXPECT_EQ(v.keep.lost(), 1);
}

TEST(SweepVerdictTest, ACompleteClaimMustMatchTheStateLeftButForAKeepListItSaysWasLeft) {
  const std::vector<Difference> keepLeft = {{"handheld db news.vol/keep", "2 extra"}};
  const std::vector<Difference> content = {{"handheld db news.vol/c_news", "1 missing"}};
  const ReportRead complete = ReadReport(Report(hhsync::RunOutcome::kComplete));
  ASSERT_TRUE(complete.whole) << complete.problem;
  EXPECT_EQ(CompleteClaimFinding("faulted run's", complete, {}), "");
  EXPECT_NE(CompleteClaimFinding("faulted run's", complete, content), "");
  EXPECT_NE(CompleteClaimFinding("faulted run's", complete, keepLeft).find("keep section"),
            std::string::npos);
  hhsync::KeepFacts refused;
  refused.entriesRead = 2;
  const ReportRead said = ReadReport(Report(hhsync::RunOutcome::kComplete, refused));
  EXPECT_EQ(CompleteClaimFinding("faulted run's", said, keepLeft), "");
  const ReportRead partial = ReadReport(Report(hhsync::RunOutcome::kPartial));
  EXPECT_EQ(CompleteClaimFinding("faulted run's", partial, content), "") << "no claim made";

  EXPECT_EQ(CleanReportFinding(complete, {"complete"}), "");
  EXPECT_EQ(CleanReportFinding(partial, {"complete", "not-due"}),
            "clean run's report says partial, not complete/not-due");
  EXPECT_EQ(CleanReportFinding(ReadReport(std::nullopt), {"complete"}),
            "clean run's report: missing");
}

TEST(SweepVerdictTest, AKilledRunLeavesThePreviousReportOrAWholeOneOfItsOwn) {
  const std::string previous = Report(hhsync::RunOutcome::kComplete);
  const std::string own = Report(hhsync::RunOutcome::kPartial);
  auto left = [](std::optional<std::string> before, std::optional<std::string> after, bool killed) {
    KillPoint p;
    p.killed.killed = killed;
    p.killed.reportBefore = before;
    p.killed.report = after;
    CheckKilledReport(nullptr, &p);
    return p.reportAfterKill + (p.reportFindings.empty() ? "" : " !");
  };
  EXPECT_EQ(left(previous, previous, true), "previous");
  EXPECT_EQ(left(previous, previous, false), "previous !") << "ended without its own";
  EXPECT_EQ(left(previous, own, true), "new");
  EXPECT_EQ(left(previous, own.substr(0, own.size() / 2), true), "broken !");
  EXPECT_EQ(left(previous, std::nullopt, true), "none !");
  EXPECT_EQ(left(std::nullopt, std::nullopt, true), "none");
}

TEST(SweepVerdictTest, TotalsCountEachCaseAndPointOnce) {
  CaseResult control;
  control.converged = true;
  CaseResult clean = control;
  clean.fault.kind = "handheld";
  clean.fired = true;
  CaseResult lost = clean;
  lost.fault.kind = "server";
  lost.keep.delivered = {{"1|a|||", 0}};
  lost.reportFindings = {"faulted run's report: missing"};
  CaseResult skipped;
  skipped.skipped = "no mounts";
  const SweepTotals t = TallyCases({control}, {clean, lost, skipped});
  EXPECT_EQ(t.ran, 2);
  EXPECT_EQ(t.skipped, 1);
  EXPECT_EQ(t.clean, 1);
  EXPECT_EQ(t.lost, 1);
  EXPECT_EQ(t.reportsBad, 1);
  EXPECT_EQ(t.percent, 100.0);
  EXPECT_EQ(t.byKind, (std::map<std::string, int>{{"handheld", 1}, {"server", 1}}));
  EXPECT_TRUE(t.controlsClean);
  EXPECT_FALSE(t.ok());
  EXPECT_TRUE(TallyCases({control}, {clean}).ok());

  KillPoint intact;
  intact.imageIntegrity = intact.storeIntegrity = "ok";
  intact.dumpOk = intact.converged = intact.killed.killed = true;
  intact.reportAfterKill = "previous";
  KillPoint torn = intact;
  torn.reportAfterKill = "broken";
  torn.reportFindings = {"report after the kill: not JSON"};
  const KillTotals k = TallyPoints({intact, torn});
  EXPECT_EQ(k.ok, 1);
  EXPECT_EQ(k.intact, 2);
  EXPECT_EQ(k.killedBeforeEnd, 2);
  EXPECT_EQ(k.afterKill.at("previous"), 1);
  EXPECT_EQ(k.afterKill.at("broken"), 1);
  EXPECT_FALSE(k.allOk());
}

}  // namespace
}  // namespace hhctl
