#include "sweep_render.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace hhctl {
namespace {

using Json = nlohmann::ordered_json;

void Dump(const Json& j, std::ostream& out) {
  out << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

Json DifferencesJson(const std::vector<Difference>& differences) {
  Json out = Json::array();
  for (const Difference& d : differences) out.push_back({{"where", d.where}, {"what", d.what}});
  return out;
}

// notes, then "; " and more when there is more.
void Note(std::string* notes, const std::string& more) {
  *notes += (notes->empty() ? "" : "; ") + more;
}

// What went wrong in the clean sync after a fault or a kill; empty when
// nothing did.
std::string Problems(const Verdict& v) {
  std::string notes = v.converged ? "" : Summarize(v.differences, 400);
  if (v.keep.lost() != 0) Note(&notes, std::to_string(v.keep.lost()) + " keep entries lost");
  if (v.twiceOutside != 0) {
    Note(&notes, std::to_string(v.twiceOutside) + " keep entries twice outside the window");
  }
  if (!v.keep.unexpected.empty() || v.keep.malformed != 0) {
    Note(&notes, std::to_string(v.keep.unexpected.size()) + " unexpected keep entries, " +
                     std::to_string(v.keep.malformed) + " malformed bodies");
  }
  for (const std::string& finding : v.reportFindings) Note(&notes, finding);
  return notes;
}

Json CaseJson(const CaseResult& r) {
  Json delivered = Json::object();
  for (const auto& [entry, times] : r.keep.delivered) delivered[entry] = times;
  return {{"scenario", r.fault.scenario},
          {"kind", r.fault.kind},
          {"op", r.fault.what},
          {"use", r.fault.use},
          {"nth", r.fault.nth},
          {"calls", r.fault.calls},
          {"lasting", r.fault.lasting},
          {"error", r.fault.error},
          {"skipped", r.skipped},
          {"fired", r.fired},
          {"converged", r.converged},
          {"leftovers", r.leftovers.size()},
          {"leftover_databases", r.leftovers},
          {"keep_lost", r.keep.lost()},
          {"keep_twice", r.keep.twice()},
          {"keep_twice_at_least_once", r.twiceInWindow},
          {"keep_twice_outside_window", r.twiceOutside},
          {"keep_unexpected", r.keep.unexpected},
          {"keep_bodies", r.keep.bodies},
          {"keep_malformed", r.keep.malformed},
          {"keep_delivered", delivered},
          {"clean", r.Clean()},
          {"differences", DifferencesJson(r.differences)},
          {"messages", r.messages},
          {"faulted_run_ms", static_cast<int64_t>(r.faulted.ms)},
          {"faulted_run_timed_out", r.faulted.timedOut},
          {"clean_run_ms", static_cast<int64_t>(r.clean.ms)},
          {"clean_run_timed_out", r.clean.timedOut},
          {"differences_after_fault", r.differencesAfterFault.size()},
          {"report_outcome", r.faultedReport.outcome},
          {"report_reason", r.faultedReport.reason},
          {"clean_report_outcome", r.cleanReport.outcome},
          {"report_lie", r.reportLie},
          {"report_findings", r.reportFindings},
          {"report_ok", r.ReportOk()}};
}

// A line for a case that was not run or did not pass; empty for one that did.
std::string CaseLine(const CaseResult& r) {
  std::string notes;
  if (!r.skipped.empty()) {
    notes = "not run: " + r.skipped;
  } else {
    if (!r.fault.kind.empty() && !r.fired) notes = "fault did not fire";
    if (r.faulted.timedOut || r.clean.timedOut) Note(&notes, "timed out");
    const std::string problems = Problems(r);
    if (!problems.empty()) Note(&notes, problems);
  }
  if (notes.empty()) return "";
  return r.fault.scenario + " " + r.fault.Name() + " " + r.fault.use + " " +
         std::to_string(r.fault.nth) +
         (r.fault.kind == "handheld" ? " error " + std::to_string(r.fault.error) : "") + ": " +
         notes;
}

Json ScenarioJson(const Reference& ref, const CaseResult& control) {
  Json counts = Json::object();
  for (const auto& [op, n] : ref.counts) counts[op] = n;
  Json requests = Json::array();
  for (const ServerRequest& r : ref.requests) requests.push_back(RequestLabel(r.method, r.url));
  return {{"name", ref.scenario},
          {"op_counts", counts},
          {"requests", requests},
          {"reference_run_ms", static_cast<int64_t>(ref.runMs)},
          {"reference_outcomes", ref.outcomes},
          {"control", CaseJson(control)}};
}

Json SweepTotalsJson(const SweepResults& s, const SweepTotals& t) {
  Json byKind = Json::object();
  for (const auto& [kind, n] : t.byKind) byKind[kind] = n;
  return {{"cases", s.results.size()},
          {"cases_without_limit", s.casesWithoutLimit},
          {"cases_by_kind", byKind},
          {"skipped", t.skipped},
          {"converged", t.converged},
          {"converged_percent", t.percent},
          {"leftover_cases", t.leftovers},
          {"keep_lost", t.lost},
          {"keep_twice_at_least_once", t.twiceIn},
          {"keep_twice_outside_window", t.twiceOut},
          {"keep_unexpected", t.unexpected},
          {"faults_not_fired", t.notFired},
          {"timeouts", t.timeouts},
          {"clean", t.clean},
          {"reports_bad", t.reportsBad},
          {"report_lies", t.reportLies},
          {"controls_clean", t.controlsClean},
          {"seconds", s.seconds}};
}

void SweepJson(const SweepOptions& o, const SweepResults& s, const SweepTotals& t,
               std::ostream& out) {
  Json j = {{"mode", "sweep"}, {"hhsync", o.hhsync}};
  if (!s.dir.empty()) j["dir"] = s.dir;
  j.update(Json{{"kinds", o.kinds},
                {"errors", o.errors},
                {"uses", o.uses},
                {"operations", o.operations},
                {"server_faults", o.serverFaults},
                {"desktop_faults", o.desktopFaults},
                {"mounts", s.mounts ? "" : s.noMounts},
                {"limit", o.limit},
                {"scenarios", Json::array()},
                {"cases", Json::array()}});
  for (std::size_t i = 0; i < s.references.size(); ++i) {
    j["scenarios"].push_back(ScenarioJson(s.references[i], s.controls[i]));
  }
  for (const CaseResult& r : s.results) j["cases"].push_back(CaseJson(r));
  j["totals"] = SweepTotalsJson(s, t);
  j["ok"] = t.ok();
  Dump(j, out);
}

void SweepText(const SweepResults& s, const SweepTotals& t, std::ostream& out) {
  for (const Reference& ref : s.references) {
    out << "scenario " << ref.scenario << ": fault-free run " << Fixed(ref.runMs, 0)
        << " ms, reports " << JoinOutcomes(ref.outcomes) << ", " << ref.requests.size()
        << " requests; calls:";
    for (const auto& [op, n] : ref.counts) {
      if (n != 0) out << " " << op << "=" << n;
    }
    out << "\n";
  }
  for (const CaseResult& r : s.controls) {
    if (const std::string line = CaseLine(r); !line.empty()) out << "control " << line << "\n";
  }
  for (const CaseResult& r : s.results) {
    if (const std::string line = CaseLine(r); !line.empty()) out << line << "\n";
  }
  out << "cases: " << t.ran;
  if (s.casesWithoutLimit != s.results.size()) {
    out << " (of " << s.casesWithoutLimit << ", --limit)";
  }
  if (t.skipped != 0) out << " (" << t.skipped << " not run here)";
  out << "  converged: " << t.converged << " (" << Fixed(t.percent, 1) << "%)"
      << "  leftover cases: " << t.leftovers << "  keep lost: " << t.lost
      << "  keep twice: " << t.twiceOut << " (+" << t.twiceIn << " at least once)"
      << "  bad reports: " << t.reportsBad << "  report lies: " << t.reportLies << "\n";
  if (t.unexpected != 0 || t.notFired != 0 || t.timeouts != 0) {
    out << "unexpected keep entries: " << t.unexpected << "  faults not fired: " << t.notFired
        << "  timeouts: " << t.timeouts << "\n";
  }
  out << "controls (no fault): " << (t.controlsConverged ? "converged" : "DID NOT CONVERGE")
      << (t.controlsConverged && !t.controlsClean ? ", BAD REPORT" : "") << "\n";
  out << "time: " << Fixed(s.seconds, 1) << " s\n";
}

Json PointJson(const KillPoint& p) {
  return {{"point", p.index},
          {"at_request", p.atRequest},
          {"delay_ms", p.delayMs},
          {"killed", p.killed.killed},
          {"image_integrity", p.imageIntegrity},
          {"store_integrity", p.storeIntegrity},
          {"dump_ok", p.dumpOk},
          {"dump_error", p.dumpError},
          {"differences_after_kill", p.differencesAfterKill},
          {"converged", p.converged},
          {"leftovers", p.leftovers.size()},
          {"leftover_databases", p.leftovers},
          {"keep_lost", p.keep.lost()},
          {"keep_twice_in_window", p.twiceInWindow},
          {"keep_twice_outside_window", p.twiceOutside},
          {"keep_unexpected", p.keep.unexpected},
          {"ok", p.Ok()},
          {"differences", DifferencesJson(p.differences)},
          {"report_after_kill", p.reportAfterKill},
          {"report_outcome", p.reportAfterKill == "new" ? p.killedReport.outcome : ""},
          {"clean_report_outcome", p.cleanReport.outcome},
          {"report_lie", p.reportLie},
          {"report_findings", p.reportFindings},
          {"report_ok", p.ReportOk()},
          {"killed_run_ms", p.killed.ms},
          {"clean_run_ms", p.clean.ms},
          {"point_ms", p.ms}};
}

Json KillTotalsJson(const KillResults& k, const KillTotals& t) {
  Json afterKill = Json::object();
  for (const char* left : {"none", "previous", "new", "broken"})
    afterKill[left] = t.afterKill.at(left);
  return {{"points", k.points.size()},
          {"killed_before_end", t.killedBeforeEnd},
          {"intact", t.intact},
          {"converged", t.converged},
          {"leftover_points", t.leftovers},
          {"keep_lost", t.lost},
          {"keep_twice_in_window", t.twiceIn},
          {"keep_twice_outside_window", t.twiceOut},
          {"keep_unexpected", t.unexpected},
          {"reports_after_kill", afterKill},
          {"reports_bad", t.reportsBad},
          {"report_lies", t.reportLies},
          {"ok", t.ok},
          {"seconds", k.seconds}};
}

void KillJson(const SweepOptions& o, const KillResults& k, const KillTotals& t, std::ostream& out) {
  Json j = {{"mode", "kill"}, {"hhsync", o.hhsync}};
  if (!k.dir.empty()) j["dir"] = k.dir;
  j.update(Json{{"seed", o.seed},
                {"items", o.items},
                {"reference_run_ms", k.measured.ms},
                {"requests", k.requests},
                {"reference_outcomes", k.outcomes},
                {"points", Json::array()}});
  for (const KillPoint& p : k.points) j["points"].push_back(PointJson(p));
  j["totals"] = KillTotalsJson(k, t);
  j["ok"] = t.allOk();
  Dump(j, out);
}

// A line for a kill point that did not pass; empty for one that did.
std::string PointLine(const KillPoint& p) {
  std::string notes = p.Intact() ? ""
                                 : "image: " + p.imageIntegrity + ", store: " + p.storeIntegrity +
                                       (p.dumpOk ? "" : ", dump: " + p.dumpError);
  const std::string problems = Problems(p);
  if (!problems.empty()) Note(&notes, problems);
  if (notes.empty()) return "";
  return "point " + std::to_string(p.index) + " (request " + std::to_string(p.atRequest) + " + " +
         Fixed(p.delayMs, 2) + " ms, report after the kill: " + p.reportAfterKill + "): " + notes;
}

void KillText(const SweepOptions& o, const KillResults& k, const KillTotals& t, std::ostream& out) {
  out << "kill test: " << o.items << " items, seed " << o.seed << ", fault-free run "
      << Fixed(k.measured.ms, 0) << " ms, reports " << JoinOutcomes(k.outcomes) << "\n";
  for (const KillPoint& p : k.points) {
    if (const std::string line = PointLine(p); !line.empty()) out << line << "\n";
  }
  out << "points: " << k.points.size() << "  killed before the end: " << t.killedBeforeEnd
      << "  intact: " << t.intact << "  converged: " << t.converged
      << "  leftover points: " << t.leftovers << "  keep lost: " << t.lost
      << "  keep twice in window: " << t.twiceIn << "  keep twice outside: " << t.twiceOut << "\n";
  out << "report after the kill: " << t.afterKill.at("none") << " none, "
      << t.afterKill.at("previous") << " previous, " << t.afterKill.at("new") << " new, "
      << t.afterKill.at("broken") << " broken  bad reports: " << t.reportsBad
      << "  report lies: " << t.reportLies << "\n";
  if (t.unexpected != 0) out << "unexpected keep entries: " << t.unexpected << "\n";
  out << "time: " << Fixed(k.seconds, 1) << " s\n";
}

}  // namespace

void PrintSweep(const SweepOptions& options, const SweepResults& results, std::ostream& out) {
  const SweepTotals totals = TallyCases(results.controls, results.results);
  if (options.json) {
    SweepJson(options, results, totals, out);
  } else {
    SweepText(results, totals, out);
  }
}

void PrintKill(const SweepOptions& options, const KillResults& results, std::ostream& out) {
  const KillTotals totals = TallyPoints(results.points);
  if (options.json) {
    KillJson(options, results, totals, out);
  } else {
    KillText(options, results, totals, out);
  }
}

std::string Fixed(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace hhctl
