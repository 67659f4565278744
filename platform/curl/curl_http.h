#pragma once
#include <memory>

#include "platform/http.h"

namespace hhsync {

// The internet client on libcurl. Each request is one transfer on its own
// easy handle; the body is pulled through a small buffer so that memory stays
// bounded by the caller's read size, not by the size of the body.
class CurlHttp final : public Http {
 public:
  CurlHttp();
  ~CurlHttp() override;

  bool Initialise() override;
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions& options) override;

 private:
  bool initialised_ = false;
};

}  // namespace hhsync
