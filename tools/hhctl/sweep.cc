#include "sweep.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <sstream>

#include "command.h"
#include "sqlite_files.h"
#include "sweep_bench.h"
#include "sweep_render.h"

namespace hhctl {
namespace {

using SteadyClock = std::chrono::steady_clock;
using hhsync::HandheldDump;

// A fault at this call never fires; its counter counts the operation's calls.
constexpr uint32_t kCountingNth = 0xFFFFFFFFu;

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The message boxes a run showed, in order.
std::vector<std::string> MessageBoxes(const std::string& err) {
  std::vector<std::string> out;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    const std::string prefix = "hhsync: message: ";
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  }
  return out;
}

// The clean sync after a faulted or killed run, judged against the
// reference; window: the keep entries the run posted and left.
void CleanSync(Bench& bench, const Reference& ref, const std::set<std::string>& window,
               Verdict* v) {
  bench.ClearReport();
  v->clean = bench.RunHhsync();
  v->cleanReport = ReadReport(v->clean.report);
  const std::string finding = CleanReportFinding(v->cleanReport, ref.outcomes);
  if (!finding.empty() && !v->clean.timedOut) v->reportFindings.push_back(finding);
  try {
    JudgeState(ref.state, bench.Capture(), v);
  } catch (const Failure& e) {
    v->differences.push_back({"handheld", std::string("cannot be read: ") + e.what()});
  }
  JudgeKeep(TallyKeep(bench.KeepReceived(), ref.expectedKeep), window, v);
}

// Makes the scenario's start state and saves it; the keep entries it holds.
std::vector<std::string> PrepareScenario(Bench& bench, const std::string& name) {
  bench.Serve(CatalogueV1());
  bench.MakeStart(KeepsV1());
  if (name == "first") {
    bench.Snapshot(name);
    return KeepTexts(KeepsV1());
  }
  // A clean first sync of catalogue 1, then catalogue 2 on the server and
  // two new keep entries on the handheld.
  if (bench.RunHhsync().exitCode != 0) {
    throw Failure("the first sync for the resync scenario failed");
  }
  bool haveCats = false;
  for (const auto& v : bench.Dump().volumes) {
    for (const auto& db : v.databases) {
      haveCats |= db.name == "cats" && db.records.size() == CatalogueV1().categories.size();
    }
  }
  if (!haveCats) {
    throw Failure("the first sync for the resync scenario did not write every category");
  }
  bench.Serve(CatalogueV2());
  bench.AddKeeps(KeepsV2());
  bench.Snapshot(name);
  return KeepTexts(KeepsV2());
}

// The fault-free run with every call and request counted, then one more
// clean sync.
Reference MakeReference(Bench& bench, const std::string& scenario) {
  Reference ref;
  ref.scenario = scenario;
  ref.expectedKeep = PrepareScenario(bench, scenario);
  bench.Restore(scenario);
  std::vector<hhsync::InjectedFault> counters;
  for (const std::string& op : hhsync::EmulatedHandheld::FaultableOperations()) {
    counters.push_back({op, kCountingNth, false, 0, 0});
  }
  bench.AddFaults(counters);
  bench.ClearReport();
  bench.SetServerFaults({});
  const HhsyncRun run = bench.RunHhsync();
  const std::string what = "the fault-free run of scenario " + scenario;
  if (run.exitCode != 0) throw Failure(what + " failed: " + run.err);
  ref.runMs = run.ms;
  for (const auto& f : bench.Dump().faults) ref.counts[f.operation] = f.calls;
  for (const ReportRead::Request& r : ReadReport(run.report).requests) {
    ref.requests.push_back({r.method, r.url, r.bytes});
  }
  if (ref.requests.size() != bench.RequestsSeen()) {
    throw Failure(what + " reported " + std::to_string(ref.requests.size()) +
                  " requests; the server saw " + std::to_string(bench.RequestsSeen()));
  }
  bench.ClearFaults();
  bench.ClearReport();
  const HhsyncRun again = bench.RunHhsync();
  ref.state = bench.Capture();
  ref.outcomes = ReferenceOutcomes(run, again);
  return ref;
}

// Sets up a case's handheld faults.
void ArmHandheld(Bench& bench, const FaultCase& fault) {
  std::vector<hhsync::InjectedFault> faults;
  if (fault.lasting) {
    faults.push_back({fault.what, fault.nth, true, fault.error, 0});
  } else {
    for (uint32_t i = 0; i < fault.calls; ++i) {
      faults.push_back({fault.what, fault.nth + i, false, fault.error, 0});
    }
  }
  bench.AddFaults(faults);
}

// Restores the start state, runs hhsync against the case's fault, takes
// the fault away, runs one clean sync and judges both.
CaseResult RunCase(Bench& bench, const Reference& ref, const FaultCase& fault, bool mounts) {
  CaseResult result;
  result.fault = fault;
  bench.Restore(fault.scenario);
  Bench::RunPlan plan;
  std::unique_ptr<DesktopFault> desktop;
  if (fault.kind == "handheld") ArmHandheld(bench, fault);
  if (fault.kind == "desktop") {
    desktop = MakeDesktopFault(fault.what, bench.Place(), mounts, &result.skipped);
    if (!desktop) return result;
    plan.place = desktop->RunPlace();
  }
  std::vector<ReferenceServer::Fault> serverFaults;
  if (fault.serverFault) serverFaults.push_back(*fault.serverFault);
  bench.SetServerFaults(serverFaults);
  bench.ClearReport();
  result.faulted = bench.RunHhsync(plan);
  const uint32_t requests = bench.RequestsSeen();
  bench.SetServerFaults({});
  const std::vector<std::string> causeWords =
      desktop ? desktop->CauseWords() : std::vector<std::string>();
  desktop.reset();  // the fault is taken away; what the run left stays
  result.messages = MessageBoxes(result.faulted.err);
  HandheldDump afterFault;
  result.differencesAfterFault = Compare(ref.state, bench.Capture(&afterFault));
  const std::set<std::string> window =
      PostedAndLeft(KeepOnHandheld(afterFault), TallyKeep(bench.KeepReceived(), ref.expectedKeep));
  result.fired = fault.kind != "server" || requests >= fault.nth;
  if (fault.kind == "handheld") {
    result.fired = std::any_of(afterFault.faults.begin(), afterFault.faults.end(), [&](auto& f) {
      return f.operation == fault.what && f.calls >= fault.nth;
    });
    bench.ClearFaults();
  }
  // A run killed at the time limit (counted apart) never got to write one.
  result.faultedReport = ReadReport(result.faulted.report);
  CheckFaultedReport(causeWords, &result);
  CleanSync(bench, ref, window, &result);
  return result;
}

// Every case of the options for the scenarios' references.
std::vector<FaultCase> AllCases(const SweepOptions& options,
                                const std::vector<Reference>& references) {
  auto wanted = [&](const char* kind) {
    return std::find(options.kinds.begin(), options.kinds.end(), kind) != options.kinds.end();
  };
  // A stall outlasts the program's patience with it.
  const uint32_t stallMs = (kSweepStallSeconds + 2) * 1000;
  std::vector<FaultCase> all;
  auto add = [&all](const std::vector<FaultCase>& cases) {
    all.insert(all.end(), cases.begin(), cases.end());
  };
  for (const Reference& ref : references) {
    if (wanted("handheld")) {
      add(HandheldCases(ref.scenario, ref.counts, options.operations, options.uses,
                        options.errors));
    }
    if (wanted("server"))
      add(ServerCases(ref.scenario, ref.requests, options.serverFaults, stallMs));
    if (wanted("desktop")) add(DesktopCases(ref.scenario, options.desktopFaults));
  }
  return all;
}

void LogCase(std::ostream& log, std::size_t i, std::size_t count, const CaseResult& r) {
  const FaultCase& fault = r.fault;
  log << "hhctl sweep: case " << (i + 1) << "/" << count << " " << fault.scenario << " "
      << fault.Name() << " " << fault.use << " (" << fault.nth << ")"
      << (fault.kind == "handheld" ? " error " + std::to_string(fault.error) : "") << ": "
      << (!r.skipped.empty() ? "not run"
          : r.converged      ? "converged"
                             : "differs")
      << "\n";
}

// One kill point: restore, a run killed at the point, the image's
// integrity, the clean sync after it.
KillPoint RunKillPoint(Bench& bench, const Reference& ref, KillPoint p) {
  const auto pointStart = SteadyClock::now();
  bench.Restore("kill");
  p.killed = bench.RunHhsync({std::nullopt, p.atRequest, p.delayMs});
  p.imageIntegrity = IntegrityCheck(bench.image());
  p.storeIntegrity = IntegrityCheck(bench.store());
  HandheldDump afterKill;
  p.dumpOk = bench.TryDump(&afterKill, &p.dumpError);
  // Entries the server has and the handheld still holds: the kill fell
  // between the server's acceptance and the deletion.
  std::set<std::string> window;
  std::vector<Difference> differencesAfterKill;
  if (p.dumpOk) {
    differencesAfterKill = Compare(ref.state, bench.StateOf(afterKill));
    p.differencesAfterKill = differencesAfterKill.size();
    window =
        PostedAndLeft(KeepOnHandheld(afterKill), TallyKeep(bench.KeepReceived(), ref.expectedKeep));
  }
  // The killed run leaves its report file for the next point's kill to
  // hold against; the clean run's report must be its own.
  CheckKilledReport(p.dumpOk ? &differencesAfterKill : nullptr, &p);
  CleanSync(bench, ref, window, &p);
  p.ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - pointStart).count();
  return p;
}

