#pragma once
#include "platform/http.h"

namespace hhsync {

// The Http port over WinINet. A session is an InternetOpenA handle: through
// the named proxy when asked (INTERNET_OPEN_TYPE_PROXY), otherwise with the
// user's own settings (INTERNET_OPEN_TYPE_PRECONFIG). Every request bypasses
// the local cache and may reuse an open connection (INTERNET_FLAG_RELOAD,
// INTERNET_FLAG_EXISTING_CONNECT). A request with a body is sent with
// HttpSendRequestExA, the body written, then ended; one without is sent with
// HttpSendRequestA. Failures carry WinINet's error code and its message.
class WinInetHttp final : public Http {
 public:
  ~WinInetHttp() override;
  // Starts Windows Sockets (version 2.2).
  bool Initialise() override;
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions& options) override;

 private:
  bool socketsStarted_ = false;
};

// The WinINet request (an HINTERNET) of this thread that a proxy last
// answered with 407, while that request is open; null otherwise. The front
// end hands it to InternetErrorDlg when it asks for proxy credentials.
void* ProxyRefusedRequest();

}  // namespace hhsync
