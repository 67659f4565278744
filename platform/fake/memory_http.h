#pragma once
// An in-memory internet client for tests, benchmarks and fuzzing: replies are served
// from a table keyed by a prefix of the request's object (the longest
// matching prefix wins; anything else answers 404), and every request is
// recorded unless recording is turned off (a fuzz target feeds millions of
// inputs to one process). A reply may end in a transfer error after a number
// of body bytes, or (status 0) not connect at all.

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/http.h"

namespace hhsync {

struct MemoryReply {
  int status = 200;  // 0: the connection cannot be made
  std::string body;
  long long failAfter = -1;  // a read past this many body bytes fails (-1: none)
};

struct MemoryRequestRecord {
  std::string verb;
  std::string host;
  uint16_t port = 0;
  std::string object;
  std::string version;
  std::string headers;
};

// A reply body read the way the Http port promises: a read returns the size
// asked for unless the body ended.
class MemoryBody : public HttpRequest {
 public:
  explicit MemoryBody(std::shared_ptr<const MemoryReply> reply, std::string* headers = nullptr)
      : reply_(std::move(reply)), headers_(headers) {}

  void AddHeaders(const std::string& headers) override {
    if (headers_) *headers_ += headers;
  }
  void SetProxyCredentials(const std::string&, const std::string&) override {}
  bool Send(const std::string&, HttpError* error) override {
    if (reply_->status != 0) return true;
    *error = {http_error::kCannotConnect, "A connection with the server could not be established"};
    return false;
  }
  int StatusCode() const override { return reply_->status; }
  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    std::size_t end = reply_->body.size();
    if (reply_->failAfter >= 0) {
      end = std::min(end, static_cast<std::size_t>(reply_->failAfter));
      if (offset_ + size > end) {
        *error = {http_error::kConnectionAborted,
                  "The connection with the server was terminated abnormally"};
        return -1;
      }
    }
    std::size_t n = std::min(size, end - offset_);
    if (n > 0) std::memcpy(buffer, reply_->body.data() + offset_, n);
    offset_ += n;
    return static_cast<long long>(n);
  }

 private:
  std::shared_ptr<const MemoryReply> reply_;
  std::string* headers_;
  std::size_t offset_ = 0;
};

class MemoryHttp final : public Http {
 public:
  void Serve(const std::string& prefix, MemoryReply reply) {
    replies_[prefix] = std::make_shared<const MemoryReply>(std::move(reply));
  }
  void Serve(const std::string& prefix, const std::string& body) {
    Serve(prefix, MemoryReply{200, body, -1});
  }

  void SetRecording(bool on) { recording_ = on; }
  const std::deque<MemoryRequestRecord>& requests() const { return requests_; }

  bool Initialise() override { return true; }
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions&) override {
    return std::make_unique<Session>(*this);
  }

 private:
  class Session final : public HttpSession {
   public:
    explicit Session(MemoryHttp& http) : http_(http) {}
    std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                             uint16_t port, const std::string& object,
                                             const std::string& version) override {
      if (!http_.recording_) return std::make_unique<MemoryBody>(http_.Find(object));
      http_.requests_.push_back({verb, host, port, object, version, ""});
      return std::make_unique<MemoryBody>(http_.Find(object), &http_.requests_.back().headers);
    }

   private:
    MemoryHttp& http_;
  };

  std::shared_ptr<const MemoryReply> Find(const std::string& object) const {
    auto best = std::make_shared<const MemoryReply>(MemoryReply{404, "", -1});
    std::size_t bestLength = 0;
    for (const auto& [prefix, reply] : replies_) {
      if (object.starts_with(prefix) && prefix.size() >= bestLength) {
        best = reply;
        bestLength = prefix.size();
      }
    }
    return best;
  }

  std::map<std::string, std::shared_ptr<const MemoryReply>> replies_;
  std::deque<MemoryRequestRecord> requests_;  // stable addresses for the headers
  bool recording_ = true;
};

}  // namespace hhsync