// The kill points: a request other than the last and a delay of up to
// twice the fault-free run's mean time between requests (the run cannot
// get past the next request before it); one in ten after the last request
// instead, within the time the fault-free run went on after it (the last
// writes, lst, the report), where a run may end first.
std::vector<KillPoint> KillPoints(const SweepOptions& options, const HhsyncRun& measured,
                                  uint32_t requests) {
  const double gapMs = 2 * measured.ms / requests;
  const double tailMs = std::max(0.0, measured.ms - measured.lastRequestMs);
  std::mt19937_64 random(options.seed);
  std::vector<KillPoint> points(options.killPoints);
  for (unsigned i = 0; i < options.killPoints; ++i) {
    KillPoint& p = points[i];
    p.index = i + 1;
    const bool tail = random() % 10 == 0;
    p.atRequest = tail ? requests : 1 + static_cast<uint32_t>(random() % (requests - 1));
    const double fraction = static_cast<double>(random() >> 11) / 9007199254740992.0;
    p.delayMs = fraction * (tail ? tailMs : gapMs);
  }
  return points;
}

}  // namespace

int RunFaultSweep(const SweepOptions& options, std::ostream& out, std::ostream& log) {
  const auto started = SteadyClock::now();
  SweepResults s;
  // Mounts made for desktop faults must not outlive the sweep: it takes a
  // mount namespace of its own before any thread starts.
  const auto& kinds = options.kinds;
  if (std::find(kinds.begin(), kinds.end(), "desktop") != kinds.end()) {
    s.mounts = PrivateMountNamespace(&s.noMounts);
  }
  Bench bench(options, log);
  for (const std::string& scenario : options.scenarios) {
    if (options.verbose) log << "hhctl sweep: preparing scenario " << scenario << "\n";
    s.references.push_back(MakeReference(bench, scenario));
  }
  const std::vector<FaultCase> all = AllCases(options, s.references);
  const std::vector<FaultCase> chosen = Limit(all, options.limit);
  s.casesWithoutLimit = all.size();
  // The fault-free control of each scenario: the same two runs without a
  // fault must reproduce the reference, or the measurement means nothing.
  for (const Reference& ref : s.references) {
    FaultCase control;
    control.scenario = ref.scenario;
    control.use = "-";
    s.controls.push_back(RunCase(bench, ref, control, s.mounts));
  }
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const Reference& ref =
        *std::find_if(s.references.begin(), s.references.end(),
                      [&](const Reference& r) { return r.scenario == chosen[i].scenario; });
    s.results.push_back(RunCase(bench, ref, chosen[i], s.mounts));
    if (options.verbose) LogCase(log, i, chosen.size(), s.results.back());
  }
  if (options.keepDir) s.dir = bench.dir().string();
  s.seconds = SecondsSince(started);
  PrintSweep(options, s, out);
  return TallyCases(s.controls, s.results).ok() ? 0 : 1;
}

