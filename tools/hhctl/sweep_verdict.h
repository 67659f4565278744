#pragma once
// What `hhctl sweep` concludes from the runs of a fault case or a kill
// point, and the totals over them: the state a clean sync left against the
// reference (convergence.h), how often each keep entry reached the server,
// and what each run's report claims against what the run did. Plain
// values and pure functions: the runs themselves are sweep_bench.h's.
//
// A keep entry the server received twice counts apart, as the documented
// at-least-once delivery, when the faulted (or killed) run posted it and
// left it on the handheld; anywhere else it fails the case. A report that
// says "complete" must come from a run that left the reference state (keep
// entries apart when its keep section says they were left); a clean sync's
// report must end as the fault-free runs' did.
//
// Thread safety: plain values and free functions.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "convergence.h"
#include "sweep_cases.h"

namespace hhctl {

// One run of hhsync.
struct HhsyncRun {
  int exitCode = -1;
  bool killed = false;    // ended by our SIGKILL at the chosen moment
  bool timedOut = false;  // ended by our SIGKILL at the time limit
  double ms = 0;
  double lastRequestMs = 0;  // when the server saw the run's last request
  std::string err;
  // The report file's bytes when the run started and when it had ended;
  // nullopt when there was none.
  std::optional<std::string> reportBefore;
  std::optional<std::string> report;
};

// A scenario's fault-free run and the state one more clean sync left.
struct Reference {
  std::string scenario;
  std::vector<std::string> expectedKeep;
  std::map<std::string, uint32_t> counts;  // calls of every faultable operation
  std::vector<ServerRequest> requests;     // the fault-free run's requests, in order
  double runMs = 0;                        // the fault-free run
  std::vector<std::string> outcomes;       // see ReferenceOutcomes
  SyncState state;
};

// The clean sync after a faulted or killed run, judged.
struct Verdict {
  HhsyncRun clean;
  ReportRead cleanReport;
  bool converged = false;
  std::vector<Difference> differences;
  std::vector<std::string> leftovers;  // "volume/name" of each leftover database
  KeepTally keep;
  // Keep entries received twice: inside the at-least-once window, or not.
  int twiceInWindow = 0;
  int twiceOutside = 0;
  bool reportLie = false;                   // the faulted run claimed complete wrongly
  std::vector<std::string> reportFindings;  // every report check that failed
  bool ReportOk() const { return reportFindings.empty(); }
};

struct CaseResult : Verdict {
  FaultCase fault;
  std::string skipped;  // why the case could not be run here; empty when it ran
  bool fired = false;
  std::vector<std::string> messages;  // the faulted run's message boxes
  HhsyncRun faulted;
  // The faulted run's state against the reference, before the clean sync.
  std::vector<Difference> differencesAfterFault;
  ReportRead faultedReport;

  bool Clean() const;
};

struct KillPoint : Verdict {
  unsigned index = 0;
  uint32_t atRequest = 0;  // the request of the fault-free run the kill follows
  double delayMs = 0;      // after that request came
  HhsyncRun killed;
  std::string imageIntegrity;
  std::string storeIntegrity;
  bool dumpOk = false;
  std::string dumpError;
  // How far from the reference the kill left the handheld: the number of
  // differences before the clean sync (0 when the run was nearly done).
  std::size_t differencesAfterKill = 0;
  // The report file the kill left: "none", "previous" (the report of the
  // run before, untouched), "new" (the run's own, whole: it was written
  // before the kill) or "broken" (anything else: a torn file).
  std::string reportAfterKill;
  ReportRead killedReport;
  double ms = 0;  // the whole point: restore, runs, checks

  bool Intact() const { return imageIntegrity == "ok" && storeIntegrity == "ok" && dumpOk; }
  bool Ok() const;
};

// Keep entries the server has received (posted) that the handheld still
// holds (onHandheld): the window of at-least-once delivery.
std::set<std::string> PostedAndLeft(const std::set<std::string>& onHandheld,
                                    const KeepTally& posted);

// Fills the verdict's state part from the state the clean sync left, and
// its keep part from the keep tally and the window.
void JudgeState(const SyncState& reference, const SyncState& state, Verdict* v);
void JudgeKeep(KeepTally keep, const std::set<std::string>& window, Verdict* v);

// The outcomes a clean sync may report: those of the fault-free run and of
// the clean sync after it. Throws Failure when either left no whole report.
std::vector<std::string> ReferenceOutcomes(const HhsyncRun& run, const HhsyncRun& again);
std::string JoinOutcomes(const std::vector<std::string>& outcomes);

// A report that says "complete" while the run left differences from the
// reference (keep entries apart when its keep section says so): the
// finding, else empty. which: "faulted run's", "killed run's".
std::string CompleteClaimFinding(const std::string& which, const ReportRead& read,
                                 const std::vector<Difference>& differences);
// A clean sync's report not whole or not ending as the reference runs did.
std::string CleanReportFinding(const ReportRead& read, const std::vector<std::string>& expected);

// The faulted run's report checks: whole (unless timed out), no false
// claim of completion, and the cause named when causeWords are given.
void CheckFaultedReport(const std::vector<std::string>& causeWords, CaseResult* r);
// Sorts out the report file a killed run left (KillPoint::reportAfterKill)
// and records what is wrong with it. differencesAfterKill: nullptr when the
// handheld could not be read.
void CheckKilledReport(const std::vector<Difference>* differencesAfterKill, KillPoint* p);

// Counts over verdicts, shared by the sweep's and the kill test's totals.
struct VerdictCounts {
  int converged = 0, leftovers = 0, lost = 0, twiceIn = 0, twiceOut = 0, unexpected = 0,
      reportsBad = 0, reportLies = 0;
  void Add(const Verdict& v);
};

struct SweepTotals : VerdictCounts {
  int ran = 0, skipped = 0, notFired = 0, timeouts = 0, clean = 0;
  std::map<std::string, int> byKind;  // cases run, by kind
  bool controlsConverged = false;
  bool controlsClean = false;  // converged with good reports
  double percent = 100;        // of the cases run, converged
  bool ok() const { return controlsClean && clean == ran && reportsBad == 0; }
};
SweepTotals TallyCases(const std::vector<CaseResult>& controls,
                       const std::vector<CaseResult>& results);

struct KillTotals : VerdictCounts {
  int points = 0, ok = 0, intact = 0, killedBeforeEnd = 0;
  std::map<std::string, int> afterKill = {{"none", 0}, {"previous", 0}, {"new", 0}, {"broken", 0}};
  bool allOk() const { return ok == points; }
};
KillTotals TallyPoints(const std::vector<KillPoint>& points);

}  // namespace hhctl
