#pragma once
// The Windows adapters wired together. The registry is the system's own,
// the internet client WinINet, the handheld the device software's rapi.dll
// beside the program or on the system's search path. Configured from the
// environment:
//   HHSYNC_HOME      the program directory (default: the executable's)
//   HHSYNC_UI        win32 or none (default: win32)
//   HHSYNC_ANSWERS   scripted message box answers for none
//   HHSYNC_CONNECT_WAIT_MS  how long a run waits for the handheld (default
//                   5000; for tests of the no-handheld path)
//   HHSYNC_REPORT    the file that receives the run's report (default: none)
// This is the only place that picks adapters; the Windows main calls it.

#include <memory>
#include <string>

#include "platform/ports.h"
#include "platform/run_options.h"

namespace hhsync {

class Win32Platform {
 public:
  // recorder (may be null) receives the run's facts.
  explicit Win32Platform(RunRecorder* recorder = nullptr);
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  const Ports& ports() const { return ports_; }
  const RunOptions& runOptions() const { return options_; }

 private:
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Paths> paths_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Rapi> rapi_;
  std::unique_ptr<Http> http_;
  std::unique_ptr<Shell> shell_;
  std::unique_ptr<Prompter> prompter_;  // the front end, which also hosts the dialogs
  Ports ports_;
  RunOptions options_;
};

// The program's name as message boxes carry it: the executable's file name
// without its extension ("hhsync").
std::string ProgramCaption();

// The report file HHSYNC_REPORT names; empty when none.
std::string ReportPath();

// Writes text as the file at path through a replacement file, so that the
// file is always either the old one or the new one whole. False when that
// failed, with *why saying why.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why);

}  // namespace hhsync
