#pragma once
// A loopback HTTP peer for tests that must see exactly the bytes a client
// sent, or answer the way a hostile server would: every connection is
// accepted on a thread of its own, its request head and body are recorded as
// raw bytes, and a handler writes whatever answer it likes to the socket.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hhsync::test {

struct RawRequest {
  std::string head;  // request line and header lines up to the empty line, CR LF kept
  std::string body;  // as many bytes as Content-Length announced

  std::string RequestLine() const { return head.substr(0, head.find("\r\n")); }
  // The header lines (without the request line and the empty line).
  std::vector<std::string> HeaderLines() const;
};

class RawServer {
 public:
  // Writes the answer to fd after the request was read. The default answers
  // 200 with an empty body.
  using Handler = std::function<void(int fd, const RawRequest& request)>;

  // Listens on 127.0.0.1, or on ::1 with ipv6; port 0 picks a free one.
  explicit RawServer(Handler handler = nullptr, bool ipv6 = false);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  bool ok() const { return listener_ >= 0; }
  uint16_t port() const { return port_; }
  std::string Url(const std::string& path) const;
  // Every request received so far, in order of arrival.
  std::vector<RawRequest> Requests();

  // Writes all of text to fd; false when the peer went away.
  static bool Send(int fd, const std::string& text);
  // An answer with status, a Content-Length for body, and body.
  static std::string Answer(int status, const std::string& body);

 private:
  void Accept();
  void Serve(int fd);

  Handler handler_;
  bool ipv6_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mu_;
  std::vector<RawRequest> requests_;
  std::vector<std::thread> workers_;
  std::vector<int> open_;
  std::thread acceptor_;
};

}  // namespace hhsync::test
