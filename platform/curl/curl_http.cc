#include "platform/curl/curl_http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"

namespace hhsync {
namespace {

// A failure curl reports that has no closer match among the transport codes.
constexpr int kInternalError = 12004;

// How much received body the request holds before it pauses the transfer.
// One curl write delivers at most CURL_MAX_WRITE_SIZE (16 KiB) more, so the
// buffer never holds much more than this.
constexpr std::size_t kBufferHighWater = 32 * 1024;

int ErrorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      return http_error::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return http_error::kTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return http_error::kNameNotResolved;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_BAD_CONTENT_ENCODING:
      return http_error::kConnectionAborted;
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return http_error::kConnectionReset;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return http_error::kInvalidUrl;
    default:
      return kInternalError;
  }
}

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// The lower-case name of a "Name: value" header line; empty when it has none.
std::string HeaderName(const std::string& line) {
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return {};
  return AsciiLower(Trim(line.substr(0, colon)));
}

class CurlRequest final : public HttpRequest {
 public:
  // url names only the server ("http://host:port/"); target is the request
  // target that goes on the request line exactly as given.
  CurlRequest(const HttpSessionOptions& options, const CurlLimits& limits, std::string verb,
              std::string url, std::string target, std::string version)
      : options_(options),
        limits_(limits),
        verb_(std::move(verb)),
        url_(std::move(url)),
        target_(std::move(target)),
        version_(std::move(version)) {}

  ~CurlRequest() override { Reset(); }

  void AddHeaders(const std::string& headers) override {
    std::size_t pos = 0;
    while (pos < headers.size()) {
      std::size_t end = headers.find('\n', pos);
      if (end == std::string::npos) end = headers.size();
      std::string line = headers.substr(pos, end - pos);
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string name = HeaderName(line);
      if (name.empty()) continue;
      bool present = std::any_of(headers_.begin(), headers_.end(),
                                 [&](const std::string& h) { return HeaderName(h) == name; });
      if (!present) headers_.push_back(line);
    }
  }

  void SetProxyCredentials(const std::string& user, const std::string& password) override {
    proxyUser_ = user;
    proxyPassword_ = password;
    haveProxyCredentials_ = true;
  }

  bool Send(const std::string& body, HttpError* error) override {
    body_ = body;
    for (uint32_t attempt = 0;; ++attempt) {
      if (!Start(error)) return false;
      while (!headersDone_ && !done_) {
        if (!Pump(error)) return false;
      }
      if (headersDone_) return true;
      // The transfer ended before the blank line that closes the header: a
      // server that closed the connection inside it (curl may call that a
      // success) sent a broken reply, never a reply without a body.
      if (result_ == CURLE_OK) {
        if (error) {
          *error = HttpError{http_error::kConnectionAborted,
                             "the connection closed before the end of the reply's header"};
        }
        return false;
      }
      if (attempt < options_.connectRetries && NeverConnected()) continue;
      Fail(result_, error);
      return false;
    }
  }

  int StatusCode() const override { return status_; }

  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    if (easy_ == nullptr || !headersDone_) {
      if (error) *error = HttpError{kInternalError, "request not sent"};
      return -1;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t copied = 0;
    while (copied < size) {
      std::size_t available = buffer_.size() - bufferPos_;
      if (available > 0) {
        std::size_t n = std::min(available, size - copied);
        std::memcpy(out + copied, buffer_.data() + bufferPos_, n);
        bufferPos_ += n;
        copied += n;
        if (bufferPos_ == buffer_.size()) {
          buffer_.clear();
          bufferPos_ = 0;
        }
        continue;
      }
      if (done_) {
        if (result_ != CURLE_OK) {
          // The body did not arrive whole: a short read would claim it ended.
          Fail(result_, error);
          return -1;
        }
        break;
      }
      if (paused_) {
        paused_ = false;
        // Unpausing may deliver the held-back data through WriteBody at once.
        CURLcode rc = curl_easy_pause(easy_, CURLPAUSE_CONT);
        if (rc != CURLE_OK) {
          Fail(rc, error);
          return -1;
        }
        continue;
      }
      if (!Pump(error)) return -1;
    }
    return static_cast<long long>(copied);
  }

