#include "support/processes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

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
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

bool Accepts(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  ChildProcess child;
  RunResult r;
  if (child.Start(argv, env)) child.Wait(-1, &r);
  return r;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::string* error) {
  return child_.Start(argv, InheritedEnvironment(env, "HHSYNC_"), scratch_.File("out"),
                      scratch_.File("err"), error);
}

bool ChildProcess::Wait(int timeoutMs, RunResult* result) {
  if (!child_.Wait(timeoutMs)) return false;
  result->exitCode = child_.exitCode();
  result->out = test::ReadFile(scratch_.File("out"));
  result->err = test::ReadFile(scratch_.File("err"));
  return true;
}

void ServerProcess::Stop() { process_.Stop(stopSignal_, 5000); }

bool ServerProcess::Launch(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                           std::string* error, const std::string& stdoutPath) {
  const std::string output = dir_.File("output");
  if (!process_.Start(argv, InheritedEnvironment({}, ""), stdoutPath.empty() ? output : stdoutPath,
                      output, error)) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    if (!process_.Running()) {
      if (error) *error = argv[0] + " ended: " + test::ReadFile(output);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  if (error) *error = argv[0] + " did not come up within 10 s: " + test::ReadFile(output);
  return false;
}

ReferenceServerProcess::ReferenceServerProcess() { fs::create_directory(root()); }

void ReferenceServerProcess::WriteFile(const std::string& relative,
                                       const std::string& bytes) const {
  fs::path path = fs::path(root()) / relative;
  fs::create_directories(path.parent_path());
  test::WriteFile(path.string(), bytes);
}

std::string ReferenceServerProcess::ReadFile(const std::string& relative) const {
  return test::ReadFile(root() + "/" + relative);
}

bool ReferenceServerProcess::Start(std::string* error) {
  if (process_.Running()) return true;
  const std::string portFile = dir_.File("port");
  fs::remove(portFile);
  // The server writes the port file by renaming, so it is whole once seen.
  return Launch(
      {HHCTL_BIN, "serve", "--root", root(), "--port", "0", "--port-file", portFile, "--log",
       logPath()},
      [&] {
        std::string text = test::ReadFile(portFile);
        if (!text.empty()) port_ = static_cast<uint16_t>(std::stoul(text));
        return !text.empty();
      },
      error);
}

std::string ReferenceServerProcess::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<nlohmann::json> ReferenceServerProcess::RequestLog() const {
  std::vector<nlohmann::json> lines;
  std::istringstream in(test::ReadFile(logPath()));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

bool TinyproxyProcess::Available() { return ::access(kBinary, X_OK) == 0; }

bool TinyproxyProcess::Start(std::string* error) {
  if (process_.Running()) return true;
  // The free port may be taken by someone else before tinyproxy binds it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    const std::string config = dir_.File("tinyproxy.conf");
    test::WriteFile(config, "Port " + std::to_string(port_) +
                                "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                "Allow 127.0.0.1\nBasicAuth " +
                                user_ + " " + password_ + "\nLogLevel Error\nLogFile \"" +
                                dir_.File("tinyproxy.log") + "\"\nPidFile \"" +
                                dir_.File("tinyproxy.pid") + "\"\n");
    if (Launch(
            {kBinary, "-d", "-c", config}, [this] { return Accepts(port_); }, error)) {
      return true;
    }
  }
  return false;
}

}  // namespace hhsync::test
