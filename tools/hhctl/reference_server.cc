#include "reference_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace hhctl {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// The number a companion file holds, or nothing when it is absent or holds
// no number.
std::optional<unsigned long> ReadNumberFile(const std::string& path) {
  auto text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  std::size_t begin = text->find_first_of("0123456789");
  if (begin == std::string::npos) return std::nullopt;
  return std::strtoul(text->c_str() + begin, nullptr, 10);
}

// A name taken from the request that is used as one path component.
bool SafeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
           return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
         });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes; an escape that is not one stays as it is. In a query
// value '+' stands for a blank.
std::string PercentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else if (plusIsBlank && text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

// The decoded value of the first query parameter called name.
std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    std::size_t eq = item.find('=');
    std::string_view key = item.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    if (PercentDecode(key, true) == name) return PercentDecode(value, true);
  }
  return std::nullopt;
}

// A request target's path and query, as sent: before and after the first '?'.
std::pair<std::string_view, std::string_view> SplitTarget(std::string_view target) {
  std::size_t question = target.find('?');
  if (question == std::string_view::npos) return {target, {}};
  return {target.substr(0, question), target.substr(question + 1)};
}

// The path part of a target before '?': as it is in origin form
// ("/a/b"), without scheme and authority in absolute form ("http://h:1/a/b").
std::string_view OriginPath(std::string_view rawPath) {
  std::size_t sep = rawPath.find("://");
  if (rawPath.empty() || rawPath.front() == '/' || sep == std::string_view::npos || sep == 0) {
    return rawPath;
  }
  for (std::size_t i = 0; i < sep; ++i) {
    char c = rawPath[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool schemeChar = letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!(i == 0 ? letter : schemeChar)) return rawPath;
  }
  std::size_t slash = rawPath.find('/', sep + 3);
  return slash == std::string_view::npos ? std::string_view("/") : rawPath.substr(slash);
}

std::string ContentTypeFor(const std::string& path) {
  return EndsWith(path, ".txt") ? "text/plain" : "application/octet-stream";
}

const char* ReasonPhrase(int status) {
  static const std::pair<int, const char*> kPhrases[] = {
      {100, "Continue"},
      {200, "OK"},
      {201, "Created"},
      {204, "No Content"},
      {206, "Partial Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {307, "Temporary Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {411, "Length Required"},
      {413, "Content Too Large"},
      {414, "URI Too Long"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto& [code, phrase] : kPhrases) {
    if (code == status) return phrase;
  }
  return "Status";
}

struct Request {
  std::string method;
  std::string target;
  std::string version;
  std::string head;  // the request line and header lines with the empty line, as received
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed
  std::string body;

  // The values of every header called name (any letter case), in order.
  std::vector<std::string> Values(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [n, v] : headers) {
      if (SameLetters(n, name)) values.push_back(v);
    }
    return values;
  }
};

struct Reply {
  int status = 200;
  std::string contentType = "text/plain";
  std::string body;
  std::optional<std::size_t> cut;      // body bytes sent before the connection is closed
  std::optional<std::size_t> headCut;  // head bytes sent before the connection is closed
  std::chrono::milliseconds stall{0};  // the wait after the bytes sent, before closing
};

// Bytes that mean nothing in any of the server's formats: no line starts
// with "OK", zero bytes and high bytes throughout.
std::string Garbage(std::size_t size) {
  std::string out(std::max<std::size_t>(size, 16), '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>((i * 151 + 7) & 0xFF);
  }
  return out;
}

// A short text answer with a status.
Reply TextReply(int status, std::string text) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(text);
  return reply;
}

Reply NotFound() { return TextReply(404, "not found\n"); }

// Why a request could not be read; status 0 when the connection is just
// dropped without an answer.
struct ReadFailure {
  int status = 0;
  std::string message;
};

