// hhsync: one run per start. The command line picks the run mode; everything
// else (the handheld, the registry store, the front end) comes from the
// environment, see platform/linux/linux_platform.h. Every run ends with its
// report written where HHSYNC_REPORT names and a one-line summary.

#include <cstdio>
#include <string>

#include "app/report_collector.h"
#include "app/sync_runner.h"
#include "base/command_line.h"
#include "base/run_report.h"
#include "base/text.h"
#include "formats/report_json.h"
#include "platform/linux/directory_lock.h"
#include "platform/linux/env_paths.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/locations.h"
#include "platform/linux/system_clock.h"

namespace {

// Writes the report (when one is asked for) and shows the summary line.
void EndRun(hhsync::ReportCollector& collector, std::FILE* summaryOut) {
  const hhsync::RunReport report = collector.Finish();
  const std::string path = hhsync::ReportPath();
  if (!path.empty() && !hhsync::WriteFileAtomically(path, hhsync::ReportJson(report))) {
    std::fprintf(stderr, "hhsync: the report could not be written to %s\n", path.c_str());
  }
  std::fprintf(summaryOut, "%s: %s\n", hhsync::ProgramCaption().c_str(),
               hhsync::AnsiToUtf8(hhsync::ReportSummary(report)).c_str());
  std::fflush(summaryOut);
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is searched as one string of everything after the
  // program name.
  const std::string commandLine = hhsync::JoinArguments(argc, argv);
  hhsync::SystemClock clock;
  hhsync::ReportCollector report(clock, hhsync::SelectRunMode(commandLine));
  // A second run on the same program directory waits briefly for the first
  // and otherwise ends without touching anything.
  const std::string dir = hhsync::ProgramLocations().programDir;
  hhsync::DirectoryLock lock(dir, hhsync::kDirectoryLockWaitMs);
  if (!lock.locked()) {
    std::fprintf(stderr, "hhsync: another run is working in %s; this run ends without syncing\n",
                 dir.c_str());
    report.Outcome(hhsync::RunOutcome::kFailed, "another run is working in the program directory");
    EndRun(report, stderr);
    return 0;
  }
  hhsync::LinuxPlatform platform(&report);
  if (!platform.error().empty()) {
    // The front end asked for cannot be had: this one line says why, and
    // the run ends before it touches the handheld or the registry store,
    // with a report that says so.
    std::fprintf(stderr, "%s\n", platform.error().c_str());
    report.Outcome(hhsync::RunOutcome::kFailed, platform.error());
    const std::string path = hhsync::ReportPath();
    if (!path.empty() && !hhsync::WriteFileAtomically(path, hhsync::ReportJson(report.Finish()))) {
      std::fprintf(stderr, "hhsync: the report could not be written to %s\n", path.c_str());
    }
    return 2;
  }
  // What a killed run left half-written is of no use to anyone; this run
  // holds the directory, so nothing of another run's is among it.
  hhsync::EnvPaths(dir).RemoveLeftoverTemporaries();
  hhsync::InitInstance(platform.ports(), commandLine, platform.runOptions());
  EndRun(report, platform.summaryOut());
  return 0;
}
