#pragma once
// The Linux adapters wired together, configured from the environment:
//   HHSYNC_HOME      the program directory (default: the executable's; in
//                    an installed build $XDG_DATA_HOME/hhsync)
//   HHSYNC_DEVICE    the handheld image (default: in the program directory)
//   HHSYNC_REGISTRY  the desktop registry store (default: in the program
//                    directory; installed: $XDG_CONFIG_HOME/hhsync)
//   HHSYNC_UI        wx, tty or none (default: wx when DISPLAY or
//                    WAYLAND_DISPLAY names a display and the GUI is built,
//                    else tty on a terminal, else none)
//   HHSYNC_ANSWERS   scripted message box answers for none
//   HHSYNC_OPEN      the program that opens a page (default: xdg-open)
//   HHSYNC_CONNECT_WAIT_MS  how long a run waits for the handheld (default
//                   5000; for tests of the no-handheld path)
//   HHSYNC_REPORT    the file that receives the run's report (default: none)
//   HHSYNC_STARTED_BY  "timer" when the systemd timer started the run (a
//                    not-due run then tells the desktop nothing)
// This is the only place that picks adapters; main calls it.

#include <cstdio>
#include <memory>
#include <string>

#include "base/run_report.h"
#include "platform/ports.h"
#include "platform/run_options.h"

namespace hhsync {

class WxUi;

class LinuxPlatform {
 public:
  // recorder (may be null) receives the run's facts.
  explicit LinuxPlatform(RunRecorder* recorder = nullptr);
  ~LinuxPlatform();
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  // Not empty when the platform cannot run (HHSYNC_UI=wx without a display
  // or without the GUI built): one line to show, and nothing was touched.
  const std::string& error() const { return error_; }
  const Ports& ports() const { return ports_; }
  const RunOptions& runOptions() const { return options_; }
  // Where the run's closing summary goes: the terminal of the tty front
  // end, else standard error.
  std::FILE* summaryOut() const { return tty_ ? tty_ : stderr; }

  // The run has ended with report, summed up in summary (UTF-8). With the
  // windows front end, a run that showed no window and no box shows its
  // summary as a desktop notification (see NotifyDesktop).
  void RunEnded(const RunReport& report, const std::string& summary);

 private:
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Paths> paths_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Rapi> rapi_;
  std::unique_ptr<Http> http_;
  std::unique_ptr<Shell> shell_;
  std::unique_ptr<Prompter> prompter_;  // the front end, which also hosts the dialogs
  std::FILE* tty_ = nullptr;
  WxUi* wx_ = nullptr;  // the front end when it is the windows one
  Ports ports_;
  RunOptions options_;
  std::string error_;
};

// The program's name as message boxes and summaries carry it: the
// executable's file name without its extension ("hhsync").
std::string ProgramCaption();

// Shows summary (UTF-8) as a desktop notification when the windows would be
// the front end of this run, unless the run was not due and the timer
// started it (an hourly "not due" is nobody's news). For runs that ended
// before a platform was made (a second run while one works).
void NotifyDesktop(const RunReport& report, const std::string& summary);

// The report file HHSYNC_REPORT names; empty when none.
std::string ReportPath();

// Writes text as the file at path: into a temporary file in the same
// directory, made durable, then renamed over path, so that the file is
// always either the old one or the new one whole. False when that failed
// (the old file, if any, is left as it was), with *why saying why.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why);

}  // namespace hhsync
