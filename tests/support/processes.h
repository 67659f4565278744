#pragma once
// Programs run from tests: the real binaries run to their end, and the
// servers a test talks to (the reference content server `hhctl serve`, the
// system's tinyproxy) run in the background on 127.0.0.1, each in a
// temporary directory of its own.

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_platform.h"
#include "tools/support/child_process.h"

namespace hhsync::test {

struct RunResult {
  int exitCode = -1;  // -1 when the program could not be started or a signal ended it
  std::string out;
  std::string err;
};

// Runs a program with the arguments and waits for it. The environment is the
// test's own without any HHSYNC_ variable, plus env ("NAME=value" items, which
// replace the test's own of the same name). Standard input is empty.
RunResult RunProcess(const std::vector<std::string>& argv,
                     const std::vector<std::string>& env = {});

// A program started in the background, with the environment and input of
// RunProcess; killed at destruction if it still runs.
class ChildProcess {
 public:
  // False with *error filled when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             std::string* error = nullptr);
  // Whether it has not ended yet.
  bool Running() { return child_.Running(); }
  // Kills it with SIGKILL if it still runs.
  void Kill() { child_.Kill(); }
  // Waits at most timeoutMs (a negative one: as long as it takes) for it to
  // end; then fills *result (exit code and output) and returns true. False
  // while it still runs.
  bool Wait(int timeoutMs, RunResult* result);

 private:
  TempDir scratch_;
  hhsync::ChildProcess child_;
};

// A server for one test, ended at destruction.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Ends the server; safe to repeat.
  void Stop();
  uint16_t port() const { return port_; }

 protected:
  // Starts argv, its output going to dir_/output (its standard output to
  // stdoutPath instead when given), and waits up to 10 s for ready(). False
  // with *error filled when it ended or did not come up.
  bool Launch(const std::vector<std::string>& argv, const std::function<bool()>& ready,
              std::string* error, const std::string& stdoutPath = "");

  TempDir dir_;
  hhsync::ChildProcess process_;
  uint16_t port_ = 0;
  // How Stop asks the server to end; one that is still there after 5 s is
  // killed.
  int stopSignal_ = SIGKILL;
};

// The reference content server on a free port, answering from root(), with
// its request log read back as JSON objects. Its root and log serve a server
// in the test's own process as well, when Start is never called.
class ReferenceServerProcess : public ServerProcess {
 public:
  ReferenceServerProcess();  // makes the root; nothing runs yet

  std::string root() const { return dir_.File("root"); }
  std::string logPath() const { return dir_.File("requests.log"); }
  // Writes bytes to root/relative, making the directories on the way.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // The bytes of root/relative; empty when it does not exist.
  std::string ReadFile(const std::string& relative) const;
  // Starts `hhctl serve` and waits until it has written its port.
  bool Start(std::string* error = nullptr);
  // "http://127.0.0.1:PORT" followed by path.
  std::string Url(const std::string& path) const;
  std::string BaseUrl() const { return Url("/zavrik"); }
  // Every request the server has logged so far, in order.
  std::vector<nlohmann::json> RequestLog() const;
};

// tinyproxy on a free port, asking for Basic credentials.
class TinyproxyProcess : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/tinyproxy";
  // True when tinyproxy is installed; tests skip without it.
  static bool Available();

  TinyproxyProcess(std::string user, std::string password)
      : user_(std::move(user)), password_(std::move(password)) {}
  // Starts tinyproxy in the foreground and waits until it accepts connections.
  bool Start(std::string* error = nullptr);
  // "127.0.0.1:PORT", the form a session's proxy option takes.
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::string user_;
  std::string password_;
};

}  // namespace hhsync::test
