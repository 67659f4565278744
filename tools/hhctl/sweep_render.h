#pragma once
// How `hhctl sweep` shows its results: for people, the totals and a line
// for each case or kill point that did not pass, saying what went wrong;
// with --json, one object with every case or point and the totals.
//
// Thread safety: free functions.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "sweep.h"
#include "sweep_verdict.h"

namespace hhctl {

struct SweepResults {
  std::vector<Reference> references;
  std::vector<CaseResult> controls;  // one fault-free control per reference
  std::vector<CaseResult> results;
  std::size_t casesWithoutLimit = 0;
  bool mounts = false;
  std::string noMounts;  // why the desktop faults that need mounts cannot run
  std::string dir;       // the kept directory, or empty
  double seconds = 0;
};

struct KillResults {
  HhsyncRun measured;  // the fault-free run
  uint32_t requests = 0;
  std::vector<std::string> outcomes;  // see ReferenceOutcomes
  std::vector<KillPoint> points;
  std::string dir;  // the kept directory, or empty
  double seconds = 0;
};

void PrintSweep(const SweepOptions& options, const SweepResults& results, std::ostream& out);
void PrintKill(const SweepOptions& options, const KillResults& results, std::ostream& out);

// v with that many decimals.
std::string Fixed(double v, int decimals);

}  // namespace hhctl
