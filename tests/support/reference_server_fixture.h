#pragma once
// Runs the real reference content server (`hhctl serve`) for a test: a
// temporary root directory the test fills with files, a free port on
// 127.0.0.1, and the server's request log read back as JSON objects.

#include <sys/types.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hhsync::test {

// Helpers for fixtures that run a program of their own.
// A new empty directory under the system's temporary directory.
std::string MakeFixtureDir(const std::string& prefix);
// Starts argv[0] with argv, its standard output and error going to
// outputPath. The process id, or -1 with *error filled.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::string& outputPath,
                 std::string* error);
// True while the child has not exited (it is reaped when it has).
bool ChildAlive(pid_t pid);
// Ends the child: SIGTERM, then SIGKILL after 5 s; reaps it; sets *pid to -1.
void EndChild(pid_t* pid);

class ReferenceServerProcess {
 public:
  // Makes the temporary directory; the server is not started yet.
  ReferenceServerProcess();
  // Stops the server and removes the directory with everything in it.
  ~ReferenceServerProcess();
  ReferenceServerProcess(const ReferenceServerProcess&) = delete;
  ReferenceServerProcess& operator=(const ReferenceServerProcess&) = delete;

  // The directory the server answers from.
  const std::string& root() const { return root_; }
  // Writes bytes to root/relative, making the directories on the way.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // The bytes of root/relative; empty when it does not exist.
  std::string ReadFile(const std::string& relative) const;

  // Starts `hhctl serve` on a free port and waits until it has written its
  // port. False with *error filled when it did not come up within 10 s.
  bool Start(std::string* error = nullptr);
  // Ends the server (SIGTERM, then SIGKILL if it lingers); safe to repeat.
  void Stop();
  bool running() const { return pid_ > 0; }

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT/zavrik"
  std::string BaseUrl() const;
  // Every request the server has logged so far, in order.
  std::vector<nlohmann::json> RequestLog() const;
  // What the server wrote to its standard output and error.
  std::string ServerOutput() const;

 private:
  std::string dir_;   // the temporary directory
  std::string root_;  // dir_/root
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace hhsync::test
