#pragma once
// The HTTP side of the reference content server (reference_server.h): one
// request read from a socket with deadlines and bounds, the answer's parts,
// the routing of a request target to a file under the root, and the log
// line of a request. Everything here is plain values and functions of one
// connection; the server's threads, faults and gate are reference_server.cc.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hhctl::http {

using Clock = std::chrono::steady_clock;

struct Request {
  std::string method;
  std::string target;
  std::string version;
  std::string head;  // the request line and header lines with the empty line, as received
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed
  std::string body;

  // The values of every header called name (any letter case), in order.
  std::vector<std::string> Values(std::string_view name) const;
};

struct Reply {
  int status = 200;
  std::string contentType = "text/plain";
  std::string body;
  std::optional<std::size_t> cut;      // body bytes sent before the connection is closed
  std::optional<std::size_t> headCut;  // head bytes sent before the connection is closed
  std::chrono::milliseconds stall{0};  // the wait after the bytes sent, before closing
};

// Why a request could not be read; status 0 when the connection is just
// dropped without an answer.
struct ReadFailure {
  int status = 0;
  std::string message;
};

// Bounds on what one request may take.
struct Limits {
  std::chrono::milliseconds readTimeout;
  std::size_t maxHeadBytes;
  std::size_t maxBodyBytes;
};

// One accepted connection's socket (non-blocking), read and written with
// deadlines.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}

  // Appends what arrives to *buffer, waiting until deadline. The count of
  // bytes read; 0 at the end of the stream; -1 on timeout or error.
  long ReadSome(std::string* buffer, Clock::time_point deadline);
  // Sends all bytes unless the peer goes away or stops taking them until
  // deadline.
  bool WriteAll(std::string_view bytes, Clock::time_point deadline);

 private:
  bool Wait(short events, Clock::time_point deadline);

  int fd_;
};

// Reads one request: the head within the read timeout, then a body of
// Content-Length bytes. False with *failure filled when it cannot be had.
bool ReadRequest(Socket& socket, const Limits& limits, Request* req, ReadFailure* failure);

// The file's bytes; nothing when it is not a regular file or cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// The number a companion file holds, or nothing when it is absent or holds
// no number.
std::optional<unsigned long> ReadNumberFile(const std::string& path);

// The decoded value of the first parameter called name of a query.
std::optional<std::string> QueryParam(std::string_view query, std::string_view name);

// A request target's path and query, as sent: before and after the first '?'.
std::pair<std::string_view, std::string_view> SplitTarget(std::string_view target);

// What a request asks for: "keep" for a keep list posted, the file under
// the root that answers it ("profile.txt", "resources/R", ...), or empty
// when nothing does.
std::string RouteTarget(const Request& req);

std::string ContentTypeFor(const std::string& path);
const char* ReasonPhrase(int status);
// Bytes that mean nothing in any of the server's formats: no line starts
// with "OK", zero bytes and high bytes throughout.
std::string Garbage(std::size_t size);
// A short text answer with a status.
Reply TextReply(int status, std::string text);
inline Reply NotFound() { return TextReply(404, "not found\n"); }

// The request as one line of the request log (JSON, no line feed).
std::string LogLine(const Request& req);

}  // namespace hhctl::http