int RunKillTest(const SweepOptions& options, std::ostream& out, std::ostream& log) {
  const auto started = SteadyClock::now();
  Bench bench(options, log);
  bench.Serve(KillCatalogue(options.items));
  bench.MakeStart(KillKeeps());
  bench.Snapshot("kill");
  Reference ref;
  ref.expectedKeep = KeepTexts(KillKeeps());

  // The fault-free run gives the requests the kills follow.
  KillResults k;
  bench.Restore("kill");
  bench.ClearReport();
  bench.SetServerFaults({});
  k.measured = bench.RunHhsync();
  if (k.measured.exitCode != 0) throw Failure("the fault-free run failed: " + k.measured.err);
  k.requests = bench.RequestsSeen();
  if (k.requests < 2) throw Failure("the fault-free run made fewer than two requests");
  bench.ClearReport();
  const HhsyncRun again = bench.RunHhsync();
  ref.state = bench.Capture();
  ref.outcomes = k.outcomes = ReferenceOutcomes(k.measured, again);
  if (options.verbose) {
    log << "hhctl sweep: fault-free run of " << options.items << " items took "
        << Fixed(k.measured.ms, 0) << " ms\n";
  }
  for (const KillPoint& point : KillPoints(options, k.measured, k.requests)) {
    k.points.push_back(RunKillPoint(bench, ref, point));
    if (options.verbose) {
      const KillPoint& p = k.points.back();
      log << "hhctl sweep: kill " << p.index << "/" << options.killPoints << " at request "
          << p.atRequest << " + " << Fixed(p.delayMs, 2) << " ms: " << (p.Ok() ? "ok" : "FAILED")
          << "\n";
    }
  }
  if (options.keepDir) k.dir = bench.dir().string();
  k.seconds = SecondsSince(started);
  PrintKill(options, k, out);
  return TallyPoints(k.points).allOk() ? 0 : 1;
}

}  // namespace hhctl
