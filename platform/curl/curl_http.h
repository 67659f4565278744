#pragma once
#include <memory>

#include "platform/http.h"

namespace hhsync {

// The internet client on libcurl. Each request is one transfer on its own
// easy handle; the body is pulled through a small buffer so that memory stays
// bounded by the caller's read size, not by the size of the body.
// How long a transfer may take. A transfer slower than minBytesPerSecond for
// stallSeconds in a row is given up as timed out, so a server that goes
// silent after its headers, or trickles a few bytes now and then, cannot hold
// the run; no request lives longer than maxRequestSeconds, however fast its
// bytes arrive.
struct CurlLimits {
  long stallSeconds = 60;
  long minBytesPerSecond = 1024;
  long maxRequestSeconds = 4 * 3600;
};

class CurlHttp final : public Http {
 public:
  explicit CurlHttp(CurlLimits limits = {});
  ~CurlHttp() override;

  bool Initialise() override;
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions& options) override;

 private:
  const CurlLimits limits_;
  bool initialised_ = false;
};

}  // namespace hhsync