// One accepted connection's socket (non-blocking), read and written with
// deadlines.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}

  // Appends what arrives to *buffer, waiting until deadline. The count of
  // bytes read; 0 at the end of the stream; -1 on timeout or error.
  long ReadSome(std::string* buffer, Clock::time_point deadline) {
    char chunk[16 * 1024];
    for (;;) {
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n >= 0) {
        buffer->append(chunk, static_cast<std::size_t>(n));
        return static_cast<long>(n);
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if (!Wait(POLLIN, deadline)) return -1;
    }
  }

  // Sends all bytes unless the peer goes away or stops taking them until
  // deadline.
  bool WriteAll(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n >= 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (!Wait(POLLOUT, deadline)) return false;
    }
    return true;
  }

 private:
  bool Wait(short events, Clock::time_point deadline) {
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, events, 0};
      int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
      if (rc > 0) return true;  // readable, writable, or an error the next call reports
      if (rc < 0 && errno != EINTR) return false;
    }
  }

  int fd_;
};

}  // namespace

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
    if (!ReadRequest(socket, &req, &failure)) {
      if (failure.status == 0) return false;
      Send(socket, req, TextReply(failure.status, failure.message + "\n"));
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
      return TextReply(fault.status, "refused by a fault\n");
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
        reply.body = Garbage(reply.body.size());
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

  // Reads one request: the head within the read timeout, then a body of
  // Content-Length bytes. False with *failure filled when it cannot be had.
  bool ReadRequest(Socket& socket, Request* req, ReadFailure* failure) {
    const auto headDeadline = Clock::now() + options_.readTimeout;
    std::string buffer;
    std::size_t headStart = 0;  // after any empty lines before the request line
    std::size_t lineStart = 0;
    std::size_t headEnd = 0;
    bool haveRequestLine = false;
    while (headEnd == 0) {
      std::size_t newline = buffer.find('\n', lineStart);
      if (newline == std::string::npos) {
        if (buffer.size() > options_.maxHeadBytes) {
          *failure = haveRequestLine ? ReadFailure{431, "request header fields too large"}
                                     : ReadFailure{414, "request line too long"};
          return false;
        }
        long n = socket.ReadSome(&buffer, headDeadline);
        if (n <= 0) {
          // A client that sent nothing, or went away, is not answered.
          if (n < 0 && buffer.size() > headStart) *failure = {408, "request timeout"};
          return false;
        }
        continue;
      }
      if (newline + 1 > options_.maxHeadBytes) {
        *failure = haveRequestLine ? ReadFailure{431, "request header fields too large"}
                                   : ReadFailure{414, "request line too long"};
        return false;
      }
      bool empty = newline == lineStart || (newline == lineStart + 1 && buffer[lineStart] == '\r');
      if (!haveRequestLine && empty) {
        headStart = newline + 1;  // tolerated before the request line, as HTTP allows
      } else if (!haveRequestLine) {
        haveRequestLine = true;
      } else if (empty) {
        headEnd = newline + 1;
      }
      lineStart = newline + 1;
    }
    req->head = buffer.substr(headStart, headEnd - headStart);
    if (!ParseHead(req, failure)) return false;

    std::optional<std::size_t> length;
    if (!BodyLength(*req, &length, failure)) return false;
    std::string rest = buffer.substr(headEnd);
    std::size_t want = length.value_or(0);
    if (rest.size() < want && req->version != "HTTP/1.0") {
      for (const auto& expect : req->Values("Expect")) {
        if (SameLetters(expect, "100-continue")) {
          socket.WriteAll("HTTP/1.1 100 Continue\r\n\r\n", Clock::now() + options_.readTimeout);
          break;
        }
      }
    }
    while (rest.size() < want) {
      long n = socket.ReadSome(&rest, Clock::now() + options_.readTimeout);
      if (n == 0) return false;  // gone before the whole body
      if (n < 0) {
        *failure = {408, "request timeout"};
        return false;
      }
    }
    rest.resize(want);  // whatever follows is not read: the connection ends here
    req->body = std::move(rest);
    return true;
  }

  // Splits the head into the request line's three parts and the headers.
  static bool ParseHead(Request* req, ReadFailure* failure) {
    std::vector<std::string_view> lines;
    std::string_view head = req->head;
    while (!head.empty()) {
      std::size_t newline = head.find('\n');
      std::string_view line = head.substr(0, newline);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines.push_back(line);
      head.remove_prefix(newline + 1);
    }
    // The method runs to the first blank, the version from the last; the
    // target is everything in between, whatever bytes it holds.
    std::string_view line = lines.front();
    std::size_t first = line.find(' ');
    std::size_t last = line.rfind(' ');
    *failure = {400, "bad request line"};
    if (first == std::string_view::npos || first == last || first + 1 == last) return false;
    if (line.find('\r') != std::string_view::npos) return false;
    req->method = line.substr(0, first);
    req->target = line.substr(first + 1, last - first - 1);
    req->version = line.substr(last + 1);
    for (unsigned char c : req->method) {
      if (c <= ' ' || c >= 0x7f) return false;
    }
    if (req->version.rfind("HTTP/", 0) != 0) return false;

    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
      std::string_view header = lines[i];
      if ((header.front() == ' ' || header.front() == '\t') && !req->headers.empty()) {
        // A folded line continues the header before it.
        std::string& value = req->headers.back().second;
        std::string_view more = TrimBlanks(header);
        if (!more.empty()) value += (value.empty() ? "" : " ") + std::string(more);
        continue;
      }
      std::size_t colon = header.find(':');
      if (colon == std::string_view::npos) continue;  // not a header; kept in head only
      req->headers.emplace_back(TrimBlanks(header.substr(0, colon)),
                                TrimBlanks(header.substr(colon + 1)));
    }
    return true;
  }

  // The body's length from Content-Length; none without one. A body sent in
  // chunks is refused rather than read.
  bool BodyLength(const Request& req, std::optional<std::size_t>* length,
                  ReadFailure* failure) const {
    if (!req.Values("Transfer-Encoding").empty()) {
      *failure = {411, "a body needs Content-Length"};
      return false;
    }
    for (const auto& value : req.Values("Content-Length")) {
      // "5, 5" from a repeated header is one length.
      std::string_view list = value;
      while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view item = TrimBlanks(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.empty() || item.find_first_not_of("0123456789") != std::string_view::npos ||
            item.size() > 18) {
          *failure = {400, "bad Content-Length"};
          return false;
        }
        std::size_t n = std::strtoull(std::string(item).c_str(), nullptr, 10);
        if (*length && **length != n) {
          *failure = {400, "conflicting Content-Length"};
          return false;
        }
        *length = n;
      }
    }
    if (*length && **length > options_.maxBodyBytes) {
      *failure = {413, "body too large"};
      return false;
    }
    return true;
  }

  Reply Route(const Request& req) {
    const auto [rawPath, query] = SplitTarget(req.target);
    const std::string path = PercentDecode(OriginPath(rawPath), false);

    std::string file;
    if (req.method == "GET" && EndsWith(path, "/update/profile")) {
      file = "profile.txt";
    } else if (req.method == "GET" && EndsWith(path, "/update/resource")) {
      auto rid = QueryParam(query, "rid");
      if (!rid) {
        file = "resources.txt";
      } else if (SafeComponent(*rid)) {
        file = "resources/" + *rid;
      }
    } else if (req.method == "GET" && EndsWith(path, ".edm")) {
      // .../update/data/ID/VER.edm
      std::size_t verAt = path.rfind('/');
      std::size_t idAt =
          verAt == std::string::npos || verAt == 0 ? std::string::npos : path.rfind('/', verAt - 1);
      if (idAt != std::string::npos && EndsWith(path.substr(0, idAt), "/update/data")) {
        std::string id = path.substr(idAt + 1, verAt - idAt - 1);
        std::string ver = path.substr(verAt + 1);
        if (ver.size() > 4 && SafeComponent(id) && SafeComponent(ver)) {
          file = "data/" + id + "/" + ver;
        }
      }
    } else if (req.method == "POST" && EndsWith(path, "/update/keep")) {
      return AnswerKeep(req);
    }
    if (file.empty()) return NotFound();
    std::string filePath = options_.root + "/" + file;
    auto body = ReadWholeFile(filePath);
    if (!body) return NotFound();
    return Answer(filePath, std::move(*body));
  }

  Reply AnswerKeep(const Request& req) {
    {
      std::lock_guard<std::mutex> lock(fileMutex_);
      std::ofstream out(options_.root + "/keep-received.txt", std::ios::binary | std::ios::app);
      out << req.body << '\n';
    }
    std::string path = options_.root + "/keep-reply.txt";
    return Answer(path, ReadWholeFile(path).value_or("OK\n"));
  }

  // The answer with the body of file path, as its companions say.
  Reply Answer(const std::string& path, std::string body) {
    if (auto delay = ReadNumberFile(path + ".delay")) {
      // Waits unless the server is stopped meanwhile.
      std::unique_lock<std::mutex> lock(connMutex_);
      connChanged_.wait_for(lock, std::chrono::milliseconds(*delay), [&] { return stopping_; });
    }
    Reply reply;
    reply.status = static_cast<int>(ReadNumberFile(path + ".status").value_or(200));
    if (reply.status < 100 || reply.status > 999) reply.status = 500;
    reply.contentType = ContentTypeFor(path);
    reply.body = std::move(body);
    if (auto cut = ReadNumberFile(path + ".cut"); cut && *cut < reply.body.size()) {
      reply.cut = *cut;
    }
    return reply;
  }

  // Writes the answer; a cut one announces the whole body and sends only the
  // bytes before the cut, and the connection is closed after it either way.
  void Send(Socket& socket, const Request& req, const Reply& reply) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       ReasonPhrase(reply.status) + "\r\nContent-Type: " + reply.contentType +
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
    const auto [rawPath, rawQuery] = SplitTarget(req.target);
    // A repeated header is kept as one value, as HTTP allows, under the
    // name as it was first sent.
    nlohmann::json headers = nlohmann::json::object();
    std::vector<std::string> names;
    for (const auto& [name, value] : req.headers) {
      auto known = std::find_if(names.begin(), names.end(),
                                [&](const std::string& n) { return SameLetters(n, name); });
      if (known == names.end()) {
        names.push_back(name);
        headers[name] = value;
      } else {
        headers[*known] = headers[*known].get<std::string>() + ", " + value;
      }
    }
    nlohmann::json line = {
        {"method", req.method},   {"path", std::string(rawPath)}, {"query", std::string(rawQuery)},
        {"version", req.version}, {"headers", headers},           {"body", req.body},
        {"head", req.head}};
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
