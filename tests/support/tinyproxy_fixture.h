#pragma once
// Runs the system's tinyproxy for a test: a plain HTTP proxy on a free port
// of 127.0.0.1 that asks for Basic credentials, with its configuration, pid
// and log files in a temporary directory.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace hhsync::test {

class TinyproxyProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/tinyproxy";
  // True when tinyproxy is installed; tests skip without it.
  static bool Available();

  // A proxy that wants user and password (Basic); nothing runs yet.
  TinyproxyProcess(std::string user, std::string password);
  // Stops the proxy and removes its directory.
  ~TinyproxyProcess();
  TinyproxyProcess(const TinyproxyProcess&) = delete;
  TinyproxyProcess& operator=(const TinyproxyProcess&) = delete;

  // Starts tinyproxy in the foreground and waits until it accepts
  // connections. False with *error filled when it did not come up.
  bool Start(std::string* error = nullptr);
  // Ends the proxy; safe to repeat.
  void Stop();

  uint16_t port() const { return port_; }
  // "127.0.0.1:PORT", the form a session's proxy option takes.
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  bool StartOnce(std::string* error);

  std::string user_;
  std::string password_;
  std::string dir_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace hhsync::test
