#include "support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace hhsync::test {

std::vector<std::string> RawRequest::HeaderLines() const {
  std::vector<std::string> lines;
  std::size_t pos = head.find("\r\n");
  while (pos != std::string::npos) {
    pos += 2;
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    lines.push_back(head.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

RawServer::RawServer(Handler handler, bool ipv6) : handler_(std::move(handler)), ipv6_(ipv6) {
  listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return;
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (ipv6) {
    auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
    addr->sin6_family = AF_INET6;
    addr->sin6_addr = in6addr_loopback;
    length = sizeof *addr;
  } else {
    auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *addr;
  }
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    ::close(listener_);
    listener_ = -1;
    return;
  }
  port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

RawServer::~RawServer() {
  stopping_ = true;
  if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> l(mu_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }
  for (auto& worker : workers_) worker.join();
  if (listener_ >= 0) ::close(listener_);
}

std::string RawServer::Url(const std::string& path) const {
  return std::string("http://") + (ipv6_ ? "[::1]" : "127.0.0.1") + ":" + std::to_string(port_) +
         path;
}

std::vector<RawRequest> RawServer::Requests() {
  std::lock_guard<std::mutex> l(mu_);
  return requests_;
}

bool RawServer::Send(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawServer::Answer(int status, const std::string& body) {
  return "HTTP/1.0 " + std::to_string(status) +
         " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

void RawServer::Accept() {
  for (;;) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 100) < 0 || stopping_) return;
    if (!(p.revents & POLLIN)) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) return;
      continue;
    }
    std::lock_guard<std::mutex> l(mu_);
    open_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RawServer::Serve(int fd) {
  RawRequest request;
  std::string data;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  if (headEnd != std::string::npos) {
    request.head = data.substr(0, headEnd + 4);
    std::string lower = request.head;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    std::size_t length = 0;
    if (auto at = lower.find("\r\ncontent-length:"); at != std::string::npos) {
      length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
    }
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < length) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.body.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> l(mu_);
      requests_.push_back(request);
    }
    if (handler_) {
      handler_(fd, request);
    } else {
      Send(fd, Answer(200, ""));
    }
  }
  std::lock_guard<std::mutex> l(mu_);
  open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
  ::close(fd);
}

}  // namespace hhsync::test
