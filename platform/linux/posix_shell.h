#pragma once
#include <string>
#include <vector>

#include "platform/shell.h"

namespace hhsync {

// Starts programs with posix_spawn, never through a shell. A page opens with
// the opener program (HHSYNC_OPEN, else xdg-open) given the URL as its one
// argument; command lines are split into arguments by the desktop's quoting
// rules (SplitCommandLine).
class PosixShell final : public Shell {
 public:
  explicit PosixShell(std::string opener);

  int OpenUrl(const std::string& url, int showCommand) override;
  int RunCommandLine(const std::string& commandLine, int showCommand) override;
  bool RunAndWait(const std::string& commandLine) override;
  void MessageBeep(unsigned type) override;
  std::string ShortPath(const std::string& path) override;

 private:
  std::string opener_;
};

// Splits a command line the way the desktop does: the program name ends at
// the first blank, or is everything between a leading pair of double quotes;
// in the arguments, blanks outside double quotes separate, 2n backslashes
// before a double quote give n backslashes and toggle quoting, 2n+1 give n
// backslashes and a literal double quote, other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace hhsync