 private:
  // Releases the transfer of an earlier Send, if any.
  void Reset() {
    if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (headerList_ != nullptr) curl_slist_free_all(headerList_);
    easy_ = nullptr;
    multi_ = nullptr;
    headerList_ = nullptr;
    buffer_.clear();
    bufferPos_ = 0;
    headersDone_ = false;
    done_ = false;
    paused_ = false;
    result_ = CURLE_OK;
    status_ = 0;
    lastStatus_ = 0;
    errorText_[0] = '\0';
  }

  bool HasHeader(const std::string& lowerName) const {
    return std::any_of(headers_.begin(), headers_.end(),
                       [&](const std::string& h) { return HeaderName(h) == lowerName; });
  }

  // Where the request goes and how: its target byte for byte, HTTP version,
  // limits, proxy and its credentials.
  void SetTransport() {
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    // The target goes out byte for byte: curl's own URL parser would refuse
    // blanks and take "#" for the start of a fragment.
    curl_easy_setopt(easy_, CURLOPT_REQUEST_TARGET, target_.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION,
                     version_ == "HTTP/1.0" ? static_cast<long>(CURL_HTTP_VERSION_1_0)
                                            : static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Only plain HTTP is spoken, and redirects are the caller's business.
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, limits_.minBytesPerSecond);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, limits_.stallSeconds);
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT, limits_.maxRequestSeconds);
    if (options_.connectTimeoutMs != 0) {
      curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(options_.connectTimeoutMs));
    }
    if (options_.viaProxy) {
      curl_easy_setopt(easy_, CURLOPT_PROXY, options_.proxy.c_str());
      curl_easy_setopt(easy_, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    } else {
      // A direct session goes direct, whatever proxy the environment names.
      curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    }
    // Credentials given after a refusal replace any added credentials header.
    if (haveProxyCredentials_) {
      curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
      curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }
    if (!options_.agent.empty() && !HasHeader("user-agent")) {
      curl_easy_setopt(easy_, CURLOPT_USERAGENT, options_.agent.c_str());
    }
  }

  // The caller's headers, and none of curl's own.
  void SetHeaders() {
    for (const auto& h : headers_) {
      if (haveProxyCredentials_ && HeaderName(h) == "proxy-authorization") continue;
      headerList_ = curl_slist_append(headerList_, h.c_str());
    }
    // No "Accept: */*" of curl's own when the caller gave none, and never an
    // "Expect: 100-continue" round trip.
    if (!HasHeader("accept")) headerList_ = curl_slist_append(headerList_, "Accept:");
    if (!HasHeader("expect")) headerList_ = curl_slist_append(headerList_, "Expect:");
    // Nor the keep-alive request curl adds for a proxy: only the caller's
    // header blocks go out.
    if (!HasHeader("proxy-connection")) {
      headerList_ = curl_slist_append(headerList_, "Proxy-Connection:");
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    // Headers for a plain proxy request go to the proxy as they are.
    curl_easy_setopt(easy_, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_UNIFIED));
  }

  void SetVerb() {
    if (verb_ == "GET") {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (verb_ == "HEAD") {
      curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
      if (verb_ != "POST") curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }
    if (verb_ != "GET" && verb_ != "HEAD" && (verb_ == "POST" || !body_.empty())) {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.data());
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    }
  }

  bool Start(HttpError* error) {
    Reset();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      if (error) *error = HttpError{kInternalError, "cannot create a transfer"};
      return false;
    }
    // Bytes that would end the request line cannot go out as they were built.
    if (target_.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
      if (error) *error = HttpError{http_error::kInvalidUrl, "invalid request target"};
      return false;
    }
    SetTransport();
    SetHeaders();
    SetVerb();
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);

    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      if (error) *error = HttpError{kInternalError, "cannot start the transfer"};
      return false;
    }
    return true;
  }

  // Lets curl move the transfer on, waiting for the socket when there is
  // nothing to do. False with *error filled when the multi interface itself
  // fails.
  bool Pump(HttpError* error) {
    const std::size_t unreadBefore = buffer_.size() - bufferPos_;
    const bool headersBefore = headersDone_;
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
        done_ = true;
        result_ = msg->data.result;
      }
    }
    bool progressed = headersDone_ != headersBefore || buffer_.size() - bufferPos_ != unreadBefore;
    if (mc == CURLM_OK && !done_ && !paused_ && !progressed) {
      mc = curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
    if (mc != CURLM_OK) {
      if (error) *error = HttpError{kInternalError, curl_multi_strerror(mc)};
      return false;
    }
    return true;
  }

  bool NeverConnected() const {
    curl_off_t connectTime = 0;
    curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connectTime);
    return result_ == CURLE_COULDNT_CONNECT ||
           (result_ == CURLE_OPERATION_TIMEDOUT && connectTime == 0);
  }

  void Fail(CURLcode code, HttpError* error) const {
    if (error == nullptr) return;
    error->code = ErrorCodeFor(code);
    error->message = errorText_[0] != '\0' ? std::string(errorText_) : curl_easy_strerror(code);
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    std::size_t n = size * count;
    std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
      std::size_t space = line.find(' ');
      request->lastStatus_ = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
    } else if (line == "\r\n" || line == "\n") {
      // The end of one response's headers; an interim 1xx response is
      // followed by the real one.
      if (request->lastStatus_ >= 200) {
        request->status_ = request->lastStatus_;
        request->headersDone_ = true;
      }
    }
    return n;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    std::size_t n = size * count;
    if (request->buffer_.size() - request->bufferPos_ >= kBufferHighWater) {
      request->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (request->bufferPos_ > 0) {
      request->buffer_.erase(0, request->bufferPos_);
      request->bufferPos_ = 0;
    }
    request->buffer_.append(data, n);
    return n;
  }

  const HttpSessionOptions options_;
  const CurlLimits limits_;
  const std::string verb_;
  const std::string url_;
  const std::string target_;
  const std::string version_;
  std::vector<std::string> headers_;
  std::string proxyUser_;
  std::string proxyPassword_;
  bool haveProxyCredentials_ = false;
  std::string body_;

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headerList_ = nullptr;
  char errorText_[CURL_ERROR_SIZE] = {};
  std::string buffer_;  // received body bytes not yet read, from bufferPos_
  std::size_t bufferPos_ = 0;
  bool headersDone_ = false;
  bool done_ = false;
  bool paused_ = false;
  CURLcode result_ = CURLE_OK;
  int status_ = 0;
  int lastStatus_ = 0;
};

