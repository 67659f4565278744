#pragma once
// A small HTTP server on 127.0.0.1 for the WinINet tests: every connection
// gets one canned reply, written in pieces when asked, and every request is
// kept as it arrived (head and body).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hhsync::win32_test {

class LoopbackServer {
 public:
  // reply: the whole answer (status line, headers, body). piece: when not 0,
  // the reply is sent in pieces of that many bytes with a pause between.
  explicit LoopbackServer(std::string reply, std::size_t piece = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  std::vector<std::string> Requests();

 private:
  void Serve();
  void Answer(uintptr_t connection);

  const std::string reply_;
  const std::size_t piece_;
  uintptr_t listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace hhsync::win32_test
