// hhsync.exe: one run per start, as on Linux. The command line picks the run
// mode; the adapters are the Windows ones, see win32_platform.h. Every run
// ends with its report written where HHSYNC_REPORT names and a one-line
// summary on standard error.

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/report_collector.h"
#include "app/sync_runner.h"
#include "app/usage.h"
#include "base/command_line.h"
#include "base/run_report.h"
#include "base/text.h"
#include "formats/report_json.h"
#include "platform/win32/win32_bitmaps.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_code_page.h"
#include "platform/win32/win32_paths.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_run_lock.h"

namespace {

// Writes the report (when one is asked for), shows the summary line and
// gives the exit status.
int EndRun(hhsync::ReportCollector& collector) {
  const hhsync::RunReport report = collector.Finish();
  const std::string path = hhsync::ReportPath();
  std::string why;
  if (!path.empty() && !hhsync::WriteFileAtomically(path, hhsync::ReportJson(report), &why)) {
    std::fprintf(stderr, "hhsync: the report could not be written to %s: %s\n", path.c_str(),
                 why.c_str());
  }
  std::fprintf(stderr, "%s: %s\n", hhsync::ProgramCaption().c_str(),
               hhsync::ReportSummary(report).c_str());
  std::fflush(stderr);
  return hhsync::ExitStatusOf(report.outcome);
}

}  // namespace

int main(int argc, char** argv) {
  // The program's 8-bit text is in the system's ANSI code page.
  static const hhsync::SystemCodePage codePage;
  hhsync::UseAnsiCodePage(&codePage);
  // Its bitmaps are the executable's resources.
  static const hhsync::ExecutableBitmaps bitmaps;
  hhsync::UseBitmapResources(&bitmaps);
  if (hhsync::AnswerInfoRequest(argc, argv, hhsync::ProgramCaption())) return 0;
  // The command line is searched as one string of everything after the
  // program name.
  const std::string commandLine = hhsync::JoinArguments(argc, argv);
  hhsync::Win32Clock clock;
  hhsync::ReportCollector report(clock, hhsync::SelectRunMode(commandLine));
  const std::string dir = hhsync::Win32Paths().ProgramDir();
  hhsync::RunLock lock(dir);
  if (!lock.locked()) {
    std::fprintf(stderr, "hhsync: another run is working in %s; this run ends without syncing\n",
                 dir.c_str());
    report.Outcome(hhsync::RunOutcome::kFailed,
                   "another run is working in the program directory " + dir);
    return EndRun(report);
  }
  // What a killed run left half-written is of no use to anyone; this run
  // holds the directory, so nothing of another run's is among it.
  hhsync::Win32Paths(dir).RemoveLeftoverTemporaries();
  hhsync::Win32Platform platform(&report);
  hhsync::InitInstance(platform.ports(), commandLine, platform.runOptions());
  return EndRun(report);
}
