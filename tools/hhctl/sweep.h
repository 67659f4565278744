#pragma once
// hhctl sweep: measures how hhsync converges after a single failure.
//
// The fault sweep runs the real hhsync binary against an emulated handheld
// and a desktop registry store in a fresh temporary directory, with the
// reference content server in this process on loopback. For each scenario
// it makes a start state in code, counts the remote calls of one fault-free
// sync, and takes the state after one more clean sync as the reference.
// Then, for every operation, chosen use and error, it restores the start
// state, makes that one call fail, runs hhsync, runs one clean sync and
// compares the outcome with the reference (convergence.h), and counts how
// often each keep entry reached the server.
//
// The kill test does the same for a SIGKILL at a random moment of a large
// first sync instead of a failing call, and checks the image's integrity
// right after the kill.
//
// Every run writes its report (HHSYNC_REPORT) outside the program
// directory. A faulted run's report must be whole and may say "complete"
// only when the run left the reference state (keep entries apart, when its
// keep section says they were left); a killed run leaves the previous
// report or a whole one of its own, never a torn file; a clean sync after
// either must end as the fault-free runs did. A report that fails these
// checks fails the case.
//
// Thread safety: one sweep per process at a time.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace hhctl {

struct SweepOptions {
  std::string hhsync;                   // the hhsync binary to run
  std::vector<std::string> scenarios;   // "first", "resync"
  std::vector<uint32_t> errors;         // handheld error codes the failing call leaves
  std::vector<std::string> operations;  // faultable operations to fail
  std::vector<std::string> uses;        // "first", "second", "middle", "last", "every"
  std::size_t limit = 0;                // at most this many cases (0: all), every op first
  bool json = false;
  bool keepDir = false;
  bool verbose = false;
  double timeoutSeconds = 60;  // one hhsync run longer than this is killed

  // Kill test: points > 0 selects it.
  unsigned killPoints = 0;
  uint64_t seed = 1;
  unsigned items = 500;
};

// The scenario names, the uses and the default errors, in their order.
const std::vector<std::string>& SweepScenarios();
const std::vector<std::string>& SweepUses();
const std::vector<uint32_t>& DefaultSweepErrors();
// Faultable operations that only end a run early (the connection itself).
const std::vector<std::string>& ConnectionOperations();

// Run the fault sweep or the kill test; the exit status: 0 when every case
// converged with no keep entry lost or delivered twice (kill test: twice is
// reported, not judged) and every report passed its checks, 1 otherwise.
// Throws Failure when the measurement itself could not be made.
int RunFaultSweep(const SweepOptions& options, std::ostream& out, std::ostream& log);
int RunKillTest(const SweepOptions& options, std::ostream& out, std::ostream& log);

}  // namespace hhctl
