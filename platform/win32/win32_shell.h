#pragma once
#include "platform/shell.h"

namespace hhsync {

// The Windows shell and process calls: ShellExecuteA opens a page with the
// handler the registry names for it, WinExec starts a command line,
// CreateProcessA with WaitForSingleObject runs one to its end. Command lines
// go to the process starter as they are (Windows splits them itself); no
// command interpreter is involved.
class Win32Shell final : public Shell {
 public:
  bool OpenUrl(const std::string& url, int showCommand) override;
  bool RunCommandLine(const std::string& commandLine, int showCommand) override;
  bool RunAndWait(const std::string& commandLine) override;
  void MessageBeep(unsigned type) override;
  // GetShortPathNameA: the 8.3 form of an existing path.
  std::string ShortPath(const std::string& path) override;
};

}  // namespace hhsync
