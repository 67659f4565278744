#include "loopback_server.h"

#include <winsock2.h>
//
#include <ws2tcpip.h>

#include <cstdlib>

namespace hhsync::win32_test {
namespace {

// The value of Content-Length in a request head, 0 without one.
std::size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::strtoul(head.c_str() + at + 17, nullptr, 10);
}

}  // namespace

LoopbackServer::LoopbackServer(std::string reply, std::size_t piece)
    : reply_(std::move(reply)), piece_(piece) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(s, 8);
  int size = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  listener_ = s;
  thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  closesocket(static_cast<SOCKET>(listener_));
  thread_.join();
  WSACleanup();
}

std::vector<std::string> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

void LoopbackServer::Serve() {
  while (!stopping_) {
    SOCKET connection = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (connection == INVALID_SOCKET) return;
    Answer(connection);
  }
}

void LoopbackServer::Answer(uintptr_t handle) {
  SOCKET connection = static_cast<SOCKET>(handle);
  std::string request;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  for (;;) {
    if (headEnd == std::string::npos) headEnd = request.find("\r\n\r\n");
    if (headEnd != std::string::npos &&
        request.size() >= headEnd + 4 + ContentLength(request.substr(0, headEnd + 2))) {
      break;
    }
    const int n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
  }
  const std::size_t piece = piece_ ? piece_ : reply_.size();
  for (std::size_t sent = 0; sent < reply_.size(); sent += piece) {
    const std::size_t n = std::min(piece, reply_.size() - sent);
    if (send(connection, reply_.data() + sent, static_cast<int>(n), 0) <= 0) break;
    if (piece_) Sleep(20);
  }
  shutdown(connection, SD_SEND);
  // Let the client read everything before the socket goes away.
  while (recv(connection, buffer, sizeof buffer, 0) > 0) {
  }
  closesocket(connection);
}

}  // namespace hhsync::win32_test
