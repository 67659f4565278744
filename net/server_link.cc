#include "net/server_link.h"

#include <cstdio>
#include <vector>

#include "base/progress_sink.h"
#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {

namespace {

constexpr const char* kProxyAgent = "Zavrik Session";
constexpr const char* kFormHeaders = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr std::size_t kMaxErrorText = 1024;

void Log(ProgressSink* progress, const std::string& text) {
  if (progress) progress->LogLine(text);
}

std::string Format(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A request that reports itself to the run's recorder when it is released.
// It only passes every call on, counting the body bytes read and keeping
// the status and the first transport error.
class ReportedRequest final : public HttpRequest {
 public:
  ReportedRequest(std::unique_ptr<HttpRequest> request, RunRecorder& recorder, int id)
      : request_(std::move(request)), recorder_(recorder), id_(id) {}
  ~ReportedRequest() override {
    request_.reset();  // the request's own time ends with it
    recorder_.RequestEnded(id_, result_);
  }

  void AddHeaders(const std::string& headers) override { request_->AddHeaders(headers); }
  void SetProxyCredentials(const std::string& user, const std::string& password) override {
    request_->SetProxyCredentials(user, password);
  }
  bool Send(const std::string& body, HttpError* error) override {
    const bool sent = request_->Send(body, error);
    if (sent) {
      result_.status = request_->StatusCode();
    } else {
      Failed(*error);
    }
    return sent;
  }
  int StatusCode() const override { return request_->StatusCode(); }
  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    const long long n = request_->Read(buffer, size, error);
    if (n > 0) result_.bytesReceived += static_cast<uint64_t>(n);
    if (n < 0) Failed(*error);
    return n;
  }

 private:
  void Failed(const HttpError& error) {
    if (result_.errorCode != 0 || !result_.errorText.empty()) return;
    result_.errorCode = error.code;
    result_.errorText = error.message.substr(0, kMaxErrorText);
  }

  std::unique_ptr<HttpRequest> request_;
  RunRecorder& recorder_;
  const int id_;
  RequestResult result_;
};

// A session whose requests report themselves.
class ReportedSession final : public HttpSession {
 public:
  ReportedSession(std::unique_ptr<HttpSession> session, RunRecorder& recorder)
      : session_(std::move(session)), recorder_(recorder) {}

  std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                           uint16_t port, const std::string& object,
                                           const std::string& version) override {
    std::unique_ptr<HttpRequest> request = session_->OpenRequest(verb, host, port, object, version);
    if (!request) return nullptr;
    const std::string url =
        "http://" + host + (port == 80 ? std::string() : ":" + std::to_string(port)) + object;
    const int id = recorder_.RequestStarted(verb, url);
    return std::make_unique<ReportedRequest>(std::move(request), recorder_, id);
  }

 private:
  std::unique_ptr<HttpSession> session_;
  RunRecorder& recorder_;
};

}  // namespace

bool ParseHttpUrl(const std::string& url, ParsedUrl* out) {
  static const std::string kScheme = "http://";
  if (url.size() <= kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kScheme[i]) return false;
  }
  std::size_t hostStart = kScheme.size();
  std::size_t objectStart = url.find_first_of("/?", hostStart);
  std::string authority = url.substr(hostStart, objectStart - hostStart);
  if (auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  ParsedUrl parsed;
  std::string port;
  if (!authority.empty() && authority.front() == '[') {
    // A literal IPv6 address: the port, if any, follows the bracket.
    std::size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    std::string rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    if (!rest.empty()) port = rest.substr(1);
    authority.resize(close + 1);
  } else if (std::size_t colon = authority.rfind(':'); colon != std::string::npos) {
    port = authority.substr(colon + 1);
    authority.resize(colon);
  }
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long p = std::stoul(port);
    if (p == 0 || p > 65535) return false;
    parsed.port = static_cast<uint16_t>(p);
  }
  if (authority.empty()) return false;
  parsed.host = authority;
  if (objectStart != std::string::npos) {
    parsed.object = url.substr(objectStart);
    if (parsed.object[0] == '?') parsed.object.insert(0, "/");
  }
  *out = parsed;
  return true;
}

std::unique_ptr<HttpSession> ServerLink::OpenSession(uint32_t connectTimeoutMs,
                                                     uint32_t connectRetries) {
  HttpSessionOptions options;
  options.connectTimeoutMs = connectTimeoutMs;
  options.connectRetries = connectRetries;
  if (proxy_.useProxy) {
    options.viaProxy = true;
    options.proxy = proxy_.proxy;
    options.agent = kProxyAgent;
  }
  std::unique_ptr<HttpSession> session = http_.OpenSession(options);
  if (!session) return nullptr;
  return std::make_unique<ReportedSession>(std::move(session), recorder_);
}

void ServerLink::AddStandardHeaders(HttpRequest& request) {
  request.AddHeaders(proxy_.useProxy ? proxy_.headers : kStandardHeaders);
}

std::unique_ptr<HttpRequest> ServerLink::OpenGet(HttpSession& session, const std::string& url,
                                                 bool* invalidUrl, HttpError* error) {
  ParsedUrl parsed;
  if (!ParseHttpUrl(url, &parsed)) {
    *invalidUrl = true;
    return nullptr;
  }
  auto request = session.OpenRequest("GET", parsed.host, parsed.port, parsed.object, "HTTP/1.0");
  AddStandardHeaders(*request);
  if (!request->Send("", error)) return nullptr;
  return request;
}

