#pragma once
// The reference content server: answers the content server's requests from
// files under a root directory, on 127.0.0.1 only.
//
//   GET  /.../update/profile?...            profile.txt
//   GET  /.../update/resource?... (no rid)  resources.txt
//   GET  /.../update/resource?...&rid=R     resources/R
//   GET  /.../update/data/ID/VER.edm        data/ID/VER.edm
//   POST /.../update/keep?                  appends the body and "\n" to
//                                           keep-received.txt; answers
//                                           keep-reply.txt, else "OK\n"
//   anything else, or a missing file        404
//
// An answered file F may have companions: F.status (the status code to
// answer with), F.delay (milliseconds to wait before answering) and F.cut
// (send only that many body bytes, announced with the full length, then
// close the connection). With a log path, every request is appended to it as
// one JSON line: method, path, query, version, headers, body and head (the
// request line and header lines exactly as they came). Faults set in code
// (SetFaults) answer chosen requests as a failing server would.
//
// It speaks HTTP/1.x over plain sockets and takes the request target as it
// is sent: everything between the first and the last blank of the request
// line, blanks, tabs, '#' and 8-bit bytes included. A target in absolute
// form ("http://host:port/path?query", as a proxy is asked) is routed by its
// path. Every answer closes the connection.
//
// Thread safety: Run blocks in one thread and answers each connection on a
// thread of its own; Stop may be called from any thread, also before Run.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hhctl {

class ReferenceServer {
 public:
  struct Options {
    std::string root;
    std::string logPath;  // empty: no request log
    // Bounds that keep a bad client from holding the server: the time a
    // request's line and headers may take to arrive, and the longest wait
    // for the next bytes of its body or for the client to take the answer.
    std::chrono::milliseconds readTimeout{10000};
    std::size_t maxHeadBytes = 64 * 1024;         // request line and headers
    std::size_t maxBodyBytes = 64 * 1024 * 1024;  // Content-Length above: 413
    std::size_t maxConnections = 64;              // more wait to be accepted
  };

  // A way to answer one request wrongly, for measuring how a client copes
  // with a failing server. The request is the nth one read since the faults
  // were set (counted from 1); a lasting fault also hits every later request
  // for the same target.
  struct Fault {
    enum class Kind {
      kCutHead,  // send offset bytes of the head, then close
      kCutBody,  // send the head and offset bytes of the body, then close
      kStatus,   // answer status with a short text, without acting on the request
      kGarbage,  // answer 200 with bytes of the body's length that mean nothing
      kStall,    // send the head and offset bytes of the body, then wait stall, then close
    };
    Kind kind = Kind::kStatus;
    uint32_t nth = 1;
    bool lasting = false;
    std::size_t offset = 0;
    int status = 500;
    std::chrono::milliseconds stall{0};
  };

  explicit ReferenceServer(Options options);
  ~ReferenceServer();
  ReferenceServer(const ReferenceServer&) = delete;
  ReferenceServer& operator=(const ReferenceServer&) = delete;

  // Binds 127.0.0.1:port; port 0 picks a free one. False with *error filled
  // when the port cannot be had.
  bool Bind(uint16_t port, std::string* error);
  // The bound port (0 before Bind).
  uint16_t port() const { return port_; }
  // Answers requests until Stop, then waits for the connections' threads to
  // end and closes the listening socket. False when the server could not run
  // (not bound, or listening failed).
  bool Run();
  // Makes Run return soon; connections being answered are cut off. A Stop
  // that comes before Run holds: Run then returns at once.
  void Stop();
  // Replaces the faults (none: every request answered as its files say)
  // and counts requests from 0 again. May be called while Run answers.
  void SetFaults(std::vector<Fault> faults);
  // Requests read since the faults were last set.
  uint32_t RequestsSeen() const;
  // Holds every request after the nth (counted as for faults) unanswered
  // until OpenGate, SetFaults or Stop: a client that made them is surely
  // still running. 0 holds none.
  void SetGate(uint32_t nth);
  void OpenGate() { SetGate(0); }

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  uint16_t port_ = 0;
};

}  // namespace hhctl
