#pragma once
// Starting other programs: opening a page, running a command line, running
// and waiting, beeping, short paths. No adapter ever hands text to a shell:
// command lines are split into arguments and started directly.
//
// Thread safety: safe to call from any thread.

#include <string>

namespace hhsync {

inline constexpr int kSwShow = 5;

class Shell {
 public:
  Shell() = default;
  virtual ~Shell() = default;
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // Opens a URL with the desktop's opener; whether the opener started.
  virtual bool OpenUrl(const std::string& url, int showCommand) = 0;
  // Starts a command line without waiting; whether it started.
  virtual bool RunCommandLine(const std::string& commandLine, int showCommand) = 0;
  // Starts a command line and waits for it to end. False when it could not
  // be started.
  virtual bool RunAndWait(const std::string& commandLine) = 0;
  virtual void MessageBeep(unsigned type) = 0;
  // The short form of a path: one that can stand as a single argument of a
  // command line. Empty when the file does not exist.
  virtual std::string ShortPath(const std::string& path) = 0;
};

}  // namespace hhsync