class CurlSession final : public HttpSession {
 public:
  CurlSession(const HttpSessionOptions& options, const CurlLimits& limits)
      : options_(options), limits_(limits) {}

  std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                           uint16_t port, const std::string& object,
                                           const std::string& version) override {
    // A literal IPv6 address needs its brackets in a URL.
    std::string server = host;
    if (host.find(':') != std::string::npos && host.front() != '[') server = "[" + host + "]";
    std::string path = object;
    if (path.empty() || path.front() != '/') path.insert(0, "/");
    std::string url = "http://" + server + ":" + std::to_string(port) + "/";
    // A proxy is asked for the whole URL; a server directly for the path.
    std::string target = path;
    if (options_.viaProxy) {
      target = "http://" + server + (port == 80 ? "" : ":" + std::to_string(port)) + path;
    }
    return std::make_unique<CurlRequest>(options_, limits_, verb, std::move(url), std::move(target),
                                         version);
  }

 private:
  const HttpSessionOptions options_;
  const CurlLimits limits_;
};

}  // namespace

CurlHttp::CurlHttp(CurlLimits limits) : limits_(limits) {}

CurlHttp::~CurlHttp() {
  if (initialised_) curl_global_cleanup();
}

bool CurlHttp::Initialise() {
  if (initialised_) return true;
  initialised_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return initialised_;
}

std::unique_ptr<HttpSession> CurlHttp::OpenSession(const HttpSessionOptions& options) {
  return std::make_unique<CurlSession>(options, limits_);
}

}  // namespace hhsync
