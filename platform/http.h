#pragma once
// The internet client: sessions (direct or through a proxy), requests with a
// verb, headers and a body, the status code, and the body read in
// caller-sized reads. A read returns the full size asked for unless the body
// has ended, whatever sizes the network delivers, so byte-exact reading rules
// hold. Transport failures are values with the internet client's error codes.
//
// Thread safety: a session and its requests are used by one thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hhsync {

// Error codes of transport failures.
namespace http_error {
inline constexpr int kTimeout = 12002;
inline constexpr int kNameNotResolved = 12007;
inline constexpr int kCannotConnect = 12029;
inline constexpr int kConnectionAborted = 12030;
inline constexpr int kConnectionReset = 12031;
inline constexpr int kInvalidUrl = 12005;
}  // namespace http_error

struct HttpError {
  int code = 0;
  std::string message;
};

struct HttpSessionOptions {
  bool viaProxy = false;
  std::string proxy;              // "host:port" when viaProxy
  std::string agent;              // User-Agent of the session; empty: the client's own
  uint32_t connectTimeoutMs = 0;  // 0: the adapter's default
  uint32_t connectRetries = 0;
};

class HttpRequest {
 public:
  HttpRequest() = default;
  virtual ~HttpRequest() = default;
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Adds a CR LF separated block of headers; a header already present is not
  // added again.
  virtual void AddHeaders(const std::string& headers) = 0;
  // Proxy credentials to send with the next Send (after a 407).
  virtual void SetProxyCredentials(const std::string& user, const std::string& password) = 0;
  // Sends the request with the body (may be empty) and reads the status line
  // and headers. False with *error filled on a transport failure.
  virtual bool Send(const std::string& body, HttpError* error) = 0;
  virtual int StatusCode() const = 0;
  // Reads up to size bytes of the body. Returns size unless the body ended
  // (fewer, 0 at the end); -1 with *error filled on a transport failure.
  virtual long long Read(void* buffer, std::size_t size, HttpError* error) = 0;
};

class HttpSession {
 public:
  HttpSession() = default;
  virtual ~HttpSession() = default;
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // A request for object (path and query) on host:port, protocol version
  // "HTTP/1.0" or "HTTP/1.1". Nothing is sent yet. Never null: a request
  // that could not be opened fails its Send with the reason.
  virtual std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                                   uint16_t port, const std::string& object,
                                                   const std::string& version) = 0;
};

class Http {
 public:
  Http() = default;
  virtual ~Http() = default;
  Http(const Http&) = delete;
  Http& operator=(const Http&) = delete;

  // Starts the platform's socket support; false when it cannot.
  virtual bool Initialise() = 0;
  // Never null: a session that could not be opened gives requests that
  // fail their Send with the reason.
  virtual std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions& options) = 0;
};

}  // namespace hhsync
