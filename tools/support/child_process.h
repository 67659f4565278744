#pragma once
// A program started in the background with posix_spawn: standard input
// empty, its output to files, ended and reaped when its owner goes. Shared
// by the tests, the fault sweep and the benchmarks, which all start the real
// hhsync and servers this way.

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

namespace hhsync {

// The current environment without the variables whose names start with
// dropPrefix or are set by env, followed by env ("NAME=value" items).
std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& env,
                                              const std::string& dropPrefix);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills (SIGKILL) and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path) with exactly the environment env. Standard output
  // is appended to outPath and standard error to errPath (one file when they
  // are equal; /dev/null when empty). False with *error filled when it
  // cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outPath, const std::string& errPath, std::string* error);
  // Whether it was started and has not ended yet.
  bool Running();
  // Waits at most timeoutMs (negative: as long as it takes); whether it ended.
  bool Wait(int timeoutMs);
  // Sends signal when it still runs; a child that is still there graceMs
  // later is killed with SIGKILL. Returns after it ended.
  void Stop(int signal, int graceMs);
  void Kill() { Stop(SIGKILL, 0); }

  // Once ended: its exit code, or -1 when a signal ended it.
  int exitCode() const;
  // Once ended: the signal that ended it, or 0.
  int endSignal() const;
  // Once ended: its largest resident set in KiB.
  long peakRssKb() const { return peakRssKb_; }

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  long peakRssKb_ = 0;
};

}  // namespace hhsync