std::string ServerLink::FetchTextOnce(const std::string& url, ProgressSink* progress) {
  auto session = OpenSession(kConnectTimeoutMs, kConnectRetries);
  ParsedUrl parsed;
  if (!ParseHttpUrl(url, &parsed)) {
    Log(progress, url + ":invalid url");
    lastFailure_ = "not an http:// URL";
    return "";
  }
  std::string user, password;
  bool haveCredentials = false;
  for (;;) {
    auto request = session->OpenRequest("GET", parsed.host, parsed.port, parsed.object, "HTTP/1.0");
    AddStandardHeaders(*request);
    if (haveCredentials) request->SetProxyCredentials(user, password);
    HttpError error;
    if (!request->Send("", &error)) {
      Log(progress,
          "Error:  " + std::to_string(error.code) + " " + error.message.substr(0, kMaxErrorText));
      lastFailure_ = error.message.substr(0, kMaxErrorText);
      return "";
    }
    int status = request->StatusCode();
    if (status == 200) {
      std::string text;
      std::vector<char> chunk(kTextChunk + 1);
      uint64_t received = 0;
      for (;;) {
        std::fill(chunk.begin(), chunk.end(), '\0');
        long long n = request->Read(chunk.data(), kTextChunk, &error);
        if (n > 0 && (received += static_cast<uint64_t>(n)) > kMaxTextReplyBytes) {
          error = ReplyTooLong(kMaxTextReplyBytes);
          n = -1;
        }
        if (n < 0) {
          Log(progress, "Error:  " + std::to_string(error.code) + " " +
                            error.message.substr(0, kMaxErrorText));
          lastFailure_ = error.message.substr(0, kMaxErrorText);
          return "";
        }
        if (n == 0) break;
        text.append(chunk.data());  // up to the chunk's first zero byte
      }
      lastFailure_ = text.empty() ? "the reply was empty" : "";
      return text;
    }
    if (status == kStatusProxyAuthRequired) {
      int answer = prompter_.AskProxyCredentials(&user, &password);
      if (answer == kErrorInternetForceRetry) {
        haveCredentials = true;
        continue;
      }
      Log(progress, Format("proxy return code=%d", answer));
      lastFailure_ = "the proxy asked for credentials that were not given";
    } else {
      Log(progress, Format("error return code=%d", status));
      lastFailure_ = "HTTP status " + std::to_string(status);
    }
    DisableProxy();
    return "";
  }
}

std::string ServerLink::FetchText(const std::string& url, ProgressSink* progress) {
  std::string text = FetchTextOnce(url, progress);
  if (text.empty() && useProxy()) {
    DisableProxy();
    text = FetchTextOnce(url, progress);
  }
  return text;
}

std::size_t ServerLink::FetchIntoBuffer(const std::string& url, uint8_t* buffer,
                                        std::size_t capacity) {
  auto session = OpenSession(kConnectTimeoutMs, kConnectRetries);
  bool invalid = false;
  HttpError error;
  auto request = OpenGet(*session, url, &invalid, &error);
  if (!request || request->StatusCode() != 200) return 0;
  long long n = request->Read(buffer, capacity, &error);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool ServerLink::FetchIntoFile(OutputFile& file, const std::string& url, uint64_t* bytesWritten) {
  auto session = OpenSession(kConnectTimeoutMs, kConnectRetries);
  bool invalid = false;
  HttpError error;
  auto request = OpenGet(*session, url, &invalid, &error);
  if (!request || request->StatusCode() != 200) return false;
  std::vector<char> buffer(kFileChunk);
  uint64_t written = 0;
  uint64_t unused = 0;
  if (bytesWritten == nullptr) bytesWritten = &unused;
  *bytesWritten = 0;
  for (;;) {
    long long n = request->Read(buffer.data(), kFileChunk, &error);
    if (n < 0) return false;
    if (n == 0) return true;
    std::size_t keep = static_cast<std::size_t>(n);
    // A short read is written without its last two bytes.
    if (keep < kFileChunk) keep = keep >= 2 ? keep - 2 : 0;
    if ((written += keep) > kMaxDownloadFileBytes) return false;
    if (keep > 0 && !file.Write(buffer.data(), keep)) return false;
    *bytesWritten = written;
  }
}

std::unique_ptr<HttpRequest> ServerLink::PostForm(HttpSession& session, const ParsedUrl& url,
                                                  const std::string& body, const PostSteps& steps,
                                                  HttpError* error) {
  if (steps.connected) steps.connected();
  std::string user, password;
  bool haveCredentials = false;
  for (;;) {
    auto request = session.OpenRequest("POST", url.host, url.port, url.object, "HTTP/1.0");
    if (steps.requestOpened) steps.requestOpened();
    AddStandardHeaders(*request);
    request->AddHeaders(std::string(kFormHeaders) +
                        "Content-Length: " + std::to_string(body.size()) + "\r\n");
    if (haveCredentials) request->SetProxyCredentials(user, password);
    if (steps.headersAdded) steps.headersAdded();
    if (!request->Send(body, error)) return nullptr;
    if (steps.sent) steps.sent();
    int status = request->StatusCode();
    if (status == 200) return request;
    if (status == kStatusProxyAuthRequired &&
        prompter_.AskProxyCredentials(&user, &password) == kErrorInternetForceRetry) {
      haveCredentials = true;
      continue;
    }
    DisableProxy();
    return nullptr;
  }
}

HttpError ReplyTooLong(std::size_t limit) {
  return HttpError{http_error::kConnectionAborted,
                   "the reply is longer than " + std::to_string(limit) + " bytes"};
}

bool ReadReplyLine(HttpRequest& request, std::size_t maxChars, std::string* line,
                   HttpError* error) {
  line->clear();
  char c;
  bool any = false;
  while (line->size() < maxChars) {
    long long n = request.Read(&c, 1, error);
    if (n < 0) return false;
    if (n == 0) return any;
    any = true;
    if (c == '\n') return true;
    *line += c;
  }
  return true;
}

}  // namespace hhsync
