#include "reference_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "reference_server_http.h"

namespace hhctl {

using http::Clock;
using http::ReadFailure;
using http::Reply;
using http::Request;
using http::Socket;

class ReferenceServer::Impl {
 public:
  explicit Impl(Options options) : options_(std::move(options)) {
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  }

  ~Impl() {
    CloseListener();
    for (int fd : wake_) {
      if (fd >= 0) ::close(fd);
    }
  }

  bool Bind(uint16_t port, uint16_t* bound, std::string* error) {
    CloseListener();
    auto fail = [&](const char* what) {
      if (error) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + what + ": " +
                 std::strerror(errno);
      }
      CloseListener();
      return false;
    };
    if (wake_[0] < 0) return fail("pipe");
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return fail("socket");
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return fail("bind");
    }
    if (::listen(listenFd_, SOMAXCONN) != 0) return fail("listen");
    socklen_t len = sizeof addr;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return fail("getsockname");
    }
    *bound = ntohs(addr.sin_port);
    return true;
  }

  bool Run() {
    if (listenFd_ < 0) return false;
    bool ok = true;  // false when the server ends without being stopped
    for (;;) {
      ReapFinished();
      pollfd fds[2] = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
      int rc = ::poll(fds, 2, -1);
      if (rc < 0 && errno != EINTR) {
        ok = false;
        break;
      }
      if (fds[0].revents != 0 || Stopping()) break;
      if (fds[1].revents == 0) continue;
      // A connection beyond the cap waits in the listen queue.
      {
        std::unique_lock<std::mutex> lock(connMutex_);
        connChanged_.wait(lock, [&] { return stopping_ || active_ < options_.maxConnections; });
        if (stopping_) break;
      }
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        // Out of descriptors: give the connections a moment to end.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        continue;
      }
      std::lock_guard<std::mutex> lock(connMutex_);
      if (stopping_) {
        ::close(fd);
        break;
      }
      Connection& c = connections_.emplace_back();
      c.fd = fd;
      ++active_;
      c.thread = std::thread([this, &c] { Serve(&c); });
    }
    // Cut off the connections still open and wait for their threads.
    {
      std::lock_guard<std::mutex> lock(connMutex_);
      stopping_ = true;
      for (auto& c : connections_) {
        if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
      }
    }
    connChanged_.notify_all();
    for (auto& c : connections_) c.thread.join();
    connections_.clear();
    CloseListener();
    return ok;
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(connMutex_);
      stopping_ = true;
      for (auto& c : connections_) {
        if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
      }
    }
    connChanged_.notify_all();
    ReleaseGate();
    // The byte stays in the pipe, so every later poll of Run sees it too.
    if (wake_[1] >= 0) {
      char byte = 1;
      ssize_t ignored = ::write(wake_[1], &byte, 1);
      (void)ignored;
    }
  }

 private:
  struct Connection {
    int fd = -1;  // -1 once the connection's thread has closed it
    bool done = false;
    std::thread thread;
  };

  bool Stopping() {
    std::lock_guard<std::mutex> lock(connMutex_);
    return stopping_;
  }

  void CloseListener() {
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
  }

  // Joins the threads of the connections that have ended.
  void ReapFinished() {
    std::list<Connection> finished;
    {
      std::lock_guard<std::mutex> lock(connMutex_);
      for (auto it = connections_.begin(); it != connections_.end();) {
        auto next = std::next(it);
        if (it->done) finished.splice(finished.end(), connections_, it);
        it = next;
      }
    }
    for (auto& c : finished) c.thread.join();
  }

  // The thread of one connection: one request, one answer, then close.
  void Serve(Connection* c) {
    Socket socket(c->fd);
    if (Exchange(socket)) Linger(c->fd);
    std::lock_guard<std::mutex> lock(connMutex_);
    ::close(c->fd);
    c->fd = -1;
    c->done = true;
    --active_;
    connChanged_.notify_all();
  }

  // Reads the request and answers it; false when there was nothing to
  // answer.
  bool Exchange(Socket& socket) {
    Request req;
    ReadFailure failure;
    const http::Limits limits{options_.readTimeout, options_.maxHeadBytes, options_.maxBodyBytes};
    if (!http::ReadRequest(socket, limits, &req, &failure)) {
      if (failure.status == 0) return false;
      Send(socket, req, http::TextReply(failure.status, failure.message + "\n"));
      return true;
    }
    Log(req);
    const std::optional<ReferenceServer::Fault> fault = FaultFor(req);
    Send(socket, req, fault ? Faulty(*fault, req) : Route(req));
    return true;
  }

  // The fault the request meets, if any; counts the request, and holds it
  // while it is behind the gate.
  std::optional<ReferenceServer::Fault> FaultFor(const Request& req) {
    std::unique_lock<std::mutex> lock(faultMutex_);
    const uint32_t nth = ++requestsSeen_;
    gateChanged_.wait(lock, [&] { return gate_ == 0 || nth <= gate_ || Stopping(); });
    for (const ReferenceServer::Fault& f : faults_) {
      if (f.nth == nth) {
        if (f.lasting) lastingTargets_.push_back({req.target, f});
        return f;
      }
    }
    for (const auto& [target, f] : lastingTargets_) {
      if (target == req.target) return f;
    }
    return std::nullopt;
  }

  // The answer a fault gives. A refusal does not act on the request (a
  // keep list it refuses is not received); the others answer what the
  // request asked for, spoiled.
  Reply Faulty(const ReferenceServer::Fault& fault, const Request& req) {
    using Kind = ReferenceServer::Fault::Kind;
    if (fault.kind == Kind::kStatus) {
      return http::TextReply(fault.status, "refused by a fault\n");
    }
    Reply reply = Route(req);
    switch (fault.kind) {
      case Kind::kCutHead:
        reply.headCut = fault.offset;
        break;
      case Kind::kCutBody:
        reply.cut = std::min(fault.offset, reply.body.size());
        break;
      case Kind::kGarbage:
        reply.status = 200;
        reply.body = http::Garbage(reply.body.size());
        reply.cut.reset();
        break;
      case Kind::kStall:
        reply.cut = std::min(fault.offset, reply.body.size());
        reply.stall = fault.stall;
        break;
      case Kind::kStatus:
        break;
    }
    return reply;
  }

  Reply Route(const Request& req) {
    const std::string file = http::RouteTarget(req);
    if (file == "keep") return AnswerKeep(req);
    if (file.empty()) return http::NotFound();
    std::string filePath = options_.root + "/" + file;
    auto body = http::ReadWholeFile(filePath);
    if (!body) return http::NotFound();
    return Answer(filePath, std::move(*body));
  }

  Reply AnswerKeep(const Request& req) {
    {
      std::lock_guard<std::mutex> lock(fileMutex_);
      std::ofstream out(options_.root + "/keep-received.txt", std::ios::binary | std::ios::app);
      out << req.body << '\n';
    }
    std::string path = options_.root + "/keep-reply.txt";
    return Answer(path, http::ReadWholeFile(path).value_or("OK\n"));
  }

  // The answer with the body of file path, as its companions say.
  Reply Answer(const std::string& path, std::string body) {
    if (auto delay = http::ReadNumberFile(path + ".delay")) {
      // Waits unless the server is stopped meanwhile.
      std::unique_lock<std::mutex> lock(connMutex_);
      connChanged_.wait_for(lock, std::chrono::milliseconds(*delay), [&] { return stopping_; });
    }
    Reply reply;
    reply.status = static_cast<int>(http::ReadNumberFile(path + ".status").value_or(200));
    if (reply.status < 100 || reply.status > 999) reply.status = 500;
    reply.contentType = http::ContentTypeFor(path);
    reply.body = std::move(body);
    if (auto cut = http::ReadNumberFile(path + ".cut"); cut && *cut < reply.body.size()) {
      reply.cut = *cut;
    }
    return reply;
  }

  // Writes the answer; a cut one announces the whole body and sends only the
  // bytes before the cut, and the connection is closed after it either way.
  void Send(Socket& socket, const Request& req, const Reply& reply) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       http::ReasonPhrase(reply.status) + "\r\nContent-Type: " + reply.contentType +
                       "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                       "\r\nConnection: close\r\n\r\n";
    std::string_view body = reply.body;
    if (req.method == "HEAD") body = {};
    if (reply.cut) body = body.substr(0, *reply.cut);
    const auto deadline = Clock::now() + options_.readTimeout;
    if (reply.headCut) {
      socket.WriteAll(std::string_view(head).substr(0, *reply.headCut), deadline);
      return;
    }
    if (socket.WriteAll(head, deadline)) socket.WriteAll(body, deadline);
    if (reply.stall.count() > 0) {
      // Waits unless the server is stopped meanwhile.
      std::unique_lock<std::mutex> lock(connMutex_);
      connChanged_.wait_for(lock, reply.stall, [&] { return stopping_; });
    }
  }

  // Ends the sending side and reads what the client still sends, for a
  // short while, so that unread request bytes do not make the system reset
  // the connection before the client has read the answer.
  void Linger(int fd) {
    ::shutdown(fd, SHUT_WR);
    Socket socket(fd);
    const auto deadline = Clock::now() + std::min<std::chrono::milliseconds>(
                                             options_.readTimeout, std::chrono::seconds(1));
    std::size_t drained = 0;
    std::string sink;
    while (drained < 1024 * 1024) {
      sink.clear();
      long n = socket.ReadSome(&sink, deadline);
      if (n <= 0) break;
      drained += static_cast<std::size_t>(n);
    }
  }

  void Log(const Request& req) {
    if (options_.logPath.empty()) return;
    const std::string text = http::LogLine(req);
    std::lock_guard<std::mutex> lock(fileMutex_);
    std::ofstream out(options_.logPath, std::ios::binary | std::ios::app);
    out << text << '\n';
  }

  const Options options_;
  std::mutex fileMutex_;  // guards the files the server appends to

 public:
  void SetFaults(std::vector<ReferenceServer::Fault> faults) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    faults_ = std::move(faults);
    lastingTargets_.clear();
    requestsSeen_ = 0;
    gate_ = 0;
    gateChanged_.notify_all();
  }
  void SetGate(uint32_t nth) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    gate_ = nth;
    gateChanged_.notify_all();
  }
  // Wakes the requests held at the gate, for Stop.
  void ReleaseGate() {
    std::lock_guard<std::mutex> lock(faultMutex_);
    gateChanged_.notify_all();
  }
  uint32_t RequestsSeen() {
    std::lock_guard<std::mutex> lock(faultMutex_);
    return requestsSeen_;
  }

 private:
  std::mutex faultMutex_;  // guards what follows
  std::vector<ReferenceServer::Fault> faults_;
  std::vector<std::pair<std::string, ReferenceServer::Fault>> lastingTargets_;
  uint32_t requestsSeen_ = 0;
  uint32_t gate_ = 0;
  std::condition_variable gateChanged_;

  int listenFd_ = -1;
  int wake_[2] = {-1, -1};  // Stop writes to [1]; Run polls [0]

  std::mutex connMutex_;  // guards what follows
  std::condition_variable connChanged_;
  bool stopping_ = false;
  std::size_t active_ = 0;  // connections whose threads have not ended
  std::list<Connection> connections_;
};

ReferenceServer::ReferenceServer(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

ReferenceServer::~ReferenceServer() { Stop(); }

bool ReferenceServer::Bind(uint16_t port, std::string* error) {
  uint16_t bound = 0;
  if (!impl_->Bind(port, &bound, error)) return false;
  port_ = bound;
  return true;
}

bool ReferenceServer::Run() { return impl_->Run(); }

void ReferenceServer::Stop() { impl_->Stop(); }

void ReferenceServer::SetFaults(std::vector<Fault> faults) { impl_->SetFaults(std::move(faults)); }

void ReferenceServer::SetGate(uint32_t nth) { impl_->SetGate(nth); }

uint32_t ReferenceServer::RequestsSeen() const { return impl_->RequestsSeen(); }

}  // namespace hhctl
