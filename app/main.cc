// hhsync: one run per start. The command line picks the run mode; everything
// else (the handheld, the registry store, the front end) comes from the
// environment, see platform/linux/linux_platform.h. Every run ends with its
// report written where HHSYNC_REPORT names, a one-line summary and an exit
// status that tells the outcome (ExitStatusOf).

#include <cstdio>
#include <string>

#include "app/report_collector.h"
#include "app/sync_runner.h"
#include "app/usage.h"
#include "base/command_line.h"
#include "base/run_report.h"
#include "base/text.h"
#include "formats/report_json.h"
#include "platform/linux/directory_lock.h"
#include "platform/linux/env_paths.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/system_clock.h"
#include "platform/locations.h"

namespace {

// Writes the report when one is asked for; a report that cannot be written
// is said with its path and the reason.
void WriteReport(const hhsync::RunReport& report) {
  const std::string path = hhsync::ReportPath();
  std::string why;
  if (!path.empty() && !hhsync::WriteFileAtomically(path, hhsync::ReportJson(report), &why)) {
    std::fprintf(stderr, "hhsync: the report could not be written to %s: %s\n", path.c_str(),
                 why.c_str());
  }
}

// Writes the report, shows the summary line, and gives the exit status.
int EndRun(hhsync::ReportCollector& collector, hhsync::LinuxPlatform* platform,
           std::FILE* summaryOut) {
  const hhsync::RunReport report = collector.Finish();
  WriteReport(report);
  const std::string summary = hhsync::AnsiToUtf8(hhsync::ReportSummary(report));
  std::fprintf(summaryOut, "%s: %s\n", hhsync::ProgramCaption().c_str(), summary.c_str());
  std::fflush(summaryOut);
  if (platform) {
    platform->RunEnded(report, summary);
  } else {
    hhsync::NotifyDesktop(report, summary);
  }
  return hhsync::ExitStatusOf(report.outcome);
}

}  // namespace

int main(int argc, char** argv) {
  // The one addition to the run modes' command line: exactly "--help" or
  // "--version" says so and touches nothing.
  if (hhsync::AnswerInfoRequest(argc, argv, hhsync::ProgramCaption())) return 0;
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
    report.Outcome(hhsync::RunOutcome::kFailed,
                   "another run is working in the program directory " + dir);
    return EndRun(report, nullptr, stderr);
  }
  hhsync::LinuxPlatform platform(&report);
  if (!platform.error().empty()) {
    // The front end asked for cannot be had: this one line says why, and
    // the run ends before it touches the handheld or the registry store,
    // with a report that says so.
    std::fprintf(stderr, "%s\n", platform.error().c_str());
    report.Outcome(hhsync::RunOutcome::kFailed, platform.error());
    WriteReport(report.Finish());
    return hhsync::kExitFrontEndUnavailable;
  }
  // What a killed run left half-written is of no use to anyone; this run
  // holds the directory, so nothing of another run's is among it.
  hhsync::EnvPaths(dir).RemoveLeftoverTemporaries();
  hhsync::InitInstance(platform.ports(), commandLine, platform.runOptions());
  return EndRun(report, &platform, platform.summaryOut());
}
