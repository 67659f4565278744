#pragma once
// An in-memory internet client for tests and benchmarks: replies are served
// from a table keyed by the request's object (path and query, or a prefix of
// it), and every request is recorded. A reply may be cut by a transfer error
// after a number of body bytes.

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/http.h"

namespace hhsync::test {

struct MemoryReply {
  int status = 200;
  std::string body;
  // A transfer error after this many body bytes (-1: none); with 0 and
  // failSend the error comes from Send itself.
  long long failAfter = -1;
  bool failSend = false;
};

struct MemoryRequestRecord {
  std::string verb;
  std::string host;
  uint16_t port = 0;
  std::string object;
  std::string version;
  std::string headers;
  HttpSessionOptions options;
};

// A body served from memory: reads return the size asked for unless the body
// ended, like the Http port promises.
class MemoryBody : public HttpRequest {
 public:
  explicit MemoryBody(std::shared_ptr<const MemoryReply> reply) : reply_(std::move(reply)) {}

  void AddHeaders(const std::string& headers) override { headers_ += headers; }
  void SetProxyCredentials(const std::string&, const std::string&) override {}
  bool Send(const std::string&, HttpError* error) override {
    if (reply_->failSend) {
      error->code = http_error::kConnectionReset;
      error->message = "The connection with the server was reset";
      return false;
    }
    return true;
  }
  int StatusCode() const override { return reply_->status; }
  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    std::size_t end = reply_->body.size();
    if (reply_->failAfter >= 0) {
      end = std::min(end, static_cast<std::size_t>(reply_->failAfter));
      if (offset_ + size > end) {
        error->code = http_error::kConnectionAborted;
        error->message = "The connection with the server was terminated abnormally";
        return -1;
      }
    }
    std::size_t n = std::min(size, end - offset_);
    if (n > 0) std::memcpy(buffer, reply_->body.data() + offset_, n);
    offset_ += n;
    ++reads_;
    return static_cast<long long>(n);
  }

  const std::string& headers() const { return headers_; }
  int reads() const { return reads_; }

 private:
  std::shared_ptr<const MemoryReply> reply_;
  std::size_t offset_ = 0;
  std::string headers_;
  int reads_ = 0;
};

class MemoryHttp final : public Http {
 public:
  // Serves reply for every object that starts with prefix (the longest
  // matching prefix wins); anything else answers 404.
  void Serve(const std::string& prefix, MemoryReply reply) {
    replies_[prefix] = std::make_shared<const MemoryReply>(std::move(reply));
  }
  void Serve(const std::string& prefix, const std::string& body) {
    MemoryReply reply;
    reply.body = body;
    Serve(prefix, std::move(reply));
  }
  void Clear() { replies_.clear(); }

  const std::deque<MemoryRequestRecord>& requests() const { return requests_; }
  int sessions() const { return sessions_; }

  bool Initialise() override { return true; }
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions& options) override {
    ++sessions_;
    return std::make_unique<Session>(*this, options);
  }

 private:
  class Request final : public MemoryBody {
   public:
    Request(std::shared_ptr<const MemoryReply> reply, MemoryRequestRecord* record)
        : MemoryBody(std::move(reply)), record_(record) {}
    void AddHeaders(const std::string& headers) override {
      MemoryBody::AddHeaders(headers);
      record_->headers += headers;
    }

   private:
    MemoryRequestRecord* record_;
  };

  class Session final : public HttpSession {
   public:
    Session(MemoryHttp& http, HttpSessionOptions options) : http_(http), options_(options) {}
    std::unique_ptr<HttpRequest> OpenRequest(const std::string& verb, const std::string& host,
                                             uint16_t port, const std::string& object,
                                             const std::string& version) override {
      http_.requests_.push_back({verb, host, port, object, version, "", options_});
      return std::make_unique<Request>(http_.Find(object), &http_.requests_.back());
    }

   private:
    MemoryHttp& http_;
    HttpSessionOptions options_;
  };

  std::shared_ptr<const MemoryReply> Find(const std::string& object) const {
    std::shared_ptr<const MemoryReply> best;
    std::size_t bestLength = 0;
    for (const auto& [prefix, reply] : replies_) {
      if (object.compare(0, prefix.size(), prefix) == 0 && (!best || prefix.size() >= bestLength)) {
        best = reply;
        bestLength = prefix.size();
      }
    }
    if (best) return best;
    MemoryReply missing;
    missing.status = 404;
    return std::make_shared<const MemoryReply>(std::move(missing));
  }

  std::map<std::string, std::shared_ptr<const MemoryReply>> replies_;
  std::deque<MemoryRequestRecord> requests_;  // stable addresses for the requests
  int sessions_ = 0;
};

}  // namespace hhsync::test
