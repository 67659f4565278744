#include "reference_server.h"

// The installed httplib is built with these; its types must be seen the same
// way here.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#ifndef CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#endif
#ifndef CPPHTTPLIB_BROTLI_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#endif
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <utility>

namespace hhctl {
namespace {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// The number a companion file holds, or nothing when it is absent or holds
// no number.
std::optional<unsigned long> ReadNumberFile(const std::string& path) {
  auto text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  std::size_t begin = text->find_first_of("0123456789");
  if (begin == std::string::npos) return std::nullopt;
  return std::strtoul(text->c_str() + begin, nullptr, 10);
}

// A name taken from the request that is used as one path component.
bool SafeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// httplib adds the peer's and its own address to the request headers; they
// were not sent by the client.
bool AddedByServer(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

std::string ContentTypeFor(const std::string& path) {
  return EndsWith(path, ".txt") ? "text/plain" : "application/octet-stream";
}

}  // namespace

class ReferenceServer::Impl {
 public:
  explicit Impl(Options options) : options_(std::move(options)) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
      Handle(req, res);
    };
    server_.Get(".*", handler);
    server_.Post(".*", handler);
    server_.Put(".*", handler);
    server_.Patch(".*", handler);
    server_.Delete(".*", handler);
    server_.Options(".*", handler);
    server_.set_keep_alive_timeout(2);
  }

  httplib::Server server_;

 private:
  void Handle(const httplib::Request& req, httplib::Response& res) {
    Log(req);
    static const std::regex kData(R"(^.*/update/data/([^/]+)/([^/]+\.edm)$)");
    std::smatch m;
    std::string file;
    if (req.method == "GET" && EndsWith(req.path, "/update/profile")) {
      file = "profile.txt";
    } else if (req.method == "GET" && EndsWith(req.path, "/update/resource")) {
      if (!req.has_param("rid")) {
        file = "resources.txt";
      } else if (SafeComponent(req.get_param_value("rid"))) {
        file = "resources/" + req.get_param_value("rid");
      }
    } else if (req.method == "GET" && std::regex_match(req.path, m, kData)) {
      if (SafeComponent(m[1].str()) && SafeComponent(m[2].str())) {
        file = "data/" + m[1].str() + "/" + m[2].str();
      }
    } else if (req.method == "POST" && EndsWith(req.path, "/update/keep")) {
      AnswerKeep(req, res);
      return;
    }
    if (file.empty()) {
      NotFound(res);
      return;
    }
    std::string path = options_.root + "/" + file;
    auto body = ReadWholeFile(path);
    if (!body) {
      NotFound(res);
      return;
    }
    Answer(path, std::move(*body), res);
  }

  void AnswerKeep(const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::ofstream out(options_.root + "/keep-received.txt", std::ios::binary | std::ios::app);
      out << req.body << '\n';
    }
    std::string path = options_.root + "/keep-reply.txt";
    Answer(path, ReadWholeFile(path).value_or("OK\n"), res);
  }

  // Answers the body of file path, as its companions say.
  void Answer(const std::string& path, std::string body, httplib::Response& res) {
    if (auto delay = ReadNumberFile(path + ".delay")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(*delay));
    }
    res.status = static_cast<int>(ReadNumberFile(path + ".status").value_or(200));
    auto cut = ReadNumberFile(path + ".cut");
    if (!cut || *cut >= body.size()) {
      res.set_content(body, ContentTypeFor(path));
      return;
    }
    // Announce the whole body, send the bytes before the cut, then fail the
    // provider so that the connection is closed mid-body.
    auto shared = std::make_shared<const std::string>(std::move(body));
    std::size_t limit = *cut;
    res.set_content_provider(
        shared->size(), ContentTypeFor(path),
        [shared, limit](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          if (offset >= limit) return false;
          std::size_t n = std::min(length, limit - offset);
          return sink.write(shared->data() + offset, n);
        });
  }

  static void NotFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("not found\n", "text/plain");
  }

  void Log(const httplib::Request& req) {
    if (options_.logPath.empty()) return;
    std::string rawPath = req.target;
    std::string rawQuery;
    std::size_t question = rawPath.find('?');
    if (question != std::string::npos) {
      rawQuery = rawPath.substr(question + 1);
      rawPath.resize(question);
    }
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : req.headers) {
      if (AddedByServer(name)) continue;
      // A repeated header is kept as one value, as HTTP allows.
      if (headers.contains(name)) {
        headers[name] = headers[name].get<std::string>() + ", " + value;
      } else {
        headers[name] = value;
      }
    }
    nlohmann::json line = {{"method", req.method},   {"path", rawPath},    {"query", rawQuery},
                           {"version", req.version}, {"headers", headers}, {"body", req.body}};
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::lock_guard<std::mutex> lock(mutex_);
    std::ofstream out(options_.logPath, std::ios::binary | std::ios::app);
    out << text << '\n';
  }

  const Options options_;
  std::mutex mutex_;  // guards the files the server appends to
};

ReferenceServer::ReferenceServer(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

ReferenceServer::~ReferenceServer() { Stop(); }

bool ReferenceServer::Bind(uint16_t port, std::string* error) {
  int bound = -1;
  if (port == 0) {
    bound = impl_->server_.bind_to_any_port("127.0.0.1");
  } else if (impl_->server_.bind_to_port("127.0.0.1", port)) {
    bound = port;
  }
  if (bound <= 0) {
    if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    return false;
  }
  port_ = static_cast<uint16_t>(bound);
  return true;
}

bool ReferenceServer::Run() { return impl_->server_.listen_after_bind(); }

void ReferenceServer::Stop() { impl_->server_.stop(); }

}  // namespace hhctl
