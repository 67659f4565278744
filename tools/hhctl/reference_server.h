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
// one JSON line: method, path, query, version, headers, body.
//
// Thread safety: Run blocks in one thread and answers requests on a pool of
// its own; Stop may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>

namespace hhctl {

class ReferenceServer {
 public:
  struct Options {
    std::string root;
    std::string logPath;  // empty: no request log
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
  // Answers requests until Stop. False when the server could not run.
  bool Run();
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  uint16_t port_ = 0;
};

}  // namespace hhctl
