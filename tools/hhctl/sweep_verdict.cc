#include "sweep_verdict.h"

#include <algorithm>

#include "base/text.h"
#include "command.h"
#include "extras/keep_list.h"

namespace hhctl {
namespace {

// Whether a difference is the handheld's "keep" database.
bool IsKeepDatabase(const Difference& d) {
  const std::string where = hhsync::AsciiLower(d.where);
  const std::string keep = std::string("/") + hhsync::kKeepDatabase;
  return where.rfind("handheld db ", 0) == 0 && where.size() > keep.size() &&
         where.compare(where.size() - keep.size(), keep.size(), keep) == 0;
}

}  // namespace

bool CaseResult::Clean() const {
  return converged && keep.lost() == 0 && twiceOutside == 0 && keep.unexpected.empty() &&
         keep.malformed == 0 && !faulted.timedOut && !clean.timedOut;
}

bool KillPoint::Ok() const {
  return Intact() && converged && keep.lost() == 0 && keep.unexpected.empty() &&
         keep.malformed == 0 && reportFindings.empty();
}

std::set<std::string> PostedAndLeft(const std::set<std::string>& onHandheld,
                                    const KeepTally& posted) {
  std::set<std::string> out;
  for (const std::string& text : onHandheld) {
    auto it = posted.delivered.find(text);
    if (it != posted.delivered.end() && it->second > 0) out.insert(text);
  }
  return out;
}

void JudgeState(const SyncState& reference, const SyncState& state, Verdict* v) {
  v->differences = Compare(reference, state);
  v->converged = v->differences.empty();
  for (const auto& [key, db] : state.leftovers) v->leftovers.push_back(db.volume + "/" + db.name);
}

void JudgeKeep(KeepTally keep, const std::set<std::string>& window, Verdict* v) {
  v->keep = std::move(keep);
  for (const auto& [entry, times] : v->keep.delivered) {
    if (times >= 2) ++(window.count(entry) != 0 ? v->twiceInWindow : v->twiceOutside);
  }
}

std::vector<std::string> ReferenceOutcomes(const HhsyncRun& run, const HhsyncRun& again) {
  std::vector<std::string> outcomes;
  for (const HhsyncRun* r : {&run, &again}) {
    const ReportRead read = ReadReport(r->report);
    if (!read.whole) throw Failure("the report of a fault-free run: " + read.problem);
    if (std::find(outcomes.begin(), outcomes.end(), read.outcome) == outcomes.end()) {
      outcomes.push_back(read.outcome);
    }
  }
  return outcomes;
}

std::string JoinOutcomes(const std::vector<std::string>& outcomes) {
  std::string out;
  for (const std::string& o : outcomes) out += (out.empty() ? "" : "/") + o;
  return out;
}

std::string CompleteClaimFinding(const std::string& which, const ReportRead& read,
                                 const std::vector<Difference>& differences) {
  if (!read.whole || read.outcome != "complete") return "";
  std::vector<Difference> unexplained;
  for (const Difference& d : differences) {
    if (!(read.keepLeft && IsKeepDatabase(d))) unexplained.push_back(d);
  }
  if (unexplained.empty()) return "";
  const bool keep = std::any_of(unexplained.begin(), unexplained.end(), IsKeepDatabase);
  return which + " report says complete, but the run left " + std::to_string(unexplained.size()) +
         " differences from the reference" +
         (keep ? " (its keep section does not say the keep list was left)" : "") + ": " +
         Summarize(unexplained, 200);
}

std::string CleanReportFinding(const ReportRead& read, const std::vector<std::string>& expected) {
  if (!read.whole) return "clean run's report: " + read.problem;
  if (std::find(expected.begin(), expected.end(), read.outcome) == expected.end()) {
    return "clean run's report says " + read.outcome + ", not " + JoinOutcomes(expected);
  }
  return "";
}

void CheckFaultedReport(const std::vector<std::string>& causeWords, CaseResult* r) {
  const ReportRead& read = r->faultedReport;
  if (!read.whole && !r->faulted.timedOut) {
    r->reportFindings.push_back("faulted run's report: " + read.problem);
  }
  const std::string lie = CompleteClaimFinding("faulted run's", read, r->differencesAfterFault);
  r->reportLie = !lie.empty();
  if (r->reportLie) r->reportFindings.push_back(lie);
  if (!causeWords.empty() && read.whole &&
      std::none_of(causeWords.begin(), causeWords.end(), [&](const std::string& word) {
        return read.reason.find(word) != std::string::npos;
      })) {
    r->reportFindings.push_back("faulted run's report does not name the cause (\"" +
                                causeWords.front() + "\"): " + read.outcome + ": " + read.reason);
  }
}

void CheckKilledReport(const std::vector<Difference>* differencesAfterKill, KillPoint* p) {
  const HhsyncRun& run = p->killed;
  const bool ended = !run.killed && !run.timedOut;
  p->killedReport = ReadReport(run.report);
  if (!run.report) {
    p->reportAfterKill = "none";
    if (run.reportBefore) {
      p->reportFindings.push_back("the killed run removed the previous report");
    } else if (ended) {
      p->reportFindings.push_back("the run ended without a report");
    }
  } else if (run.report == run.reportBefore) {
    p->reportAfterKill = "previous";
    if (ended) p->reportFindings.push_back("the run ended without a report of its own");
  } else if (p->killedReport.whole) {
    p->reportAfterKill = "new";
    if (differencesAfterKill) {
      const std::string lie =
          CompleteClaimFinding("killed run's", p->killedReport, *differencesAfterKill);
      p->reportLie = !lie.empty();
      if (p->reportLie) p->reportFindings.push_back(lie);
    }
  } else {
    p->reportAfterKill = "broken";
    p->reportFindings.push_back("report after the kill: " + p->killedReport.problem);
  }
}

void VerdictCounts::Add(const Verdict& v) {
  converged += v.converged ? 1 : 0;
  leftovers += v.leftovers.empty() ? 0 : 1;
  lost += v.keep.lost();
  twiceIn += v.twiceInWindow;
  twiceOut += v.twiceOutside;
  unexpected += static_cast<int>(v.keep.unexpected.size()) + v.keep.malformed;
  reportsBad += v.ReportOk() ? 0 : 1;
  reportLies += v.reportLie ? 1 : 0;
}

SweepTotals TallyCases(const std::vector<CaseResult>& controls,
                       const std::vector<CaseResult>& results) {
  SweepTotals t;
  for (const CaseResult& r : results) {
    if (!r.skipped.empty()) {
      ++t.skipped;
      continue;
    }
    t.Add(r);
    ++t.byKind[r.fault.kind];
    t.notFired += r.fired ? 0 : 1;
    t.timeouts += (r.faulted.timedOut || r.clean.timedOut) ? 1 : 0;
    t.clean += r.Clean() ? 1 : 0;
  }
  t.ran = static_cast<int>(results.size()) - t.skipped;
  t.controlsConverged =
      std::all_of(controls.begin(), controls.end(), [](const CaseResult& r) { return r.Clean(); });
  t.controlsClean = std::all_of(controls.begin(), controls.end(),
                                [](const CaseResult& r) { return r.Clean() && r.ReportOk(); });
  t.percent = t.ran == 0 ? 100.0 : 100.0 * t.converged / t.ran;
  return t;
}

KillTotals TallyPoints(const std::vector<KillPoint>& points) {
  KillTotals t;
  t.points = static_cast<int>(points.size());
  for (const KillPoint& p : points) {
    t.Add(p);
    ++t.afterKill[p.reportAfterKill];
    t.ok += p.Ok() ? 1 : 0;
    t.intact += p.Intact() ? 1 : 0;
    t.killedBeforeEnd += p.killed.killed ? 1 : 0;
  }
  return t;
}

}  // namespace hhctl
