#pragma once
#include <string>

#include "platform/shell.h"

namespace hhsync {

// Starts programs with posix_spawn, never through a shell. A page opens with
// the opener program (HHSYNC_OPEN, else xdg-open) given the URL as its one
// argument; command lines are split into arguments by the desktop's quoting
// rules (SplitCommandLine), an unquoted program path with blanks included.
// Opening a page and starting a command line return as soon as the program
// has started; the program is not our child, so nothing waits for it.
class PosixShell final : public Shell {
 public:
  explicit PosixShell(std::string opener);

  bool OpenUrl(const std::string& url, int showCommand) override;
  bool RunCommandLine(const std::string& commandLine, int showCommand) override;
  bool RunAndWait(const std::string& commandLine) override;
  void MessageBeep(unsigned type) override;
  std::string ShortPath(const std::string& path) override;

 private:
  std::string opener_;
};

}  // namespace hhsync
