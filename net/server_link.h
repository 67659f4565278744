#pragma once
// The HTTP operations the program talks to the content server with. Each
// fetch opens its own session, connection and request and releases them
// before it returns. Only plain http:// URLs are used; GETs go out as
// HTTP/1.0 with the standard header block (or the proxy header block) and a
// connect time-out of 2000 ms with 2 retries.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/run_report.h"
#include "platform/http.h"

namespace hhsync {

class OutputFile;
class ProgressSink;
class Prompter;

// A URL split into its parts; only plain HTTP is accepted.
struct ParsedUrl {
  std::string host;
  uint16_t port = 80;
  std::string object = "/";  // path and query
};
// Splits an http:// URL; false for any other scheme (https included) or a
// URL without a host.
bool ParseHttpUrl(const std::string& url, ParsedUrl* out);

// The header block every request carries when it goes direct.
inline constexpr const char* kStandardHeaders = "Accept: */*\r\nUser-Agent: Tessary Conduit\r\n";

// How requests reach the server: directly, or through a proxy with a header
// block of its own (the standard headers, proxy credentials, a final CR LF).
struct ProxyConfig {
  bool useProxy = false;
  std::string proxy;    // "host:port"
  std::string headers;  // sent instead of kStandardHeaders through the proxy
};

inline constexpr uint32_t kConnectTimeoutMs = 2000;
inline constexpr uint32_t kConnectRetries = 2;
inline constexpr std::size_t kTextChunk = 1024;
inline constexpr std::size_t kFileChunk = 32000;
inline constexpr int kStatusProxyAuthRequired = 407;
// The largest text reply (profile, resource list) taken into memory: far
// above any real catalogue. A longer reply fails like a cut connection.
inline constexpr std::size_t kMaxTextReplyBytes = std::size_t{512} << 20;
// The largest file a download may write into the program directory.
inline constexpr uint64_t kMaxDownloadFileBytes = uint64_t{4} << 30;

class ServerLink {
 public:
  // Requests go out through http; a proxy that refuses its credentials is
  // answered through prompter. Every request opened on a session of this
  // link, whoever opens it, is reported to recorder when it is released:
  // its method, URL, status, body bytes read and transport error.
  ServerLink(Http& http, Prompter& prompter, ProxyConfig proxy,
             RunRecorder& recorder = NoRunRecorder())
      : http_(http), prompter_(prompter), proxy_(std::move(proxy)), recorder_(recorder) {}

  // Whether requests still go through the proxy. After a failed text fetch
  // or a failed post the proxy is off for the rest of this link's life;
  // nothing is stored.
  bool useProxy() const { return proxy_.useProxy; }
  void DisableProxy() { proxy_.useProxy = false; }

  // A new session: through the proxy (agent "Zavrik Session") while the
  // settings use one, else direct. GET sessions pass kConnectTimeoutMs and
  // kConnectRetries; the form post only the time-out, so that an address
  // that never answers cannot hold the run. Its requests are reported.
  std::unique_ptr<HttpSession> OpenSession(uint32_t connectTimeoutMs = 0,
                                           uint32_t connectRetries = 0);
  // The proxy header block while the proxy is used, else the standard block.
  void AddStandardHeaders(HttpRequest& request);

  // The reply body as text (each 1024-byte read cut at its first zero byte),
  // or empty on any failure. Failures are logged through progress (may be
  // null). When the result is empty while the proxy is on, the proxy is
  // switched off and the URL fetched once more directly.
  std::string FetchText(const std::string& url, ProgressSink* progress);
  std::string FetchTextOnce(const std::string& url, ProgressSink* progress);
  // Why the last text fetch came back empty, in a few words ("HTTP status
  // 404", the transport's error text, "the reply was empty"); empty after
  // one that brought text.
  const std::string& LastFailure() const { return lastFailure_; }
  // One read of at most capacity bytes of the body; 0 on any failure.
  std::size_t FetchIntoBuffer(const std::string& url, uint8_t* buffer, std::size_t capacity);
  // The body written into file in 32000-byte reads; a short read is written
  // without its last two bytes. Silent on failure; true only when the whole
  // body arrived and was written, so that a caller can keep the file it had
  // rather than one cut short. *written (when given) counts the bytes
  // written.
  bool FetchIntoFile(OutputFile& file, const std::string& url, uint64_t* written = nullptr);

  // Steps of a form post that a caller may want to show.
  struct PostSteps {
    std::function<void()> connected;      // the connection is open
    std::function<void()> requestOpened;  // the request is open
    std::function<void()> headersAdded;   // headers are in place
    std::function<void()> sent;           // the body went out
  };
  // Posts a form body as application/x-www-form-urlencoded over an open
  // session. A 407 asks the user for proxy credentials and sends again while
  // the answer is "retry". Returns the request positioned at the reply body
  // when the status is 200; null otherwise: on another status or a refused
  // prompt the proxy is switched off; on a transfer error *error is filled.
  std::unique_ptr<HttpRequest> PostForm(HttpSession& session, const ParsedUrl& url,
                                        const std::string& body, const PostSteps& steps,
                                        HttpError* error);

 private:
  // The common opening of a GET up to the status code. Null when the URL is
  // not plain HTTP (*invalidUrl set) or on a transfer error (*error set).
  std::unique_ptr<HttpRequest> OpenGet(HttpSession& session, const std::string& url,
                                       bool* invalidUrl, HttpError* error);

  Http& http_;
  Prompter& prompter_;
  ProxyConfig proxy_;
  RunRecorder& recorder_;
  std::string lastFailure_;
};

// The error a reply reports when it outgrows what may be read into memory:
// the same as a connection cut off mid-body.
HttpError ReplyTooLong(std::size_t limit);

// Reads one line of a reply (up to and without its line feed; carriage
// returns kept) of at most maxChars characters. False at the end of the body
// or on a transfer error.
bool ReadReplyLine(HttpRequest& request, std::size_t maxChars, std::string* line, HttpError* error);

}  // namespace hhsync
