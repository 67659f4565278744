#include "platform/win32/wininet_http.h"

#include <winsock2.h>
//
#include <windows.h>
//
#include <wininet.h>

#include <string>

namespace hhsync {
namespace {

// The request of this thread that a proxy refused last (see the header).
thread_local HINTERNET proxyRefused = nullptr;

// Request flags of every request.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT;

// WinINet's message for one of its own codes (or the system's for others).
std::string ErrorText(DWORD code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleA("wininet.dll"), code, 0, reinterpret_cast<char*>(&text),
                           0, nullptr);
  std::string out = n > 0 && text ? std::string(text, n) : "internet error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

void Fill(HttpError* error, DWORD code) {
  if (!error) return;
  error->code = static_cast<int>(code);
  error->message = ErrorText(code);
}

class Handle {
 public:
  explicit Handle(HINTERNET h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) InternetCloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

class WinInetRequest final : public HttpRequest {
 public:
  // Owns the connection the request was opened on and the request itself.
  WinInetRequest(HINTERNET connection, HINTERNET request)
      : connection_(connection), request_(request) {}
  ~WinInetRequest() override {
    if (proxyRefused == request_.get()) proxyRefused = nullptr;
  }

  void AddHeaders(const std::string& headers) override {
    if (headers.empty()) return;
    HttpAddRequestHeadersA(request_.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                           HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  }

  void SetProxyCredentials(const std::string& user, const std::string& password) override {
    InternetSetOptionA(request_.get(), INTERNET_OPTION_PROXY_USERNAME,
                       const_cast<char*>(user.c_str()), static_cast<DWORD>(user.size()));
    InternetSetOptionA(request_.get(), INTERNET_OPTION_PROXY_PASSWORD,
                       const_cast<char*>(password.c_str()), static_cast<DWORD>(password.size()));
  }

  bool Send(const std::string& body, HttpError* error) override {
    status_ = 0;
    if (body.empty()) {
      if (!HttpSendRequestA(request_.get(), nullptr, 0, nullptr, 0)) {
        Fill(error, GetLastError());
        return false;
      }
    } else {
      INTERNET_BUFFERSA buffers{};
      buffers.dwStructSize = sizeof buffers;
      buffers.dwBufferTotal = static_cast<DWORD>(body.size());
      if (!HttpSendRequestExA(request_.get(), &buffers, nullptr, HSR_INITIATE, 1)) {
        Fill(error, GetLastError());
        return false;
      }
      std::size_t sent = 0;
      while (sent < body.size()) {
        DWORD written = 0;
        if (!InternetWriteFile(request_.get(), body.data() + sent,
                               static_cast<DWORD>(body.size() - sent), &written) ||
            written == 0) {
          Fill(error, GetLastError());
          return false;
        }
        sent += written;
      }
      if (!HttpEndRequestA(request_.get(), nullptr, 0, 1)) {
        Fill(error, GetLastError());
        return false;
      }
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
      Fill(error, GetLastError());
      return false;
    }
    status_ = static_cast<int>(status);
    if (status_ == HTTP_STATUS_PROXY_AUTH_REQ) {
      proxyRefused = request_.get();
    } else if (proxyRefused == request_.get()) {
      proxyRefused = nullptr;
    }
    return true;
  }

  int StatusCode() const override { return status_; }

  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    // InternetReadFile may return less than asked before the body ends;
    // keep reading until the caller's size is filled or nothing comes.
    char* out = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < size) {
      DWORD n = 0;
      const DWORD ask = size - got > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size - got);
      if (!InternetReadFile(request_.get(), out + got, ask, &n)) {
        Fill(error, GetLastError());
        return -1;
      }
      if (n == 0) break;
      got += n;
    }
    return static_cast<long long>(got);
  }

 private:
  Handle connection_;
  Handle request_;
  int status_ = 0;
};

// A request that could not be opened: it fails as a transfer error with the
// code the open left, so that no caller meets a null handle.
class FailedRequest final : public HttpRequest {
 public:
  explicit FailedRequest(DWORD code) : code_(code) {}
  void AddHeaders(const std::string&) override {}
  void SetProxyCredentials(const std::string&, const std::string&) override {}
  bool Send(const std::string&, HttpError* error) override {
    Fill(error, code_);
    return false;
  }
  int StatusCode() const override { return 0; }
  long long Read(void*, std::size_t, HttpError* error) override {
    Fill(error, code_);
    return -1;
  }

 private:
  const DWORD code_;
};

// A session that could not be opened: every request of it fails so.
class FailedSession final : public HttpSession {
 public:
  explicit FailedSession(DWORD code) : code_(code) {}
  std::unique_ptr<HttpRequest> OpenRequest(const std::string&, const std::string&, uint16_t,
                                           const std::string&, const std::string&) override {
    return std::make_unique<FailedRequest>(code_);
  }

 private:
  const DWORD code_;
};

class WinInetSession final : public HttpSession {
 public:
  WinInetSession(HINTERNET session, const HttpSessionOptions& options) : session_(session) {
    if (options.connectTimeoutMs) {
      DWORD timeout = options.connectTimeoutMs;
      InternetSetOptionA(session_.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    }
    if (options.connectRetries) {
      DWORD retries = options.connectRetries;
      InternetSetOptionA(session_.get(), INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
    }
  }

  std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                           uint16_t port, const std::string& object,
                                           const std::string& version) override {
    HINTERNET connection = InternetConnectA(session_.get(), host.c_str(), port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 1);
    if (!connection) return std::make_unique<FailedRequest>(GetLastError());
    HINTERNET request = HttpOpenRequestA(connection, verb.c_str(), object.c_str(), version.c_str(),
                                         nullptr, nullptr, kRequestFlags, 1);
    if (!request) {
      const DWORD code = GetLastError();
      InternetCloseHandle(connection);
      return std::make_unique<FailedRequest>(code);
    }
    return std::make_unique<WinInetRequest>(connection, request);
  }

 private:
  Handle session_;
};

}  // namespace

void* ProxyRefusedRequest() { return proxyRefused; }

WinInetHttp::~WinInetHttp() {
  if (socketsStarted_) WSACleanup();
}

bool WinInetHttp::Initialise() {
  if (socketsStarted_) return true;
  WSADATA data;
  socketsStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return socketsStarted_;
}

std::unique_ptr<HttpSession> WinInetHttp::OpenSession(const HttpSessionOptions& options) {
  HINTERNET session =
      options.viaProxy ? InternetOpenA(options.agent.empty() ? nullptr : options.agent.c_str(),
                                       INTERNET_OPEN_TYPE_PROXY, options.proxy.c_str(), nullptr, 0)
                       : InternetOpenA(options.agent.empty() ? nullptr : options.agent.c_str(),
                                       INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) return std::make_unique<FailedSession>(GetLastError());
  return std::make_unique<WinInetSession>(session, options);
}

}  // namespace hhsync
