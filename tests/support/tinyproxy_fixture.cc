#include "support/tinyproxy_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/reference_server_fixture.h"

namespace hhsync::test {
namespace {

namespace fs = std::filesystem;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A port of 127.0.0.1 that nothing listens on right now.
uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr = Loopback(0);
  uint16_t port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

bool TinyproxyProcess::Available() { return ::access(kBinary, X_OK) == 0; }

TinyproxyProcess::TinyproxyProcess(std::string user, std::string password)
    : user_(std::move(user)),
      password_(std::move(password)),
      dir_(MakeFixtureDir("hhsync_proxy_")) {}

TinyproxyProcess::~TinyproxyProcess() {
  Stop();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

bool TinyproxyProcess::Start(std::string* error) {
  if (pid_ > 0) return true;
  // The free port may be taken by someone else before tinyproxy binds it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (StartOnce(error)) return true;
  }
  return false;
}

bool TinyproxyProcess::StartOnce(std::string* error) {
  port_ = FreePort();
  if (port_ == 0) {
    if (error) *error = "no free port";
    return false;
  }
  std::string config = dir_ + "/tinyproxy.conf";
  {
    std::ofstream out(config, std::ios::trunc);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 30\n"
        << "MaxClients 20\n"
        << "Allow 127.0.0.1\n"
        << "BasicAuth " << user_ << " " << password_ << "\n"
        << "LogLevel Error\n"
        << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
        << "PidFile \"" << dir_ << "/tinyproxy.pid\"\n";
  }
  std::string output = dir_ + "/tinyproxy.out";
  pid_ = SpawnChild({kBinary, "-d", "-c", config}, output, error);
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port_)) return true;
    if (!ChildAlive(pid_)) {
      pid_ = -1;
      if (error) *error = "tinyproxy ended: " + ReadAll(output) + ReadAll(dir_ + "/tinyproxy.log");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  if (error) *error = "tinyproxy did not accept connections within 10 s";
  return false;
}

void TinyproxyProcess::Stop() { EndChild(&pid_); }

}  // namespace hhsync::test
