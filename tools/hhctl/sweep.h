#pragma once
// hhctl sweep: measures how hhsync converges after a failure.
//
// The fault sweep runs the real hhsync binary against an emulated handheld
// and a desktop registry store in a fresh temporary directory, with the
// reference content server in this process on loopback. For each scenario
// it makes a start state in code, counts the remote calls and the requests
// of one fault-free sync, and takes the state after one more clean sync as
// the reference. Then, for every case, it restores the start state, sets up
// the fault, runs hhsync, takes the fault away, runs one clean sync and
// compares the outcome with the reference (convergence.h), and counts how
// often each keep entry reached the server. A case's fault is one of:
//   handheld  a remote call fails: one use of an operation, two adjacent
//             uses, or every use from the middle one on (lasting);
//   server    one request of the fault-free run is answered wrongly: cut
//             inside its header or its body, refused with 404 or 500,
//             answered with garbage, stalled; or every request for its
//             target is refused (lasting);
//   desktop   the registry store locked or damaged, the program directory
//             read-only or full, the handheld image cut short, damaged or
//             empty (desktop_faults.h); the faulted run's report must name
//             the cause.
// A keep entry the server received twice counts apart, as the documented
// at-least-once delivery, when the faulted run posted it and left it on the
// handheld (the server's reply lost, or the entry not deleted); anywhere
// else it fails the case.
//
// The kill test does the same for a SIGKILL at a random moment of a large
// first sync instead of a failing call, and checks the image's integrity
// right after the kill. A kill moment is a request of the fault-free run
// and a short delay after it; the requests after it are held unanswered
// until the kill, so the run is surely still working when it comes,
// however fast or slow the machine.
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
  std::vector<std::string> kinds;       // "handheld", "server", "desktop"
  std::vector<uint32_t> errors;         // handheld error codes the failing call leaves
  std::vector<std::string> operations;  // faultable operations to fail
  // "first", "second", "middle", "last", "every" (one call), "first-pair",
  // "last-pair", "pairs" (two adjacent calls), "lasting"
  std::vector<std::string> uses;
  // "cut-head", "cut-body", "status", "garbage", "stall", "lasting"
  std::vector<std::string> serverFaults;
  std::vector<std::string> desktopFaults;  // DesktopFaultNames()
  std::size_t limit = 0;                   // at most this many cases (0: all), every op first
  bool json = false;
  bool keepDir = false;
  bool verbose = false;
  double timeoutSeconds = 60;  // one hhsync run longer than this is killed

  // Kill test: points > 0 selects it.
  unsigned killPoints = 0;
  uint64_t seed = 1;
  unsigned items = 500;
};

// How long hhsync waits for a stalled transfer in the sweep's runs
// (HHSYNC_STALL_SECONDS); a stalling server waits longer.
inline constexpr unsigned kSweepStallSeconds = 1;

// Run the fault sweep or the kill test; the exit status: 0 when every case
// converged with no keep entry lost or delivered twice outside the
// at-least-once window, and every report passed its checks, 1 otherwise.
// Throws Failure when the measurement itself could not be made.
int RunFaultSweep(const SweepOptions& options, std::ostream& out, std::ostream& log);
int RunKillTest(const SweepOptions& options, std::ostream& out, std::ostream& log);

}  // namespace hhctl
