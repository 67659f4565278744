// hhsync.exe: one run per start, as on Linux. The command line picks the run
// mode; the adapters are the Windows ones, see win32_platform.h. Every run
// ends with its report written where HHSYNC_REPORT names and a one-line
// summary on standard error.

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/report_collector.h"
#include "app/sync_runner.h"
#include "base/command_line.h"
#include "base/run_report.h"
#include "base/text.h"
#include "formats/report_json.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_paths.h"
#include "platform/win32/win32_platform.h"

namespace {

// How long a second run waits for the first to end before it gives up.
constexpr DWORD kRunLockWaitMs = 2000;

// One run at a time per program directory: a run holds a named mutex made
// from the directory's full path for as long as it runs.
class RunLock {
 public:
  explicit RunLock(const std::string& dir) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
    // Mutex names may not hold backslashes; case does not tell paths apart.
    std::string name = "Local\\hhsync-run-";
    for (char c : hhsync::AsciiLower(n > 0 && n < sizeof full ? std::string(full, n) : dir)) {
      name += c == '\\' || c == '/' ? '|' : c;
    }
    mutex_ = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!mutex_) return;
    const DWORD wait = WaitForSingleObject(mutex_, kRunLockWaitMs);
    locked_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~RunLock() {
    if (locked_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  bool locked() const { return locked_; }

 private:
  HANDLE mutex_ = nullptr;
  bool locked_ = false;
};

// Writes the report (when one is asked for) and shows the summary line.
void EndRun(hhsync::ReportCollector& collector) {
  const hhsync::RunReport report = collector.Finish();
  const std::string path = hhsync::ReportPath();
  if (!path.empty() && !hhsync::WriteFileAtomically(path, hhsync::ReportJson(report))) {
    std::fprintf(stderr, "hhsync: the report could not be written to %s\n", path.c_str());
  }
  std::fprintf(stderr, "%s: %s\n", hhsync::ProgramCaption().c_str(),
               hhsync::ReportSummary(report).c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is searched as one string of everything after the
  // program name.
  const std::string commandLine = hhsync::JoinArguments(argc, argv);
  hhsync::Win32Clock clock;
  hhsync::ReportCollector report(clock, hhsync::SelectRunMode(commandLine));
  const std::string dir = hhsync::Win32Paths().ProgramDir();
  RunLock lock(dir);
  if (!lock.locked()) {
    std::fprintf(stderr, "hhsync: another run is working in %s; this run ends without syncing\n",
                 dir.c_str());
    report.Outcome(hhsync::RunOutcome::kFailed, "another run is working in the program directory");
    EndRun(report);
    return 0;
  }
  // What a killed run left half-written is of no use to anyone; this run
  // holds the directory, so nothing of another run's is among it.
  hhsync::Win32Paths(dir).RemoveLeftoverTemporaries();
  hhsync::Win32Platform platform(&report);
  hhsync::InitInstance(platform.ports(), commandLine, platform.runOptions());
  EndRun(report);
  return 0;
}
