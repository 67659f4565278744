#include "support/processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace hhsync::test {
namespace {

namespace fs = std::filesystem;

// Starts argv with empty standard input, standard output appended to
// outPath and standard error to errPath (the same file when equal). The
// process id, or -1 with *error filled.
pid_t Spawn(const std::vector<std::string>& argv, char* const* env, const std::string& outPath,
            const std::string& errPath, std::string* error) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (errPath == outPath) {
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&fa);
  if (rc == 0) return pid;
  if (error) *error = "cannot start " + argv[0] + ": " + std::strerror(rc);
  return -1;
}

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

// The test's environment without any HHSYNC_ variable and without those
// that env sets, followed by env.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& env) {
  auto nameOf = [](const std::string& item) { return item.substr(0, item.find('=')); };
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    const std::string item = *e;
    if (item.rfind("HHSYNC_", 0) == 0) continue;
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return nameOf(mine) == nameOf(item);
    });
    if (!replaced) envs.push_back(item);
  }
  envs.insert(envs.end(), env.begin(), env.end());
  return envs;
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     double killAfterMs) {
  ChildProcess child;
  RunResult r;
  if (!child.Start(argv, env)) return r;
  if (killAfterMs >= 0) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(static_cast<int64_t>(killAfterMs * 1000));
    while (child.Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (child.Running()) {
      child.Kill();
      r.killed = true;
    }
  }
  child.Wait(-1, &r);
  // A program that ended on its own just before the kill counts as ended.
  if (r.killed && r.exitCode >= 0) r.killed = false;
  return r;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    Reap(true);
  }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::string* error) {
  std::vector<std::string> envs = ChildEnvironment(env);
  std::vector<char*> cenv;
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  pid_ = Spawn(argv, cenv.data(), scratch_.File("out"), scratch_.File("err"), error);
  ended_ = false;
  return pid_ > 0;
}

bool ChildProcess::Reap(bool block) {
  if (ended_) return true;
  for (;;) {
    const pid_t got = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
    if (got < 0 && errno == EINTR) continue;
    if (got == pid_ || got < 0) ended_ = true;
    return ended_;
  }
}

bool ChildProcess::Running() { return pid_ > 0 && !Reap(false); }

void ChildProcess::Kill() {
  if (Running()) ::kill(pid_, SIGKILL);
}

bool ChildProcess::Wait(int timeoutMs, RunResult* result) {
  if (pid_ <= 0) return false;
  if (timeoutMs < 0) {
    Reap(true);
  } else {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Reap(false) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!ended_) return false;
  result->exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  result->out = test::ReadFile(scratch_.File("out"));
  result->err = test::ReadFile(scratch_.File("err"));
  return true;
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, stopSignal_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const pid_t got = ::waitpid(pid_, nullptr, WNOHANG);
    if (got == pid_ || (got < 0 && errno != EINTR)) break;
    if (got == 0 && std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

bool ServerProcess::Launch(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                           std::string* error, const std::string& stdoutPath) {
  const std::string output = dir_.File("output");
  pid_ = Spawn(argv, environ, stdoutPath.empty() ? output : stdoutPath, output, error);
  if (pid_ <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != 0) {
      pid_ = -1;
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
  if (pid_ > 0) return true;
  const std::string portFile = dir_.File("port");
  fs::remove(portFile);
  // The server writes the port file by renaming, so it is whole once seen.
  return Launch(
      {HHCTL_BIN, "serve", "--root", root(), "--port", "0", "--port-file", portFile, "--log",
       dir_.File("requests.log")},
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
  std::istringstream in(test::ReadFile(dir_.File("requests.log")));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

bool TinyproxyProcess::Available() { return ::access(kBinary, X_OK) == 0; }

bool TinyproxyProcess::Start(std::string* error) {
  if (pid_ > 0) return true;
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
